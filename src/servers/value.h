// What a late-bound automation call carries: the VARIANT subset the two
// servers exchange with us. Conversions to text live in one place (ToText).
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace vi2zezir {

struct Null {
    friend bool operator==(Null, Null) = default;
};

// Automation currency: a 64-bit integer scaled by 10,000 (four decimals).
struct Currency {
    std::int64_t scaled = 0;
    friend bool operator==(Currency, Currency) = default;
};

// Automation date: days since 30 December 1899, the fraction is the time of day.
struct Date {
    double serial = 0;
    friend bool operator==(Date, Date) = default;
};

class Value {
public:
    enum class Kind { Empty, Null, Boolean, Int16, Int32, Double, Currency, Date, Text };

    Value() = default;
    Value(Null) : v_(Null{}) {}
    Value(bool b) : v_(b) {}
    Value(std::int16_t i) : v_(i) {}
    Value(std::int32_t i) : v_(i) {}
    Value(double d) : v_(d) {}
    Value(Currency c) : v_(c) {}
    Value(Date d) : v_(d) {}
    Value(std::u16string s) : v_(std::move(s)) {}
    Value(const char16_t* s) : v_(std::u16string(s)) {}
    // A narrow or wide literal would otherwise become Boolean True through
    // the pointer-to-bool conversion; texts are UTF-16 (u"...").
    Value(const char*) = delete;
    Value(const wchar_t*) = delete;

    Kind GetKind() const noexcept { return static_cast<Kind>(v_.index()); }
    bool IsEmpty() const noexcept { return GetKind() == Kind::Empty; }
    bool IsNull() const noexcept { return GetKind() == Kind::Null; }
    bool IsText() const noexcept { return GetKind() == Kind::Text; }

    bool AsBoolean() const { return std::get<bool>(v_); }
    std::int16_t AsInt16() const { return std::get<std::int16_t>(v_); }
    std::int32_t AsInt32() const { return std::get<std::int32_t>(v_); }
    double AsDouble() const { return std::get<double>(v_); }
    Currency AsCurrency() const { return std::get<Currency>(v_); }
    Date AsDate() const { return std::get<Date>(v_); }
    const std::u16string& AsText() const { return std::get<std::u16string>(v_); }

    friend bool operator==(const Value&, const Value&) = default;

private:
    std::variant<std::monostate, Null, bool, std::int16_t, std::int32_t, double, Currency, Date, std::u16string> v_;
};

// The ordinary late-bound conversion to text: integers in decimal; doubles with
// up to 15 significant digits ("1E+20", "0.0001", "1E-05"); currency with up to
// four decimals; dates as U.S. short date with the time when it is not
// midnight; "True"/"False"; empty gives "". Null throws failure 94.
std::u16string ToText(const Value& value);

// The value as a number, as a late-bound comparison with a number takes it:
// numbers as they are, booleans -1/0, empty 0, numeric text parsed (U.S.
// rules). Returns false for null (a comparison with null is never true).
// Text that is not a number throws failure 13 "Type mismatch".
bool ToNumber(const Value& value, double& number);

// Reads U.S. number text ("1,234.5", " -2E3 "), as a conversion of text to a
// number accepts it; false for anything else.
bool TryParseNumber(std::u16string_view text, double& number);

// Integer conversions for 16-bit counters: rounds half to even as the
// automation coercion does; outside -32,768..32,767 throws failure 6.
std::int16_t ToInt16(const Value& value);

// A short name of the kind, for messages ("Text", "Double", ...).
const char* KindName(Value::Kind kind);

} // namespace vi2zezir
