// Counted COM references, BSTRs and VARIANTs as values that clean up after
// themselves, so no early return or thrown Failure leaks a server reference
// (a leaked reference keeps a spreadsheet process alive).
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>
#include <utility>

namespace vi2zezir::com {

template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    // Takes a new reference of its own.
    explicit ComPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { Reset(); }

    // Adopts a reference the caller already owns (an out-parameter's).
    static ComPtr Attach(T* p) noexcept {
        ComPtr r;
        r.p_ = p;
        return r;
    }

    void Reset() noexcept {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // For out-parameters: drops what is held and hands out the slot.
    T** Put() noexcept {
        Reset();
        return &p_;
    }
    void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
    T* Detach() noexcept { return std::exchange(p_, nullptr); }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    template <class U>
    ComPtr<U> Query() const noexcept {
        ComPtr<U> result;
        if (p_) p_->QueryInterface(__uuidof(U), result.PutVoid());
        return result;
    }

private:
    T* p_ = nullptr;
};

// Windows' wchar_t is the same 16-bit code unit as char16_t.
inline std::wstring ToWide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }
inline std::u16string FromWide(std::wstring_view text) { return std::u16string(text.begin(), text.end()); }
inline std::u16string FromWide(const wchar_t* text, std::size_t length) { return std::u16string(text, text + length); }

class Bstr {
public:
    Bstr() noexcept = default;
    explicit Bstr(std::u16string_view text);
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : b_(std::exchange(other.b_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept {
        std::swap(b_, other.b_);
        return *this;
    }
    ~Bstr() { SysFreeString(b_); }

    BSTR Get() const noexcept { return b_; }
    BSTR* Put() noexcept {
        SysFreeString(std::exchange(b_, nullptr));
        return &b_;
    }
    BSTR Detach() noexcept { return std::exchange(b_, nullptr); }
    // The BSTR itself, for a by-reference argument the callee may replace.
    BSTR* Slot() noexcept { return &b_; }
    // A null BSTR is the empty text, as automation treats it.
    std::u16string Text() const { return b_ ? FromWide(b_, SysStringLen(b_)) : std::u16string(); }

private:
    BSTR b_ = nullptr;
};

class Variant {
public:
    Variant() noexcept { VariantInit(&v_); }
    Variant(const Variant& other);
    Variant& operator=(const Variant& other);
    Variant(Variant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant& operator=(Variant&& other) noexcept {
        std::swap(v_, other.v_);
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    static Variant Int16(SHORT value) noexcept;
    static Variant Int32(LONG value) noexcept;
    static Variant Boolean(bool value) noexcept;
    static Variant Text(std::u16string_view text);
    // Takes over a reference the caller owns.
    static Variant Dispatch(ComPtr<IDispatch> object) noexcept;

    VARIANT* Get() noexcept { return &v_; }
    const VARIANT* Get() const noexcept { return &v_; }
    VARTYPE Type() const noexcept { return V_VT(&v_); }
    // For out-parameters (an Invoke result): clears first.
    VARIANT* Put() noexcept {
        VariantClear(&v_);
        return &v_;
    }
    VARIANT Detach() noexcept {
        VARIANT r = v_;
        VariantInit(&v_);
        return r;
    }

private:
    VARIANT v_;
};

} // namespace vi2zezir::com
