// A busy automation server (the spreadsheet starting up, a cell in edit, a
// modal dialog) rejects calls with SERVERCALL_RETRYLATER; without a message
// filter COM reports RPC_E_CALL_REJECTED at once. This filter retries for a
// bounded time, then lets the call fail.
#pragma once

#include <windows.h>

#include <objidl.h>

namespace vi2zezir::com {

class ScopedMessageFilter {
public:
    // retryForMs: how long a rejected call keeps being retried.
    explicit ScopedMessageFilter(DWORD retryForMs = 30000);
    ScopedMessageFilter(const ScopedMessageFilter&) = delete;
    ScopedMessageFilter& operator=(const ScopedMessageFilter&) = delete;
    ~ScopedMessageFilter();

private:
    IMessageFilter* previous_ = nullptr;
    IMessageFilter* filter_ = nullptr;
};

// The answer to IMessageFilter::RetryRejectedCall: milliseconds to wait
// before retrying, or -1 to fail the call. Exposed for tests.
DWORD RetryDelay(DWORD rejectType, DWORD elapsedMs, DWORD retryForMs);

} // namespace vi2zezir::com
