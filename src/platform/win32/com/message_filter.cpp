#include "platform/win32/com/message_filter.h"

namespace vi2zezir::com {
namespace {

constexpr DWORD kRetryEveryMs = 250;

class RetryingFilter final : public IMessageFilter {
public:
    explicit RetryingFilter(DWORD retryForMs) : retryForMs_(retryForMs) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG r = InterlockedDecrement(&refs_);
        if (r == 0) delete this;
        return r;
    }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD tickCount, DWORD rejectType) override {
        return RetryDelay(rejectType, tickCount, retryForMs_);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }

private:
    LONG refs_ = 1;
    DWORD retryForMs_;
};

} // namespace

DWORD RetryDelay(DWORD rejectType, DWORD elapsedMs, DWORD retryForMs) {
    if (rejectType == SERVERCALL_RETRYLATER && elapsedMs < retryForMs) return kRetryEveryMs;
    return static_cast<DWORD>(-1);
}

ScopedMessageFilter::ScopedMessageFilter(DWORD retryForMs) : filter_(new RetryingFilter(retryForMs)) {
    // Only an apartment-threaded caller can have a filter; elsewhere COM
    // refuses and calls simply are not retried.
    if (FAILED(CoRegisterMessageFilter(filter_, &previous_))) previous_ = nullptr;
}

ScopedMessageFilter::~ScopedMessageFilter() {
    IMessageFilter* ours = nullptr;
    CoRegisterMessageFilter(previous_, &ours);
    if (ours) ours->Release();
    if (previous_) previous_->Release();
    filter_->Release();
}

} // namespace vi2zezir::com
