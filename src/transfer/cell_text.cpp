#include "transfer/cell_text.h"

namespace vi2zezir::transfer {

std::u16string KeepAsText(std::u16string text) {
    if (text.empty()) return text;
    const char16_t first = text.front();
    double number = 0;
    const bool formulaLike =
        first == u'=' || ((first == u'+' || first == u'-' || first == u'@') && !TryParseNumber(text, number));
    return formulaLike ? u"'" + text : text;
}

Value KeepAsText(Value value) {
    if (!value.IsText()) return value;
    return Value(KeepAsText(value.AsText()));
}

} // namespace vi2zezir::transfer
