#include "platform/win32/com/variant_value.h"

#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {

Variant ToVariant(const Value& value) {
    Variant r;
    VARIANT* v = r.Get();
    switch (value.GetKind()) {
    case Value::Kind::Empty: break;
    case Value::Kind::Null: V_VT(v) = VT_NULL; break;
    case Value::Kind::Boolean: return Variant::Boolean(value.AsBoolean());
    case Value::Kind::Int16: return Variant::Int16(value.AsInt16());
    case Value::Kind::Int32: return Variant::Int32(value.AsInt32());
    case Value::Kind::Double:
        V_VT(v) = VT_R8;
        V_R8(v) = value.AsDouble();
        break;
    case Value::Kind::Currency:
        V_VT(v) = VT_CY;
        V_CY(v).int64 = value.AsCurrency().scaled;
        break;
    case Value::Kind::Date:
        V_VT(v) = VT_DATE;
        V_DATE(v) = value.AsDate().serial;
        break;
    case Value::Kind::Text: return Variant::Text(value.AsText());
    }
    return r;
}

namespace {

// The headers declare the source non-const; VariantChangeTypeEx never writes it.
VARIANT* Source(const VARIANT& v) { return const_cast<VARIANT*>(&v); }

Value Coerced(const VARIANT& variant, VARTYPE to) {
    Variant converted;
    if (FAILED(VariantChangeTypeEx(converted.Get(), Source(variant), 1033, 0, to))) return Value(Null{});
    return FromVariant(*converted.Get());
}

} // namespace

Value FromVariant(const VARIANT& variant) {
    VARTYPE vt = V_VT(&variant);
    if (vt & VT_BYREF) {
        Variant direct;
        ThrowIfFailed(VariantCopyInd(direct.Get(), Source(variant)), "VariantCopyInd");
        return FromVariant(*direct.Get());
    }
    switch (vt) {
    case VT_EMPTY: return Value();
    case VT_NULL: return Value(Null{});
    case VT_BOOL: return Value(V_BOOL(&variant) != VARIANT_FALSE);
    case VT_I2: return Value(static_cast<std::int16_t>(V_I2(&variant)));
    case VT_I4: return Value(static_cast<std::int32_t>(V_I4(&variant)));
    case VT_R8: return Value(V_R8(&variant));
    case VT_R4: return Value(static_cast<double>(V_R4(&variant)));
    case VT_CY: return Value(Currency{V_CY(&variant).int64});
    case VT_DATE: return Value(Date{V_DATE(&variant)});
    case VT_BSTR: {
        BSTR b = V_BSTR(&variant);
        return Value(b ? FromWide(b, SysStringLen(b)) : std::u16string());
    }
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_INT: return Coerced(variant, VT_I4);
    case VT_UI4:
    case VT_UINT:
    case VT_I8:
    case VT_UI8: {
        Variant asInt;
        if (SUCCEEDED(VariantChangeTypeEx(asInt.Get(), Source(variant), 1033, 0, VT_I4)))
            return FromVariant(*asInt.Get());
        return Coerced(variant, VT_R8);
    }
    default: break;
    }
    Variant asText;
    if (FAILED(VariantChangeTypeEx(asText.Get(), Source(variant), 1033, 0, VT_BSTR)))
        throw Failure(kTypeMismatch, "VARIANT");
    return FromVariant(*asText.Get());
}

} // namespace vi2zezir::com
