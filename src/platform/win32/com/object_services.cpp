#include <string>

#include "platform/win32/com/automation_clients.h"
#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {
namespace {

[[noreturn]] void CannotCreate(const std::u16string& className, const char* how) {
    throw Failure(kCannotCreateObject, std::string(how) + "(" + std::string(className.begin(), className.end()) + ")");
}

bool ClassId(const std::u16string& className, CLSID& clsid) {
    return SUCCEEDED(CLSIDFromProgID(ToWide(className).c_str(), &clsid));
}

} // namespace

std::shared_ptr<quote::Application> ComObjectServices::GetObject(const std::u16string& className) {
    CLSID clsid;
    if (!ClassId(className, clsid)) CannotCreate(className, "GetObject");
    // The running object table only: the quoting application is never started.
    ComPtr<IUnknown> running;
    if (FAILED(GetActiveObject(clsid, nullptr, running.Put())) || !running) CannotCreate(className, "GetObject");
    ComPtr<IDispatch> application = running.Query<IDispatch>();
    if (!application) CannotCreate(className, "GetObject");
    return WrapQuoteApplication(std::move(application));
}

std::shared_ptr<sheet::Application> ComObjectServices::CreateObject(const std::u16string& className) {
    CLSID clsid;
    if (!ClassId(className, clsid)) CannotCreate(className, "CreateObject");
    ComPtr<IDispatch> application;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, application.PutVoid());
    if (FAILED(hr) || !application) CannotCreate(className, "CreateObject");
    return WrapSheetApplication(std::move(application));
}

} // namespace vi2zezir::com
