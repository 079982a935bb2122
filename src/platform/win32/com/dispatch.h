// Late binding: calls by member name on an IDispatch, the way a late-bound
// caller makes them (property get/put, methods, named arguments, the default
// member), with each failed call turned into a Failure.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/com/com_ptr.h"

namespace vi2zezir::com {

// Member and parameter DISPIDs of one kind of object of one server. Shared by
// every object of that kind, so a name costs one GetIDsOfNames however many
// cells or line items are asked.
struct NameCache {
    std::map<std::u16string, std::vector<DISPID>, std::less<>> ids;
};

struct NamedArg {
    std::u16string_view name;
    Variant value;
};

// Argument lists are given in the caller's order; Invoke's reversal is done here.
using Args = std::vector<Variant>;

// The locale of calls that pass none; calls the spreadsheet must read the
// U.S. way pass kUsEnglish.
inline constexpr LCID kUserLocale = LOCALE_USER_DEFAULT;
inline constexpr LCID kUsEnglish = 1033;

class Dispatch {
public:
    // kind names the object in failure sources ("Range", "ItemFunctions").
    Dispatch(ComPtr<IDispatch> object, std::shared_ptr<NameCache> cache, std::string kind);

    Variant Get(std::u16string_view member, Args args = {}, LCID lcid = kUserLocale);
    void Put(std::u16string_view member, Variant value, LCID lcid = kUserLocale);
    Variant Call(std::u16string_view member, Args args = {}, std::vector<NamedArg> named = {}, LCID lcid = kUserLocale);
    // object(args): the default member (DISPID_VALUE), as Workbooks(1) is.
    Variant Default(Args args, LCID lcid = kUserLocale);

    IDispatch* Object() const noexcept { return object_.Get(); }
    const std::string& Kind() const noexcept { return kind_; }

private:
    std::vector<DISPID> Ids(std::u16string_view member, const std::vector<NamedArg>& named);
    Variant Invoke(DISPID id, WORD flags, Args& args, std::vector<NamedArg>& named, const std::vector<DISPID>& namedIds,
                   LCID lcid, std::u16string_view member);

    ComPtr<IDispatch> object_;
    std::shared_ptr<NameCache> cache_;
    std::string kind_;
};

// Failure 424 "Object required": a call gave no object where one is needed.
[[noreturn]] void ObjectRequired(const char* source);
[[noreturn]] inline void ObjectRequired(const std::string& source) { ObjectRequired(source.c_str()); }

// The object a call returned: null for Nothing (an empty or null result),
// failure 424 "Object required" for a result that is no object.
ComPtr<IDispatch> ObjectOf(Variant& result, const char* source);

} // namespace vi2zezir::com
