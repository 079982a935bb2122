#include "platform/win32/com/com_ptr.h"

#include <new>

#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {

Bstr::Bstr(std::u16string_view text) {
    if (text.size() > 0x7FFFFFFFu) throw std::bad_alloc();
    b_ = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    if (!b_) throw std::bad_alloc();
}

Variant::Variant(const Variant& other) {
    VariantInit(&v_);
    ThrowIfFailed(VariantCopy(&v_, const_cast<VARIANT*>(&other.v_)), "VariantCopy");
}

Variant& Variant::operator=(const Variant& other) {
    if (this != &other) {
        Variant copy(other);
        std::swap(v_, copy.v_);
    }
    return *this;
}

Variant Variant::Int16(SHORT value) noexcept {
    Variant r;
    V_VT(&r.v_) = VT_I2;
    V_I2(&r.v_) = value;
    return r;
}

Variant Variant::Int32(LONG value) noexcept {
    Variant r;
    V_VT(&r.v_) = VT_I4;
    V_I4(&r.v_) = value;
    return r;
}

Variant Variant::Boolean(bool value) noexcept {
    Variant r;
    V_VT(&r.v_) = VT_BOOL;
    V_BOOL(&r.v_) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return r;
}

Variant Variant::Text(std::u16string_view text) {
    Bstr b(text);
    Variant r;
    V_VT(&r.v_) = VT_BSTR;
    V_BSTR(&r.v_) = b.Detach();
    return r;
}

Variant Variant::Dispatch(ComPtr<IDispatch> object) noexcept {
    Variant r;
    V_VT(&r.v_) = VT_DISPATCH;
    V_DISPATCH(&r.v_) = object.Detach();
    return r;
}

} // namespace vi2zezir::com
