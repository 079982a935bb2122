#include "platform/win32/com/registration.h"

#include <vector>

#include "platform/win32/com/com_failure.h"

namespace vi2zezir::com {
namespace {

void SetValue(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
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

static void WriteClass(HKEY root, const ClassRegistration& registration) {
    std::wstring clsid = GuidText(registration.clsid);
    SetValue(root, kClasses + registration.progId, nullptr, registration.description);
    SetValue(root, kClasses + registration.progId + L"\\CLSID", nullptr, clsid);
    SetValue(root, kClasses + L"CLSID\\" + clsid, nullptr, registration.description);
    SetValue(root, kClasses + L"CLSID\\" + clsid + L"\\ProgID", nullptr, registration.progId);
    if (!registration.localServer.empty()) {
        SetValue(root, kClasses + L"CLSID\\" + clsid + L"\\LocalServer32", nullptr, registration.localServer);
    }
}

void RegisterServerClass(const ClassRegistration& registration) {
    WriteClass(HKEY_CURRENT_USER, registration);
    // Windows merges the per-user classes into HKEY_CLASSES_ROOT; Wine 8
    // does not, so there the class goes into the (prefix's own) machine
    // classes as well.
    CLSID found;
    if (FAILED(CLSIDFromProgID(registration.progId, &found)) || found != registration.clsid) {
        WriteClass(HKEY_LOCAL_MACHINE, registration);
    }
}

void UnregisterServerClass(const ClassRegistration& registration) {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        // Only our own CLSID's keys: a real server's registration is left alone.
        CLSID registered;
        std::wstring progIdKey = kClasses + registration.progId;
        HKEY key = nullptr;
        bool ours = false;
        if (RegOpenKeyExW(root, (progIdKey + L"\\CLSID").c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            wchar_t text[64] = {};
            DWORD size = sizeof(text) - sizeof(wchar_t);
            if (RegQueryValueExW(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
                    ERROR_SUCCESS &&
                SUCCEEDED(CLSIDFromString(text, &registered))) {
                ours = registered == registration.clsid;
            }
            RegCloseKey(key);
        }
        if (ours) RegDeleteTreeW(root, progIdKey.c_str());
        RegDeleteTreeW(root, (kClasses + L"CLSID\\" + GuidText(registration.clsid)).c_str());
    }
}

} // namespace vi2zezir::com
