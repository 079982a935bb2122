// Failed HRESULTs become the system's Failure, and a Failure at a server's
// edge becomes DISP_E_EXCEPTION with EXCEPINFO: the two directions of one
// mapping, kept together so a round trip through COM keeps code and text.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <string>

#include "base/failure.h"

namespace vi2zezir::com {

// The code a late-bound caller sees for a failed call: the EXCEPINFO's wCode
// when set; otherwise a run-time error carried in a FACILITY_CONTROL scode
// (0x800A03EC is 1004); a few dispatch errors as their familiar run-time
// codes; else the HRESULT itself.
std::int32_t AutomationCode(HRESULT hr, const EXCEPINFO* info);

// Builds the Failure for a failed call. When info is given it is completed
// (pfnDeferredFillIn) and its strings are freed. Without a description from
// the server, the system's message for the HRESULT is used.
Failure FailureFromHresult(HRESULT hr, EXCEPINFO* info, std::string source);

inline void ThrowIfFailed(HRESULT hr, const char* source) {
    if (FAILED(hr)) throw FailureFromHresult(hr, nullptr, source);
}

// The HRESULT a server returns for a Failure, with EXCEPINFO filled so the
// caller's FailureFromHresult gives back the same code and description.
HRESULT ReportFailure(const Failure& failure, EXCEPINFO* info, const wchar_t* serverName);

} // namespace vi2zezir::com
