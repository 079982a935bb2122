#include "platform/win32/com/dispatch.h"

#include "base/failure.h"
#include "base/utf.h"
#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {

Dispatch::Dispatch(ComPtr<IDispatch> object, std::shared_ptr<NameCache> cache, std::string kind)
    : object_(std::move(object)),
      cache_(cache ? std::move(cache) : std::make_shared<NameCache>()),
      kind_(std::move(kind)) {
    if (!object_) ObjectRequired(kind_);
}

std::vector<DISPID> Dispatch::Ids(std::u16string_view member, const std::vector<NamedArg>& named) {
    // The key holds the parameter names too: they are looked up with the
    // member in one call, as their DISPIDs only mean something together.
    std::u16string key(member);
    for (const NamedArg& arg : named) {
        key += u'\x1F';
        key += arg.name;
    }
    if (auto found = cache_->ids.find(key); found != cache_->ids.end()) return found->second;

    std::vector<std::wstring> names;
    names.push_back(ToWide(member));
    for (const NamedArg& arg : named) names.push_back(ToWide(arg.name));
    std::vector<LPOLESTR> pointers;
    for (std::wstring& n : names) pointers.push_back(n.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr =
        object_->GetIDsOfNames(IID_NULL, pointers.data(), static_cast<UINT>(pointers.size()), kUserLocale, ids.data());
    if (FAILED(hr)) throw FailureFromHresult(hr, nullptr, kind_ + "." + text::ToUtf8(member));
    cache_->ids.emplace(std::move(key), ids);
    return ids;
}

Variant Dispatch::Invoke(DISPID id, WORD flags, Args& args, std::vector<NamedArg>& named,
                         const std::vector<DISPID>& namedIds, LCID lcid, std::u16string_view member) {
    // rgvarg: named arguments first (matching rgdispidNamedArgs), then the
    // positional ones last to first. The VARIANTs stay owned by args/named.
    std::vector<VARIANT> rgvarg;
    rgvarg.reserve(args.size() + named.size());
    for (NamedArg& arg : named) rgvarg.push_back(*arg.value.Get());
    for (auto it = args.rbegin(); it != args.rend(); ++it) rgvarg.push_back(*it->Get());
    std::vector<DISPID> ids = namedIds;

    DISPPARAMS params{};
    params.rgvarg = rgvarg.empty() ? nullptr : rgvarg.data();
    params.cArgs = static_cast<UINT>(rgvarg.size());
    params.rgdispidNamedArgs = ids.empty() ? nullptr : ids.data();
    params.cNamedArgs = static_cast<UINT>(ids.size());

    Variant result;
    EXCEPINFO info{};
    UINT argErr = 0;
    HRESULT hr = object_->Invoke(id, IID_NULL, lcid, flags, &params,
                                 (flags & DISPATCH_PROPERTYPUT) ? nullptr : result.Put(), &info, &argErr);
    if (FAILED(hr)) throw FailureFromHresult(hr, &info, kind_ + "." + text::ToUtf8(member));
    return result;
}

Variant Dispatch::Get(std::u16string_view member, Args args, LCID lcid) {
    std::vector<NamedArg> none;
    DISPID id = Ids(member, none).front();
    // With arguments a late-bound caller cannot tell a parameterised
    // property from a method, and says so.
    WORD flags = args.empty() ? DISPATCH_PROPERTYGET : (DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    return Invoke(id, flags, args, none, {}, lcid, member);
}

void Dispatch::Put(std::u16string_view member, Variant value, LCID lcid) {
    std::vector<NamedArg> none;
    DISPID id = Ids(member, none).front();
    Args args;
    std::vector<NamedArg> named;
    named.push_back(NamedArg{u"", std::move(value)});
    Invoke(id, DISPATCH_PROPERTYPUT, args, named, {DISPID_PROPERTYPUT}, lcid, member);
}

Variant Dispatch::Call(std::u16string_view member, Args args, std::vector<NamedArg> named, LCID lcid) {
    std::vector<DISPID> ids = Ids(member, named);
    DISPID id = ids.front();
    ids.erase(ids.begin());
    return Invoke(id, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, named, ids, lcid, member);
}

Variant Dispatch::Default(Args args, LCID lcid) {
    std::vector<NamedArg> none;
    return Invoke(DISPID_VALUE, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, none, {}, lcid, u"Item");
}

void ObjectRequired(const char* source) { throw Failure(kObjectRequired, source); }

ComPtr<IDispatch> ObjectOf(Variant& result, const char* source) {
    VARIANT* v = result.Get();
    switch (V_VT(v)) {
    case VT_EMPTY:
    case VT_NULL: return {};
    case VT_DISPATCH: return ComPtr<IDispatch>(V_DISPATCH(v));
    case VT_UNKNOWN:
        if (!V_UNKNOWN(v)) return {};
        if (auto object = ComPtr<IUnknown>(V_UNKNOWN(v)).Query<IDispatch>()) return object;
        break;
    default: break;
    }
    ObjectRequired(source);
}

} // namespace vi2zezir::com
