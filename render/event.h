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
#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace lumo {

class Event {
public:
    enum class Reset { Auto, Manual };

    // spin: how long a waiter polls the flag before it sleeps.
    explicit Event(Reset kind, std::chrono::microseconds spin = {})
        : spin_(spin), manual_(kind == Reset::Manual) {}
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
    void setSpin(std::chrono::microseconds spin) { spin_ = spin; }

    void reset() { signalled_.store(false, std::memory_order_seq_cst); }

    // Blocks until the event is set; an auto-reset event is cleared on the way out.
    void wait() {
        if (spin_.count() > 0) {
            // A pause lasts from a few to over a hundred cycles depending on the
            // processor: the clock, read every 64 polls, bounds the polling.
            const auto until = std::chrono::steady_clock::now() + spin_;
            do {
                for (int i = 0; i < 64; ++i) {
                    if (tryConsume()) {
                        return;
                    }
                    pause();
                }
            } while (std::chrono::steady_clock::now() < until);
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
    std::chrono::microseconds spin_;
    bool manual_;
};

} // namespace lumo
