// The server side of late binding, for the stand-in automation servers: an
// IDispatch written by hand over a table of members, so no type library is
// needed. Names are matched without regard to case, parameters are found by
// position or by name, omitted ones are told apart, and a Failure thrown by a
// member leaves as DISP_E_EXCEPTION with EXCEPINFO.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win32/com/com_ptr.h"
#include "servers/value.h"

namespace vi2zezir::com {

// The arguments of one call, by parameter position.
class InvokeArgs {
public:
    InvokeArgs(std::vector<VARIANT*> byPosition, VARIANT* putValue)
        : byPosition_(std::move(byPosition)), putValue_(putValue) {}

    // False for a parameter not passed (or passed as the "missing" marker).
    bool Has(std::size_t index) const;
    // The raw argument; by-reference ones can be written back through it.
    VARIANT* Raw(std::size_t index) const;
    // Typed reads with the usual coercions; a missing argument is failure 449.
    Value ValueAt(std::size_t index) const;
    std::u16string Text(std::size_t index) const;
    std::int16_t Int16(std::size_t index) const;
    std::int32_t Int32(std::size_t index) const;
    bool Boolean(std::size_t index) const;
    // The value of a property put.
    const VARIANT& PutValue() const { return *putValue_; }

private:
    std::vector<VARIANT*> byPosition_;
    VARIANT* putValue_;
};

struct Member {
    std::u16string name;
    std::vector<std::u16string> parameters;
    // Property get or method; empty when the member is put-only.
    std::function<Variant(InvokeArgs&)> get;
    // Property put; empty when the member cannot be assigned.
    std::function<void(InvokeArgs&)> put;
    // The object's default member (DISPID_VALUE), as Item of a collection.
    bool isDefault = false;
};

using Getter = std::function<Variant(InvokeArgs&)>;
using Setter = std::function<void(InvokeArgs&)>;

inline Member Method(std::u16string name, std::vector<std::u16string> parameters, Getter call) {
    Member m;
    m.name = std::move(name);
    m.parameters = std::move(parameters);
    m.get = std::move(call);
    return m;
}
// The default member (DISPID_VALUE): obj(args) calls it.
inline Member DefaultMethod(std::u16string name, std::vector<std::u16string> parameters, Getter call) {
    Member m = Method(std::move(name), std::move(parameters), std::move(call));
    m.isDefault = true;
    return m;
}
inline Member Property(std::u16string name, Getter get, Setter put = {}) {
    Member m;
    m.name = std::move(name);
    m.get = std::move(get);
    m.put = std::move(put);
    return m;
}
inline Member PutOnlyProperty(std::u16string name, Setter put) { return Property(std::move(name), {}, std::move(put)); }

class DispatchObject : public IDispatch {
public:
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* argErr) override;

    // Counts the server's live objects, so a local server knows when its
    // last client has gone. The callback runs when the count drops to zero.
    static LONG LiveObjects();
    static void OnLastObjectGone(std::function<void()> callback);

protected:
    // serverName appears as the EXCEPINFO source of failures.
    explicit DispatchObject(std::wstring serverName);
    virtual ~DispatchObject();
    void AddMember(Member member);

private:
    const Member* FindMember(DISPID id) const;

    LONG refs_ = 1;
    std::wstring serverName_;
    std::vector<Member> members_;
};

// A new object handed out as a fresh reference: make<T>(...) then Wrap.
template <class T, class... A>
ComPtr<IDispatch> MakeDispatch(A&&... args) {
    return ComPtr<IDispatch>::Attach(new T(std::forward<A>(args)...));
}

// Case-insensitive name comparison as automation does it.
bool SameName(std::u16string_view a, const wchar_t* b);

} // namespace vi2zezir::com
