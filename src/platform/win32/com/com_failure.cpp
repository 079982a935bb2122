#include "platform/win32/com/com_failure.h"

#include "platform/win32/com/com_ptr.h"

namespace vi2zezir::com {
namespace {

// Dispatch errors the late-bound world knows by run-time code.
struct KnownError {
    HRESULT hr;
    FailureCode code;
};
constexpr KnownError kKnownErrors[] = {
    {DISP_E_TYPEMISMATCH, kTypeMismatch},        {DISP_E_OVERFLOW, kOverflow},
    {DISP_E_MEMBERNOTFOUND, kNoSuchMember},      {DISP_E_UNKNOWNNAME, kNoSuchMember},
    {DISP_E_BADPARAMCOUNT, kWrongArgumentCount}, {DISP_E_PARAMNOTOPTIONAL, kArgumentNotOptional},
};

const KnownError* FindKnown(HRESULT hr) {
    for (const KnownError& e : kKnownErrors) {
        if (e.hr == hr) return &e;
    }
    return nullptr;
}

std::u16string SystemMessage(HRESULT hr) {
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (buffer) {
        text = FromWide(buffer, length);
        LocalFree(buffer);
    }
    while (!text.empty() &&
           (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        wchar_t hex[16];
        wsprintfW(hex, L"0x%08X", static_cast<unsigned>(hr));
        text = StandardDescription(kAutomationError) + u" " + FromWide(hex);
    }
    return text;
}

} // namespace

std::int32_t AutomationCode(HRESULT hr, const EXCEPINFO* info) {
    if (info && info->wCode != 0) return info->wCode;
    HRESULT scode = (info && FAILED(info->scode)) ? info->scode : hr;
    if (HRESULT_FACILITY(scode) == FACILITY_CONTROL) return HRESULT_CODE(scode);
    if (const KnownError* known = FindKnown(scode)) return known->code;
    return static_cast<std::int32_t>(scode);
}

Failure FailureFromHresult(HRESULT hr, EXCEPINFO* info, std::string source) {
    std::u16string description;
    std::int32_t code = 0;
    if (hr == DISP_E_EXCEPTION && info) {
        if (info->pfnDeferredFillIn) info->pfnDeferredFillIn(info);
        code = AutomationCode(hr, info);
        if (info->bstrDescription) description = FromWide(info->bstrDescription, SysStringLen(info->bstrDescription));
        HRESULT scode = FAILED(info->scode) ? info->scode : hr;
        SysFreeString(info->bstrSource);
        SysFreeString(info->bstrDescription);
        SysFreeString(info->bstrHelpFile);
        *info = EXCEPINFO{};
        if (description.empty()) {
            const KnownError* known = FindKnown(scode);
            description = known ? StandardDescription(known->code) : SystemMessage(scode);
        }
    } else {
        code = AutomationCode(hr, nullptr);
        const KnownError* known = FindKnown(hr);
        description = known ? StandardDescription(known->code) : SystemMessage(hr);
    }
    return Failure(code, std::move(description), std::move(source));
}

HRESULT ReportFailure(const Failure& failure, EXCEPINFO* info, const wchar_t* serverName) {
    if (!info) return E_FAIL;
    *info = EXCEPINFO{};
    std::int32_t code = failure.Code();
    // Run-time numbers travel as FACILITY_CONTROL scodes (1004 -> 0x800A03EC),
    // the way the spreadsheet reports its own; anything else is an HRESULT already.
    if (code > 0 && code <= 0xFFFF) {
        info->scode = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, code);
    } else {
        info->scode = static_cast<HRESULT>(code);
    }
    info->bstrSource = SysAllocString(serverName);
    std::wstring description = ToWide(failure.Description());
    info->bstrDescription = SysAllocStringLen(description.data(), static_cast<UINT>(description.size()));
    return DISP_E_EXCEPTION;
}

} // namespace vi2zezir::com
