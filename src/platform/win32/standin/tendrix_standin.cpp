// tendrix-standin.exe: serves a quote document (the JSON format of the
// portable stand-in) as a running "Tendrix.Application", found by the
// program through the running object table.
//
//   tendrix-standin.exe /regserver      register the class for this user
//   tendrix-standin.exe /unregserver
//   tendrix-standin.exe DOCUMENT.json   serve until "/quit" or until killed
//   tendrix-standin.exe /quit           end the running stand-in
//
// Serving prints "tendrix-standin: ready" once the object is registered, so
// a script can wait for it. The members and parameter types are the quoting
// application's: the line index is a 16-bit integer by reference, the macro
// placeholder a text by reference; other arguments are coerced.
#include <objbase.h>
#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <memory>

#include "base/utf.h"
#include "platform/win32/com/com_failure.h"
#include "platform/win32/standin/standin_classes.h"
#include "platform/win32/standin/standin_server.h"
#include "standin/quote_document.h"

namespace vi2zezir::standin {
namespace {

using com::ToVariant;

constexpr wchar_t kServerName[] = L"Tendrix";

class DocFunctionsObject final : public DispatchObject {
public:
    explicit DocFunctionsObject(std::shared_ptr<quote::DocFunctions> functions)
        : DispatchObject(kServerName), functions_(std::move(functions)) {
        AddMember(Method(u"GetDocumentHeaderValue", {u"FieldName"}, [this](InvokeArgs& args) {
            return ToVariant(functions_->GetDocumentHeaderValue(args.Text(0)));
        }));
    }

private:
    std::shared_ptr<quote::DocFunctions> functions_;
};

class ItemFunctionsObject final : public DispatchObject {
public:
    explicit ItemFunctionsObject(std::shared_ptr<quote::ItemFunctions> functions)
        : DispatchObject(kServerName), functions_(std::move(functions)) {
        AddMember(Property(u"LineItemCount", [this](InvokeArgs&) { return ToVariant(functions_->LineItemCount()); }));
        AddMember(Method(u"LineItemGetValue", {u"LineIndex", u"FieldName"}, [this](InvokeArgs& args) {
            // Declared "ByRef Integer": only a 16-bit integer by
            // reference binds to it.
            VARIANT* index = args.Raw(0);
            if (V_VT(index) != (VT_BYREF | VT_I2) || !V_I2REF(index)) throw Failure(kTypeMismatch, "LineItemGetValue");
            std::int16_t line = *V_I2REF(index);
            std::u16string field = args.Text(1);
            Value value = functions_->LineItemGetValue(line, field);
            *V_I2REF(index) = line;
            return ToVariant(value);
        }));
    }

private:
    std::shared_ptr<quote::ItemFunctions> functions_;
};

class TendrixApplicationObject final : public DispatchObject {
public:
    explicit TendrixApplicationObject(std::shared_ptr<quote::Application> application)
        : DispatchObject(kServerName), application_(std::move(application)) {
        AddMember(Property(u"VersionMajor", [this](InvokeArgs&) { return ToVariant(application_->VersionMajor()); }));
        AddMember(Property(u"DocFunctions", [this](InvokeArgs&) {
            return Variant::Dispatch(MakeDispatch<DocFunctionsObject>(application_->DocFunctions()));
        }));
        AddMember(Property(u"ItemFunctions", [this](InvokeArgs&) {
            return Variant::Dispatch(MakeDispatch<ItemFunctionsObject>(application_->ItemFunctions()));
        }));
        AddMember(Method(u"GetMacro", {u"Macro"}, [this](InvokeArgs& args) {
            // Declared "ByRef String".
            VARIANT* macro = args.Raw(0);
            if (V_VT(macro) != (VT_BYREF | VT_BSTR) || !V_BSTRREF(macro)) throw Failure(kTypeMismatch, "GetMacro");
            BSTR text = *V_BSTRREF(macro);
            std::u16string placeholder = text ? com::FromWide(text, SysStringLen(text)) : std::u16string();
            return ToVariant(application_->GetMacro(placeholder));
        }));
    }

private:
    std::shared_ptr<quote::Application> application_;
};

const com::ClassRegistration& Registration() {
    static const com::ClassRegistration registration{kTendrixProgId, L"Tendrix stand-in (quote document server)",
                                                     kTendrixStandinClsid, L""};
    return registration;
}

std::shared_ptr<quote::Application> LoadApplication(const wchar_t* path) {
    try {
        auto document = std::make_shared<QuoteDocument>(LoadQuoteDocument(std::filesystem::path(path)));
        return MakeQuoteApplication(std::move(document));
    } catch (const Failure& failure) {
        // As the portable stand-in: the server runs, but every request
        // answers with the load failure, so the program reports it.
        std::fprintf(stderr, "tendrix-standin: %s\n", failure.what());
        return MakeFailingQuoteApplication(failure);
    }
}

int Serve(const wchar_t* documentPath) {
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, kTendrixQuitEvent);
    if (!quit) return 1;
    ResetEvent(quit);

    com::ComPtr<IDispatch> application = MakeDispatch<TendrixApplicationObject>(LoadApplication(documentPath));
    DWORD cookie = 0;
    HRESULT hr = E_FAIL;
    // The running object table lives in the RPC service, which a freshly
    // started session (a new Wine prefix) may still be bringing up.
    for (int attempt = 0; attempt < 60; ++attempt) {
        hr = RegisterActiveObject(application.Get(), kTendrixStandinClsid, ACTIVEOBJECT_STRONG, &cookie);
        if (SUCCEEDED(hr)) break;
        Sleep(500);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "tendrix-standin: RegisterActiveObject failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        CloseHandle(quit);
        return 1;
    }
    std::printf("tendrix-standin: ready\n");
    std::fflush(stdout);

    // An apartment-threaded server: incoming calls arrive as messages.
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjects(1, &quit, FALSE, INFINITE, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) break;
        MSG message;
        bool quitMessage = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) quitMessage = true;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (quitMessage) break;
    }
    RevokeActiveObject(cookie, nullptr);
    CoDisconnectObject(application.Get(), 0);
    CloseHandle(quit);
    return 0;
}

int Main(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: tendrix-standin.exe DOCUMENT.json | /quit | /regserver | /unregserver\n");
        return 2;
    }
    std::wstring argument = argv[1];
    if (HandleRegistrationSwitch(argument, Registration())) return 0;
    if (_wcsicmp(argument.c_str(), L"/quit") == 0) {
        HANDLE quit = OpenEventW(EVENT_MODIFY_STATE, FALSE, kTendrixQuitEvent);
        if (!quit) return 1; // none running
        SetEvent(quit);
        CloseHandle(quit);
        return 0;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = Serve(argument.c_str());
    CoUninitialize();
    return rc;
}

} // namespace
} // namespace vi2zezir::standin

int wmain(int argc, wchar_t** argv) {
    try {
        return vi2zezir::standin::Main(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tendrix-standin: %s\n", e.what());
        return 1;
    }
}
