#include "ModuleCalls.h"

#include <atomic>

namespace tool {

namespace {

std::atomic<const char*> failedCall{nullptr};
std::atomic<int> failedResult{0};

int Noted(const char* call, int result)
{
    const char* none = nullptr;
    if (result < 0 && result != KSN_ERR_CANCELLED &&
        failedCall.compare_exchange_strong(none, call)) {
        failedResult = result;
    }
    return result;
}

}  // namespace

measure::ModuleApi NotingModuleApi()
{
    measure::ModuleApi api;
    api.SetADC = [](Ksn48Handle* h) { return Noted("KSN48_SetADC", KSN48_SetADC(h)); };
    api.Start = [](Ksn48Handle* h) { return Noted("KSN48_Start", KSN48_Start(h)); };
    api.Stop = [](Ksn48Handle* h) { return Noted("KSN48_Stop", KSN48_Stop(h)); };
    api.Recv = [](Ksn48Handle* h, std::uint32_t* words, std::uint32_t* marks, std::uint32_t count,
                  std::uint32_t timeout) {
        return Noted("KSN48_Recv", KSN48_Recv(h, words, marks, count, timeout));
    };
    api.ProcessData = [](Ksn48Handle* h, const std::uint32_t* words, double* samples,
                         std::uint32_t* size, std::uint32_t flags, std::int32_t status[8]) {
        return Noted("KSN48_ProcessData",
                     KSN48_ProcessData(h, words, samples, size, flags, status));
    };
    api.CancelRecv = &KSN48_CancelRecv;
    return api;
}

std::optional<CallFailure> FirstCallFailure()
{
    const char* call = failedCall.load();
    if (call == nullptr) {
        return std::nullopt;
    }
    return CallFailure{call, failedResult.load()};
}

void ForgetCallFailure()
{
    failedResult = 0;
    failedCall = nullptr;
}

}  // namespace tool
