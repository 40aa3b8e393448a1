// Interpreter of the rebuild scripts: builds a new file from literal bytes in the package
// and byte ranges of the old file, and drives the progress percentage.
#pragma once

#include <cstdint>

#include "io/stream.h"

class UpgradePackage;

// Runs one entry's script from the package stream's position. `old_file` and `output` may
// be null (skipped entries: literals are consumed, copies passed over). Returns 0 after
// the End command, nonzero when PollCancel asked to stop in the middle.
//
// The work is bounded by the package's size and `output_limit`, the entry's new size: a
// copy stops at the end of the old file and a literal at the end of the package, and
// output that would grow past the limit (it could never pass verification) sets the
// output's error flag, after which nothing more is written or copied for the entry. The
// script is still read to its end, so the next entry starts in the right place.
int ReconstructFile(UpgradePackage& package, TCVLStream* old_file, TCVLStream* output,
                    uint32_t output_limit = 0xFFFFFFFFu);
// Recomputes the percentage from ProgressDone/ProgressTotal; when it changed, paints it
// and paces.
void UpdateProgress(UpgradePackage& package);
// Waits up to `ms` milliseconds while polling for cancel (front ends that pace only).
void PauseWithPolling(UpgradePackage& package, uint32_t ms);
