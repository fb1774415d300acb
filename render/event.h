#pragma once
// The workers' only synchronisation: small events in the manner of the classic
// auto-reset and manual-reset kinds. An auto-reset event wakes one waiter and
// clears itself; a manual-reset event stays set (and lets every waiter through)
// until reset. Everything written before set() is visible after the matching
// wait() returns.
//
// A waiter first polls the flag for a short while and only then sleeps. Frames
// hand work to the workers many times a second, and waking a sleeping thread
// costs far more than a frame's own synchronisation: on a virtual machine a
// halted processor can take most of a millisecond to come back. set() takes
// the lock only when somebody is asleep.

#include <atomic>
#include <condition_variable>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace lumo {

class Event {
public:
    enum class Reset { Auto, Manual };

    // spinPolls: polls of the flag before a waiter sleeps (each a pause
    // instruction of a few tens of nanoseconds).
    explicit Event(Reset kind, int spinPolls = 0)
        : spinPolls_(spinPolls), manual_(kind == Reset::Manual) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() {
        signalled_.store(true, std::memory_order_seq_cst);
        // Pairs with the sleeper's increment-then-check: either it sees the flag,
        // or this sees the sleeper and wakes it under the lock it waits with.
        if (sleepers_.load(std::memory_order_seq_cst) > 0) {
            { std::lock_guard<std::mutex> lock(mutex_); }
            if (manual_) {
                changed_.notify_all();
            } else {
                changed_.notify_one();
            }
        }
    }

    // Only while nobody waits on the event.
    void setSpinPolls(int polls) { spinPolls_ = polls; }

    void reset() { signalled_.store(false, std::memory_order_seq_cst); }

    // Blocks until the event is set; an auto-reset event is cleared on the way out.
    void wait() {
        for (int i = 0; i < spinPolls_; ++i) {
            if (tryConsume()) {
                return;
            }
            pause();
        }
        std::unique_lock<std::mutex> lock(mutex_);
        sleepers_.fetch_add(1, std::memory_order_seq_cst);
        changed_.wait(lock, [this] { return tryConsume(); });
        sleepers_.fetch_sub(1, std::memory_order_seq_cst);
    }

    bool isSet() const { return signalled_.load(std::memory_order_acquire); }

private:
    bool tryConsume() {
        if (manual_) {
            return signalled_.load(std::memory_order_acquire);
        }
        bool expected = true;
        return signalled_.load(std::memory_order_relaxed) &&
               signalled_.compare_exchange_strong(expected, false, std::memory_order_acquire);
    }

    static void pause() {
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
    }

    std::atomic<bool> signalled_{false};
    std::atomic<int> sleepers_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    int spinPolls_;
    bool manual_;
};

} // namespace lumo
