// excel-standin.exe: a local automation server for "EXCEL.APPLICATION" over
// the embedded spreadsheet engine, exposing by name the part of the object
// model the program drives, so its late-bound calls, default members and
// named arguments really cross a process boundary.
//
//   excel-standin.exe /regserver     register the class for this user
//   excel-standin.exe /unregserver
//   excel-standin.exe -Embedding     as started by COM for CreateObject
//
// Each CreateObject starts a new process (single-use class object), as the
// spreadsheet does. Visible = True saves the workbook to the file
// VI2ZEZIR_OUTPUT names, or to a new file in the temporary folder when it is
// unset (never over the template); there is no user to hand the instance
// to, so the process ends when the last reference to it is released, and
// also after Quit. When VI2ZEZIR_EXCEL_LOG names a file, the calls that matter for a
// transfer's outcome (start, Open, Visible, the save, Quit, the end) are
// appended to it.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "base/utf.h"
#include "platform/win32/com/com_failure.h"
#include "platform/win32/standin/standin_classes.h"
#include "platform/win32/standin/standin_server.h"
#include "workbook/engine.h"

namespace vi2zezir::standin {
namespace {

constexpr wchar_t kServerName[] = L"Microsoft Excel";
DWORD g_mainThread = 0;

void Log(const std::string& line) {
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"VI2ZEZIR_EXCEL_LOG", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    if (FILE* file = _wfopen(path, L"ab")) {
        std::string text = "[" + std::to_string(GetCurrentProcessId()) + "] " + line + "\n";
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

// Where the filled workbook goes, as the program's environment says.
workbook::EngineOptions EngineOutput() {
    workbook::EngineOptions options;
    const DWORD size = GetEnvironmentVariableW(L"VI2ZEZIR_OUTPUT", nullptr, 0);
    if (size > 1) {
        std::wstring output(size, L'\0');
        const DWORD length = GetEnvironmentVariableW(L"VI2ZEZIR_OUTPUT", output.data(), size);
        if (length > 0 && length < size) options.outputPath = output.substr(0, length);
    }
    std::error_code ec;
    options.newFileFolder = std::filesystem::temp_directory_path(ec);
    options.onSaved = [](const std::filesystem::path& path) { Log("saved " + path.string()); };
    return options;
}

[[noreturn]] void NotSupported(const char* what) {
    throw Failure(kApplicationDefined, u"The Excel stand-in does not support " + text::FromUtf8(what), what);
}

class RangeObject final : public DispatchObject {
public:
    explicit RangeObject(std::shared_ptr<sheet::Range> range) : DispatchObject(kServerName), range_(std::move(range)) {
        AddMember(Method(u"Find", {u"What"}, [this](InvokeArgs& args) {
            std::shared_ptr<sheet::Range> found = range_->Find(args.Text(0));
            if (!found) return Variant::Dispatch({}); // Nothing
            return Variant::Dispatch(MakeDispatch<RangeObject>(std::move(found)));
        }));
        AddMember(Method(u"Replace", {u"What", u"Replacement"}, [this](InvokeArgs& args) {
            range_->Replace(args.Text(0), args.Text(1));
            return Variant::Boolean(true);
        }));
        AddMember(Property(u"Address", [this](InvokeArgs&) { return Variant::Text(range_->Address()); }));
        AddMember(Method(u"Insert", {u"Shift"}, [this](InvokeArgs& args) {
            range_->Insert(args.Has(0) ? args.Int32(0) : sheet::xlShiftDown);
            return Variant::Boolean(true);
        }));
        AddMember(Property(
            u"Cells", [this](InvokeArgs&) { return Variant::Dispatch(MakeDispatch<RangeObject>(range_->Cells())); }));
        AddMember(PutOnlyProperty(u"Value",
                                  [this](InvokeArgs& args) { range_->SetValue(com::FromVariant(args.PutValue())); }));
        AddMember(PutOnlyProperty(
            u"Formula", [this](InvokeArgs& args) { range_->SetFormula(ToText(com::FromVariant(args.PutValue()))); }));
    }

private:
    std::shared_ptr<sheet::Range> range_;
};

class WorksheetObject final : public DispatchObject {
public:
    explicit WorksheetObject(std::shared_ptr<sheet::Worksheet> sheet)
        : DispatchObject(kServerName), sheet_(std::move(sheet)) {
        AddMember(Property(
            u"Cells", [this](InvokeArgs&) { return Variant::Dispatch(MakeDispatch<RangeObject>(sheet_->Cells())); }));
        AddMember(Method(u"Range", {u"Cell1", u"Cell2"}, [this](InvokeArgs& args) {
            if (args.Has(1)) NotSupported("Range(Cell1, Cell2)");
            return Variant::Dispatch(MakeDispatch<RangeObject>(sheet_->Range(args.Text(0))));
        }));
    }

private:
    std::shared_ptr<sheet::Worksheet> sheet_;
};

class WorksheetsObject final : public DispatchObject {
public:
    explicit WorksheetsObject(std::shared_ptr<sheet::Workbook> workbook)
        : DispatchObject(kServerName), workbook_(std::move(workbook)) {
        AddMember(DefaultMethod(u"Item", {u"Index"}, [this](InvokeArgs& args) {
            return Variant::Dispatch(MakeDispatch<WorksheetObject>(workbook_->Worksheets(args.Int16(0))));
        }));
    }

private:
    std::shared_ptr<sheet::Workbook> workbook_;
};

class WorkbookObject final : public DispatchObject {
public:
    explicit WorkbookObject(std::shared_ptr<sheet::Workbook> workbook)
        : DispatchObject(kServerName), workbook_(std::move(workbook)) {
        // Worksheets or Worksheets(index): a late-bound caller may pass the
        // index to the property itself.
        AddMember(Method(u"Worksheets", {u"Index"}, [this](InvokeArgs& args) {
            if (args.Has(0)) {
                return Variant::Dispatch(MakeDispatch<WorksheetObject>(workbook_->Worksheets(args.Int16(0))));
            }
            return Variant::Dispatch(MakeDispatch<WorksheetsObject>(workbook_));
        }));
    }

private:
    std::shared_ptr<sheet::Workbook> workbook_;
};

class WorkbooksObject final : public DispatchObject {
public:
    explicit WorkbooksObject(std::shared_ptr<sheet::Workbooks> workbooks)
        : DispatchObject(kServerName), workbooks_(std::move(workbooks)) {
        AddMember(Method(u"Open", {u"Filename", u"UpdateLinks", u"ReadOnly"}, [this](InvokeArgs& args) {
            if (args.Has(1)) NotSupported("Workbooks.Open(UpdateLinks)");
            std::u16string filename = args.Text(0);
            bool readOnly = args.Has(2) && args.Boolean(2);
            Log("open " + text::ToUtf8(filename) + (readOnly ? " read-only" : " read-write"));
            return Variant::Dispatch(MakeDispatch<WorkbookObject>(workbooks_->Open(filename, readOnly)));
        }));
        AddMember(DefaultMethod(u"Item", {u"Index"}, [this](InvokeArgs& args) {
            return Variant::Dispatch(MakeDispatch<WorkbookObject>(workbooks_->Item(args.Int16(0))));
        }));
    }

private:
    std::shared_ptr<sheet::Workbooks> workbooks_;
};

class ApplicationObject final : public DispatchObject {
public:
    explicit ApplicationObject(std::shared_ptr<sheet::Application> application)
        : DispatchObject(kServerName), application_(std::move(application)) {
        AddMember(Property(u"Workbooks", [this](InvokeArgs&) {
            return Variant::Dispatch(MakeDispatch<WorkbooksObject>(application_->Workbooks()));
        }));
        AddMember(Property(
            u"Visible", [this](InvokeArgs&) { return Variant::Boolean(visible_); },
            [this](InvokeArgs& args) {
                Variant flag;
                if (FAILED(VariantChangeTypeEx(flag.Get(), const_cast<VARIANT*>(&args.PutValue()), 1033, 0, VT_BOOL))) {
                    throw Failure(kTypeMismatch, "Application.Visible");
                }
                visible_ = V_BOOL(flag.Get()) != VARIANT_FALSE;
                Log(visible_ ? "visible" : "hidden");
                application_->SetVisible(visible_);
            }));
        AddMember(Property(u"Quit", [this](InvokeArgs&) {
            Log("quit");
            application_->Quit();
            PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
            return Variant();
        }));
    }

private:
    std::shared_ptr<sheet::Application> application_;
    bool visible_ = false;
};

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // a static object
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        try {
            com::ComPtr<IDispatch> application =
                MakeDispatch<ApplicationObject>(workbook::CreateApplication(EngineOutput()));
            Log("created");
            return application->QueryInterface(riid, object);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

const com::ClassRegistration& Registration() {
    static const com::ClassRegistration registration{kExcelProgId, L"Excel stand-in (embedded spreadsheet engine)",
                                                     kExcelStandinClsid, L"\"" + com::ModulePath() + L"\" -Embedding"};
    return registration;
}

int Serve() {
    g_mainThread = GetCurrentThreadId();
    // The instance belongs to its client: when the last reference goes,
    // so does the process.
    DispatchObject::OnLastObjectGone([] { PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0); });
    static ClassFactory factory;
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(kExcelStandinClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &cookie);
    if (FAILED(hr)) return 1;
    Log("started");
    // A client that never comes (COM gave up waiting) must not leave the
    // process behind.
    UINT_PTR timer = SetTimer(nullptr, 0, 60000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.wParam == timer) {
            KillTimer(nullptr, timer);
            timer = 0;
            if (DispatchObject::LiveObjects() == 0) break;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(cookie);
    Log("ended");
    return 0;
}

int Main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring argument = (argv && argc >= 2) ? argv[1] : L"";
    LocalFree(argv);
    if (HandleRegistrationSwitch(argument, Registration())) return 0;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int rc = Serve();
    CoUninitialize();
    return rc;
}

} // namespace
} // namespace vi2zezir::standin

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    try {
        return vi2zezir::standin::Main();
    } catch (...) {
        return 1;
    }
}
