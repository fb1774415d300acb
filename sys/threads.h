#pragma once
// What the operating system tells and gives about processors and threads:
// the processors this process may run on, pinning a thread to one of them,
// and the processor time a thread or the whole process has consumed.

#include <thread>
#include <vector>

namespace lumo::sys {

// Processor ids of the process's affinity mask as it was at the first call
// (before the main thread pins itself), in increasing order; never empty.
std::vector<int> affinityProcessors();

// Pins the calling thread to the first processor of affinityProcessors(), the
// one worker 0 runs on: the demo's main thread never moves, so its timings are
// steady. (Under taskset the first allowed processor need not be 0.)
void pinToFirstProcessor();

// Pins a running thread to one processor id. Pinning outside the process's
// mask would silently succeed, so callers pick ids from affinityProcessors().
void pinThread(std::thread& thread, int processor);

// The processor the calling thread is pinned to, or -1 when it may run on
// more than one.
int pinnedProcessor();

// Lowers the calling thread's priority to nice kBackgroundNice: background
// work that should rarely hold up the threads a frame waits for, yet still
// gets about a tenth of a processor that normal threads keep busy (a thread
// that only ran on idle time could wait minutes on a loaded machine). False
// when the system refused.
constexpr int kBackgroundNice = 10;
bool runInBackground();

// Processor time consumed so far, in seconds: by the calling thread, and by
// every thread of the process.
double threadCpuSeconds();
double processCpuSeconds();

} // namespace lumo::sys
