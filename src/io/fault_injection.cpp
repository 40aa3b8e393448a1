// The call counters behind InjectFault; one set for the process. The counters are atomic:
// the package builder's threads open and read files through the OS layer at the same time.
#include "io/fault_injection.h"

#include <atomic>

namespace os {

namespace {

constexpr int kKinds = static_cast<int>(FaultKind::kCount);
std::atomic<uint32_t> g_calls[kKinds] = {};
std::atomic<int> g_kind{kKinds};
std::atomic<uint32_t> g_fail_at{0};

}  // namespace

void InjectFault(FaultKind kind, uint32_t n) {
    // Disarmed first, so that a call counted meanwhile cannot fail at a stale count.
    g_fail_at = 0;
    for (std::atomic<uint32_t>& c : g_calls) c = 0;
    g_kind = static_cast<int>(kind);
    g_fail_at = n;
}

uint32_t FaultCalls(FaultKind kind) {
    const int k = static_cast<int>(kind);
    return k >= 0 && k < kKinds ? g_calls[k].load() : 0;
}

// Each call gets its own number from the counter, so exactly one call fails however
// many threads count at once.
bool FaultHits(FaultKind kind) {
    const int k = static_cast<int>(kind);
    if (k < 0 || k >= kKinds) return false;
    const uint32_t call = ++g_calls[k];
    const uint32_t fail_at = g_fail_at;
    return k == g_kind && fail_at != 0 && call == fail_at;
}

}  // namespace os
