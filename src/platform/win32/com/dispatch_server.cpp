#include "platform/win32/com/dispatch_server.h"

#include <new>

#include "platform/win32/com/com_failure.h"
#include "platform/win32/com/variant_value.h"

namespace vi2zezir::com {
namespace {

LONG g_liveObjects = 0;
std::function<void()>& LastObjectCallback() {
    static std::function<void()> callback;
    return callback;
}

bool IsMissing(const VARIANT* v) { return !v || (V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND); }

[[noreturn]] void ArgumentNotOptional() { throw Failure(kArgumentNotOptional, "DispatchObject"); }

} // namespace

bool SameName(std::u16string_view a, const wchar_t* b) {
    int length = lstrlenW(b);
    if (static_cast<std::size_t>(length) != a.size()) return false;
    return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), length, b, length, TRUE) == CSTR_EQUAL;
}

bool InvokeArgs::Has(std::size_t index) const { return index < byPosition_.size() && !IsMissing(byPosition_[index]); }

VARIANT* InvokeArgs::Raw(std::size_t index) const {
    if (!Has(index)) ArgumentNotOptional();
    return byPosition_[index];
}

Value InvokeArgs::ValueAt(std::size_t index) const { return FromVariant(*Raw(index)); }

std::u16string InvokeArgs::Text(std::size_t index) const { return ToText(ValueAt(index)); }

std::int16_t InvokeArgs::Int16(std::size_t index) const { return ToInt16(ValueAt(index)); }

std::int32_t InvokeArgs::Int32(std::size_t index) const {
    Variant converted;
    HRESULT hr = VariantChangeTypeEx(converted.Get(), Raw(index), 1033, 0, VT_I4);
    if (hr == DISP_E_OVERFLOW) throw Failure(kOverflow, "DispatchObject");
    if (FAILED(hr)) throw Failure(kTypeMismatch, "DispatchObject");
    return V_I4(converted.Get());
}

bool InvokeArgs::Boolean(std::size_t index) const {
    Variant converted;
    if (FAILED(VariantChangeTypeEx(converted.Get(), Raw(index), 1033, 0, VT_BOOL)))
        throw Failure(kTypeMismatch, "DispatchObject");
    return V_BOOL(converted.Get()) != VARIANT_FALSE;
}

DispatchObject::DispatchObject(std::wstring serverName) : serverName_(std::move(serverName)) {
    InterlockedIncrement(&g_liveObjects);
}

DispatchObject::~DispatchObject() {
    if (InterlockedDecrement(&g_liveObjects) == 0 && LastObjectCallback()) LastObjectCallback()();
}

LONG DispatchObject::LiveObjects() { return g_liveObjects; }

void DispatchObject::OnLastObjectGone(std::function<void()> callback) { LastObjectCallback() = std::move(callback); }

void DispatchObject::AddMember(Member member) { members_.push_back(std::move(member)); }

const Member* DispatchObject::FindMember(DISPID id) const {
    if (id == DISPID_VALUE) {
        for (const Member& m : members_) {
            if (m.isDefault) return &m;
        }
        return nullptr;
    }
    if (id >= 1 && static_cast<std::size_t>(id) <= members_.size()) return &members_[id - 1];
    return nullptr;
}

HRESULT DispatchObject::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG DispatchObject::AddRef() { return InterlockedIncrement(&refs_); }

ULONG DispatchObject::Release() {
    LONG r = InterlockedDecrement(&refs_);
    if (r == 0) delete this;
    return r;
}

HRESULT DispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const Member* member = nullptr;
    for (std::size_t m = 0; m < members_.size(); ++m) {
        if (SameName(members_[m].name, names[0])) {
            member = &members_[m];
            ids[0] = members_[m].isDefault ? DISPID_VALUE : static_cast<DISPID>(m + 1);
            break;
        }
    }
    if (!member) return DISP_E_UNKNOWNNAME;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        for (std::size_t p = 0; p < member->parameters.size(); ++p) {
            if (SameName(member->parameters[p], names[i])) ids[i] = static_cast<DISPID>(p);
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* info, UINT* argErr) {
    const Member* member = FindMember(id);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    DISPPARAMS none{};
    if (!params) params = &none;
    if (params->cNamedArgs > params->cArgs) return E_INVALIDARG;

    try {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
            if (!member->put) return DISP_E_MEMBERNOTFOUND;
            if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || params->cArgs != 1) {
                return DISP_E_BADPARAMCOUNT;
            }
            InvokeArgs args({}, &params->rgvarg[0]);
            member->put(args);
            return S_OK;
        }
        if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) || !member->get) return DISP_E_MEMBERNOTFOUND;

        std::vector<VARIANT*> byPosition(member->parameters.size(), nullptr);
        UINT positional = params->cArgs - params->cNamedArgs;
        if (positional > byPosition.size()) return DISP_E_BADPARAMCOUNT;
        for (UINT i = 0; i < params->cNamedArgs; ++i) {
            DISPID p = params->rgdispidNamedArgs[i];
            if (p < 0 || static_cast<std::size_t>(p) >= byPosition.size() || byPosition[p]) {
                if (argErr) *argErr = i;
                return DISP_E_PARAMNOTFOUND;
            }
            byPosition[p] = &params->rgvarg[i];
        }
        for (UINT j = 0; j < positional; ++j) {
            VARIANT* arg = &params->rgvarg[params->cArgs - 1 - j];
            if (byPosition[j]) {
                if (argErr) *argErr = params->cArgs - 1 - j;
                return DISP_E_PARAMNOTFOUND;
            }
            byPosition[j] = arg;
        }
        InvokeArgs args(std::move(byPosition), nullptr);
        Variant value = member->get(args);
        if (result) *result = value.Detach();
        return S_OK;
    } catch (const Failure& failure) {
        return ReportFailure(failure, info, serverName_.c_str());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

} // namespace vi2zezir::com
