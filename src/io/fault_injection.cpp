// The call counters behind InjectFault; one set for the process (the engine has one thread).
#include "io/fault_injection.h"

namespace os {

namespace {

constexpr int kKinds = static_cast<int>(FaultKind::kCount);
uint32_t g_calls[kKinds] = {};
FaultKind g_kind = FaultKind::kCount;
uint32_t g_fail_at = 0;

}  // namespace

void InjectFault(FaultKind kind, uint32_t n) {
    for (uint32_t& c : g_calls) c = 0;
    g_kind = kind;
    g_fail_at = n;
}

uint32_t FaultCalls(FaultKind kind) {
    const int k = static_cast<int>(kind);
    return k >= 0 && k < kKinds ? g_calls[k] : 0;
}

bool FaultHits(FaultKind kind) {
    const int k = static_cast<int>(kind);
    if (k < 0 || k >= kKinds) return false;
    ++g_calls[k];
    return kind == g_kind && g_fail_at != 0 && g_calls[k] == g_fail_at;
}

}  // namespace os
