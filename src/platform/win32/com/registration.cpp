#include "platform/win32/com/registration.h"

#include <vector>

#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {
namespace {

void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) ThrowIfFailed(HRESULT_FROM_WIN32(rc), "RegCreateKeyExW");
    rc = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) ThrowIfFailed(HRESULT_FROM_WIN32(rc), "RegSetValueExW");
}

const std::wstring kClasses = L"Software\\Classes\\";

} // namespace

std::wstring GuidText(const GUID& guid) {
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

std::wstring ModulePath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) ThrowIfFailed(HRESULT_FROM_WIN32(GetLastError()), "GetModuleFileNameW");
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        if (buffer.size() >= 32768) return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

void RegisterServerClass(const ClassRegistration& registration) {
    std::wstring clsid = GuidText(registration.clsid);
    SetValue(kClasses + registration.progId, nullptr, registration.description);
    SetValue(kClasses + registration.progId + L"\\CLSID", nullptr, clsid);
    SetValue(kClasses + L"CLSID\\" + clsid, nullptr, registration.description);
    SetValue(kClasses + L"CLSID\\" + clsid + L"\\ProgID", nullptr, registration.progId);
    if (!registration.localServer.empty()) {
        SetValue(kClasses + L"CLSID\\" + clsid + L"\\LocalServer32", nullptr, registration.localServer);
    }
}

void UnregisterServerClass(const ClassRegistration& registration) {
    RegDeleteTreeW(HKEY_CURRENT_USER, (kClasses + registration.progId).c_str());
    RegDeleteTreeW(HKEY_CURRENT_USER, (kClasses + L"CLSID\\" + GuidText(registration.clsid)).c_str());
}

} // namespace vi2zezir::com
