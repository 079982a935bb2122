// The late-bound COM layer in one process: the client's calls are checked at
// the Invoke level against a recording IDispatch (the shape of each call is
// what a real server sees), and the hand-written server side is driven
// through the client.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/win32/com/automation_clients.h"
#include "platform/win32/com/com_failure.h"
#include "platform/win32/com/dispatch.h"
#include "platform/win32/com/dispatch_server.h"
#include "platform/win32/com/message_filter.h"
#include "platform/win32/com/variant_value.h"
#include "platform/win32/window/program_environment.h"

namespace vi2zezir::com {
namespace {

// One recorded Invoke.
struct Call {
    std::wstring member;
    WORD flags = 0;
    LCID lcid = 0;
    std::vector<VARTYPE> argTypes; // rgvarg order (named first, then last to first)
    std::vector<DISPID> namedIds;
    std::vector<Variant> args; // copies, by-reference ones read through
};

// An IDispatch answering from a table: name -> DISPID, DISPID -> result.
// Every object of a test shares one log so the order of calls is visible.
class RecordingDispatch final : public IDispatch {
public:
    RecordingDispatch(std::vector<Call>& log, std::map<std::wstring, int>& nameLookups)
        : log_(log), nameLookups_(nameLookups) {}

    void Answer(const std::wstring& member, Variant result) { results_[member] = std::move(result); }
    void Fail(const std::wstring& member, HRESULT scode, std::wstring description) {
        failures_[member] = {scode, std::move(description)};
    }
    // The by-reference 16-bit argument of this member is set to this value.
    void WriteBackInt16(const std::wstring& member, SHORT value) { writeBack_[member] = value; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG r = --refs_;
        if (r == 0) delete this;
        return r;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        for (UINT i = 0; i < count; ++i) {
            std::wstring name = names[i];
            ++nameLookups_[name];
            auto [it, added] = ids_.try_emplace(name, static_cast<DISPID>(100 + ids_.size()));
            ids[i] = it->second;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT*) override {
        Call call;
        call.member = id == DISPID_VALUE ? L"<default>" : L"?";
        for (const auto& [name, dispid] : ids_) {
            if (dispid == id) call.member = name;
        }
        call.flags = flags;
        call.lcid = lcid;
        for (UINT i = 0; i < params->cNamedArgs; ++i) call.namedIds.push_back(params->rgdispidNamedArgs[i]);
        for (UINT i = 0; i < params->cArgs; ++i) {
            call.argTypes.push_back(V_VT(&params->rgvarg[i]));
            Variant copy;
            VariantCopyInd(copy.Get(), &params->rgvarg[i]);
            call.args.push_back(std::move(copy));
            if (V_VT(&params->rgvarg[i]) == (VT_BYREF | VT_I2) && writeBack_.count(call.member)) {
                *V_I2REF(&params->rgvarg[i]) = writeBack_[call.member];
            }
        }
        log_.push_back(std::move(call));
        const std::wstring& member = log_.back().member;
        if (auto f = failures_.find(member); f != failures_.end()) {
            *info = EXCEPINFO{};
            info->scode = f->second.first;
            description_ = f->second.second;
            // The description arrives only through the deferred fill-in.
            info->pfnDeferredFillIn = &FillIn;
            return DISP_E_EXCEPTION;
        }
        if (result) {
            if (auto r = results_.find(member); r != results_.end()) VariantCopy(result, r->second.Get());
        }
        return S_OK;
    }

private:
    static HRESULT STDMETHODCALLTYPE FillIn(EXCEPINFO* info) {
        info->bstrDescription = SysAllocString(description_.c_str());
        return S_OK;
    }
    static inline std::wstring description_;

    ULONG refs_ = 1;
    std::vector<Call>& log_;
    std::map<std::wstring, int>& nameLookups_;
    std::map<std::wstring, DISPID> ids_;
    std::map<std::wstring, Variant> results_;
    std::map<std::wstring, std::pair<HRESULT, std::wstring>> failures_;
    std::map<std::wstring, SHORT> writeBack_;
};

class ComTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { CoUninitialize(); }

    ComPtr<IDispatch> NewObject(RecordingDispatch** raw = nullptr) {
        auto* object = new RecordingDispatch(log_, lookups_);
        if (raw) *raw = object;
        return ComPtr<IDispatch>::Attach(object);
    }
    const Call& Last(const std::wstring& member) {
        for (auto it = log_.rbegin(); it != log_.rend(); ++it) {
            if (it->member == member) return *it;
        }
        throw std::runtime_error("no call");
    }

    std::vector<Call> log_;
    std::map<std::wstring, int> lookups_;
};

TEST_F(ComTest, ValuesCrossAsTheirVariantTypesAndBack) {
    const Value values[] = {
        Value(),    Value(Null{}),          Value(true),          Value(std::int16_t{-7}), Value(std::int32_t{70000}),
        Value(2.5), Value(Currency{12345}), Value(Date{46000.5}), Value(u"Ünïcode text")};
    const VARTYPE types[] = {VT_EMPTY, VT_NULL, VT_BOOL, VT_I2, VT_I4, VT_R8, VT_CY, VT_DATE, VT_BSTR};
    for (std::size_t i = 0; i < std::size(values); ++i) {
        Variant v = ToVariant(values[i]);
        EXPECT_EQ(v.Type(), types[i]);
        EXPECT_EQ(FromVariant(*v.Get()), values[i]);
    }
    EXPECT_EQ(V_BOOL(ToVariant(Value(true)).Get()), VARIANT_TRUE);
}

TEST_F(ComTest, OtherVariantTypesAreCoercedOrAreATypeMismatch) {
    Variant byte;
    V_VT(byte.Get()) = VT_UI1;
    V_UI1(byte.Get()) = 200;
    EXPECT_EQ(FromVariant(*byte.Get()), Value(std::int32_t{200}));

    Variant big;
    V_VT(big.Get()) = VT_I8;
    V_I8(big.Get()) = 1LL << 40;
    EXPECT_EQ(FromVariant(*big.Get()), Value(static_cast<double>(1LL << 40)));

    SHORT referenced = 42;
    Variant byRef;
    V_VT(byRef.Get()) = VT_BYREF | VT_I2;
    V_I2REF(byRef.Get()) = &referenced;
    EXPECT_EQ(FromVariant(*byRef.Get()), Value(std::int16_t{42}));

    Variant error;
    V_VT(error.Get()) = VT_ERROR;
    V_ERROR(error.Get()) = DISP_E_PARAMNOTFOUND;
    try {
        FromVariant(*error.Get());
        FAIL() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.Code(), 13);
    }
}

TEST_F(ComTest, FailureCodesFollowTheLateBoundRules) {
    EXCEPINFO info{};
    info.wCode = 1004;
    EXPECT_EQ(AutomationCode(DISP_E_EXCEPTION, &info), 1004);
    info = EXCEPINFO{};
    info.scode = static_cast<HRESULT>(0x800A03EC);
    EXPECT_EQ(AutomationCode(DISP_E_EXCEPTION, &info), 1004);
    EXPECT_EQ(AutomationCode(DISP_E_TYPEMISMATCH, nullptr), 13);
    EXPECT_EQ(AutomationCode(E_FAIL, nullptr), static_cast<std::int32_t>(E_FAIL));
    Failure f = FailureFromHresult(E_FAIL, nullptr, "x");
    EXPECT_FALSE(f.Description().empty()); // the system's message
}

TEST_F(ComTest, AServersFailureRoundTripsThroughExcepinfo) {
    for (std::int32_t code : {94, 1004, static_cast<std::int32_t>(0x80004005)}) {
        EXCEPINFO info{};
        HRESULT hr = ReportFailure(Failure(code, u"what went wrong"), &info, L"Server");
        ASSERT_EQ(hr, DISP_E_EXCEPTION);
        Failure back = FailureFromHresult(hr, &info, "call");
        EXPECT_EQ(back.Code(), code);
        EXPECT_EQ(back.Description(), u"what went wrong");
        EXPECT_EQ(info.bstrDescription, nullptr); // freed
    }
}

TEST_F(ComTest, BusyServersAreRetriedForABoundedTime) {
    EXPECT_EQ(RetryDelay(SERVERCALL_RETRYLATER, 0, 30000), 250u);
    EXPECT_EQ(RetryDelay(SERVERCALL_RETRYLATER, 30000, 30000), static_cast<DWORD>(-1));
    EXPECT_EQ(RetryDelay(SERVERCALL_REJECTED, 0, 30000), static_cast<DWORD>(-1));
}

TEST_F(ComTest, SpreadsheetCallsHaveTheShapesExcelIsDrivenWith) {
    RecordingDispatch *app, *books, *book, *sheets, *sheet, *range;
    ComPtr<IDispatch> appObject = NewObject(&app), booksObject = NewObject(&books), bookObject = NewObject(&book),
                      sheetsObject = NewObject(&sheets), sheetObject = NewObject(&sheet),
                      rangeObject = NewObject(&range);
    app->Answer(L"Workbooks", Variant::Dispatch(booksObject));
    books->Answer(L"Open", Variant::Dispatch(bookObject));
    books->Answer(L"<default>", Variant::Dispatch(bookObject));
    book->Answer(L"Worksheets", Variant::Dispatch(sheetsObject));
    sheets->Answer(L"<default>", Variant::Dispatch(sheetObject));
    sheet->Answer(L"Range", Variant::Dispatch(rangeObject));

    auto application = WrapSheetApplication(appObject);
    auto workbooks = application->Workbooks();
    workbooks->Open(u"C:\\t\\quote40.xls", true);
    const Call& open = Last(L"Open");
    EXPECT_EQ(open.lcid, 1033u);
    ASSERT_EQ(open.argTypes, (std::vector<VARTYPE>{VT_BOOL, VT_BSTR})); // ReadOnly named, Filename positional
    ASSERT_EQ(open.namedIds.size(), 1u);
    EXPECT_EQ(V_BOOL(open.args[0].Get()), VARIANT_TRUE);
    EXPECT_EQ(lookups_[L"ReadOnly"], 1);

    auto worksheet = workbooks->Item(1)->Worksheets(1);
    const Call& item = log_[log_.size() - 3];
    EXPECT_EQ(item.member, L"<default>");
    EXPECT_EQ(item.argTypes, std::vector<VARTYPE>{VT_I2});
    EXPECT_EQ(Last(L"Worksheets").argTypes.size(), 0u);
    EXPECT_EQ(log_.back().member, L"<default>");
    EXPECT_EQ(log_.back().argTypes, std::vector<VARTYPE>{VT_I2});
    EXPECT_EQ(V_I2(log_.back().args[0].Get()), 1);

    auto cell = worksheet->Range(u"C12");
    cell->Insert(sheet::xlDown);
    const Call& insert = Last(L"Insert");
    EXPECT_EQ(insert.argTypes, std::vector<VARTYPE>{VT_I4});
    EXPECT_EQ(V_I4(insert.args[0].Get()), -4121);
    EXPECT_EQ(insert.namedIds.size(), 1u);

    cell->SetValue(Value(u"x"));
    const Call& put = Last(L"Value");
    EXPECT_EQ(put.flags, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(put.namedIds, std::vector<DISPID>{DISPID_PROPERTYPUT});

    application->SetVisible(true);
    const Call& visible = Last(L"Visible");
    EXPECT_EQ(visible.flags, DISPATCH_PROPERTYPUT);
    EXPECT_EQ(visible.lcid, 1033u);
    EXPECT_EQ(visible.argTypes, std::vector<VARTYPE>{VT_BOOL});

    // A found-nothing Find is a null reference, not a failure.
    EXPECT_EQ(cell->Find(u"&DH_DocNo"), nullptr);
}

TEST_F(ComTest, EachNameIsLookedUpOncePerKindOfObject) {
    RecordingDispatch *sheet, *range;
    ComPtr<IDispatch> sheetObject = NewObject(&sheet), rangeObject = NewObject(&range);
    range->Answer(L"Address", Variant::Text(u"$C$12"));
    sheet->Answer(L"Range", Variant::Dispatch(rangeObject));
    RecordingDispatch* book;
    ComPtr<IDispatch> bookObject = NewObject(&book), sheetsObject = NewObject();
    RecordingDispatch* app;
    ComPtr<IDispatch> appObject = NewObject(&app), booksObject = NewObject();
    // Reach a worksheet through the client so its caches are shared.
    app->Answer(L"Workbooks", Variant::Dispatch(booksObject));
    static_cast<RecordingDispatch*>(booksObject.Get())->Answer(L"<default>", Variant::Dispatch(bookObject));
    book->Answer(L"Worksheets", Variant::Dispatch(sheetsObject));
    static_cast<RecordingDispatch*>(sheetsObject.Get())->Answer(L"<default>", Variant::Dispatch(sheetObject));
    auto worksheet = WrapSheetApplication(appObject)->Workbooks()->Item(1)->Worksheets(1);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(worksheet->Range(u"C12")->Address(), u"$C$12");
    EXPECT_EQ(lookups_[L"Range"], 1);
    EXPECT_EQ(lookups_[L"Address"], 1);
}

TEST_F(ComTest, QuoteCallsPassTheLineIndexAndMacroByReference) {
    RecordingDispatch *app, *items;
    ComPtr<IDispatch> appObject = NewObject(&app), itemsObject = NewObject(&items);
    app->Answer(L"ItemFunctions", Variant::Dispatch(itemsObject));
    app->Answer(L"GetMacro", Variant::Text(u"Andrew Fuller"));
    items->Answer(L"LineItemGetValue", Variant::Int32(2));
    items->WriteBackInt16(L"LineItemGetValue", 9);

    auto quote = WrapQuoteApplication(appObject);
    std::int16_t line = 3;
    EXPECT_EQ(quote->ItemFunctions()->LineItemGetValue(line, u"LineType"), Value(std::int32_t{2}));
    const Call& get = Last(L"LineItemGetValue");
    EXPECT_EQ(get.argTypes, (std::vector<VARTYPE>{VT_BSTR, VT_BYREF | VT_I2}));
    EXPECT_EQ(V_I2(get.args[1].Get()), 3);
    EXPECT_EQ(line, 9); // what the server wrote back

    std::u16string macro = u"&DH_&SalesRepFullName";
    EXPECT_EQ(quote->GetMacro(macro), Value(u"Andrew Fuller"));
    EXPECT_EQ(Last(L"GetMacro").argTypes, std::vector<VARTYPE>{VT_BYREF | VT_BSTR});
    EXPECT_EQ(macro, u"&DH_&SalesRepFullName");
}

TEST_F(ComTest, AServerExceptionBecomesAFailureWithItsDeferredDescription) {
    RecordingDispatch* range;
    ComPtr<IDispatch> rangeObject = NewObject(&range);
    range->Fail(L"Insert", static_cast<HRESULT>(0x800A03EC), L"Insert method of Range class failed");
    Dispatch d(rangeObject, nullptr, "Range");
    try {
        d.Call(u"Insert");
        FAIL() << "no failure";
    } catch (const Failure& f) {
        EXPECT_EQ(f.Code(), 1004);
        EXPECT_EQ(f.Description(), u"Insert method of Range class failed");
        EXPECT_EQ(f.Source(), "Range.Insert");
    }
}

// The server side, driven through the client.
class Server final : public DispatchObject {
public:
    Server() : DispatchObject(L"Test server") {
        AddMember(Method(u"Open", {u"Filename", u"UpdateLinks", u"ReadOnly"}, [this](InvokeArgs& args) {
            seen = args.Text(0) + u"|" + (args.Has(1) ? u"links" : u"-") + u"|" +
                   (args.Has(2) ? (args.Boolean(2) ? u"ro" : u"rw") : u"-");
            return Variant::Text(seen);
        }));
        AddMember(
            DefaultMethod(u"Item", {u"Index"}, [](InvokeArgs& args) { return Variant::Int32(args.Int16(0) * 10); }));
        AddMember(Property(u"Fails", [](InvokeArgs&) -> Variant { throw Failure(1004, u"cannot"); }));
        AddMember(PutOnlyProperty(u"Value", [this](InvokeArgs& args) { seen = ToText(FromVariant(args.PutValue())); }));
    }
    std::u16string seen;
};

TEST_F(ComTest, HandWrittenServersBindArgumentsByPositionAndName) {
    auto* server = new Server();
    ComPtr<IDispatch> object = ComPtr<IDispatch>::Attach(server);
    Dispatch d(object, nullptr, "Server");

    Args positional;
    positional.push_back(Variant::Text(u"a.xls"));
    std::vector<NamedArg> named;
    named.push_back(NamedArg{u"readonly", Variant::Boolean(true)}); // names ignore case
    d.Call(u"OPEN", std::move(positional), std::move(named));
    EXPECT_EQ(server->seen, u"a.xls|-|ro");

    Variant missing;
    V_VT(missing.Get()) = VT_ERROR;
    V_ERROR(missing.Get()) = DISP_E_PARAMNOTFOUND;
    Args three;
    three.push_back(Variant::Text(u"b.xls"));
    three.push_back(std::move(missing));
    three.push_back(Variant::Boolean(false));
    d.Call(u"Open", std::move(three));
    EXPECT_EQ(server->seen, u"b.xls|-|rw");

    Args index;
    index.push_back(Variant::Int16(3));
    EXPECT_EQ(V_I4(d.Default(std::move(index)).Get()), 30);

    d.Put(u"Value", Variant::Int32(5));
    EXPECT_EQ(server->seen, u"5");

    auto codeOf = [&](auto&& call) {
        try {
            call();
        } catch (const Failure& f) {
            return f.Code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf([&] { d.Get(u"Fails"); }), 1004);
    EXPECT_EQ(codeOf([&] { d.Get(u"NoSuchMember"); }), 438);
    EXPECT_EQ(codeOf([&] {
                  Args many(4);
                  d.Call(u"Open", std::move(many));
              }),
              450);
    EXPECT_EQ(codeOf([&] { d.Call(u"Open"); }), 449); // Filename is required
}

} // namespace
} // namespace vi2zezir::com

namespace vi2zezir::win32 {
namespace {

TEST(ProgramEnvironment, ArgumentTextSkipsTheProgramPathByWindowsRules) {
    EXPECT_EQ(ArgumentText(u"\"C:\\Program Files\\VI2Zezir\\VI2Zezir.exe\" /f:c:\\t.xls"), u"/f:c:\\t.xls");
    EXPECT_EQ(ArgumentText(u"VI2Zezir.exe \t /f:\"c:\\my templates\\q.xls\""), u"/f:\"c:\\my templates\\q.xls\"");
    EXPECT_EQ(ArgumentText(u"C:\\VI2Zezir.exe"), u"");
    // A quoted program name needs no blank after it.
    EXPECT_EQ(ArgumentText(u"\"VI2Zezir.exe\"/f:x.xls"), u"/f:x.xls");
    EXPECT_EQ(ArgumentText(u"\"unterminated /f:x.xls"), u"");
    EXPECT_EQ(ArgumentText(u""), u"");
}

} // namespace
} // namespace vi2zezir::win32
