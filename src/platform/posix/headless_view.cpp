#include "platform/posix/headless_view.h"

#include "base/utf.h"

namespace vi2zezir::posix {

void HeadlessView::SetStatusText(const std::u16string& text) {
    status_ = text;
    // The clearing before hand-over is a status change too, but an empty line
    // tells a reader nothing.
    if (text.empty()) return;
    std::fputs(text::ToUtf8(text).c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

} // namespace vi2zezir::posix
