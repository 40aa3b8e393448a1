// The disk record behind StartDiskRecord: one for the process, guarded for threads.
#include "io/disk_record.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace os {

namespace {

std::atomic<bool> g_recording{false};
std::mutex g_mutex;
std::vector<DiskEvent> g_events;

}  // namespace

void StartDiskRecord() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_events.clear();
    g_recording = true;
}

std::vector<DiskEvent> StopDiskRecord() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_recording = false;
    return std::move(g_events);
}

bool RecordingDisk() { return g_recording.load(std::memory_order_relaxed); }

void RecordDisk(DiskEvent event) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_recording) g_events.push_back(std::move(event));
}

}  // namespace os
