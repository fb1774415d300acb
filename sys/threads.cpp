#include "sys/threads.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lumo::sys {

namespace {
double seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}
} // namespace

std::vector<int> affinityProcessors() {
    // On Linux the mask belongs to the calling thread, and the demo pins its
    // main thread to the first processor before the renderer starts: the first
    // answer, taken before that, stays the answer for the whole process.
    static const std::vector<int> ids = [] {
        std::vector<int> found;
        cpu_set_t set;
        CPU_ZERO(&set);
        if (sched_getaffinity(0, sizeof set, &set) == 0) {
            for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
                if (CPU_ISSET(cpu, &set)) {
                    found.push_back(cpu);
                }
            }
        }
        if (found.empty()) {
            found.push_back(0);
        }
        return found;
    }();
    return ids;
}

void pinToFirstProcessor() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(affinityProcessors().front(), &one);
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
}

void pinThread(std::thread& thread, int processor) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processor, &one);
    pthread_setaffinity_np(thread.native_handle(), sizeof one, &one);
}

int pinnedProcessor() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0 || CPU_COUNT(&set) != 1) {
        return -1;
    }
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &set)) {
            return cpu;
        }
    }
    return -1;
}

double threadCpuSeconds() {
    return seconds(CLOCK_THREAD_CPUTIME_ID);
}

bool runInBackground() {
    // Linux keeps a nice value per thread: the thread id stands for the process.
    // A thread already nicer than that (the whole program run under nice)
    // stays as it is.
    const id_t thread = id_t(syscall(SYS_gettid));
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, thread);
    if (errno != 0) {
        return false;
    }
    return setpriority(PRIO_PROCESS, thread, std::max(current, kBackgroundNice)) == 0;
}

double processCpuSeconds() {
    return seconds(CLOCK_PROCESS_CPUTIME_ID);
}

} // namespace lumo::sys
