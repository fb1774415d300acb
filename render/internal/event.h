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
//
// rouse() is a hint that a set() is near: a sleeping waiter wakes and polls
// again, and a polling one keeps polling, for the longer roused spin, so that
// the wake-up's cost is paid while the setter is still busy rather than after
// it has set the event.

#include <algorithm>
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
        : spin_(spin), rousedSpin_(spin), manual_(kind == Reset::Manual) {}
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
    void setSpin(std::chrono::microseconds spin, std::chrono::microseconds roused = {}) {
        spin_ = spin;
        rousedSpin_ = std::max(spin, roused);
    }

    // Wakes sleeping waiters without setting the event; they, and waiters still
    // polling, poll for the roused spin and then sleep unless the event was set.
    void rouse() {
        rouses_.fetch_add(1, std::memory_order_seq_cst);
        // Pairs with the sleeper's increment-then-check, as in set().
        if (sleepers_.load(std::memory_order_seq_cst) > 0) {
            { std::lock_guard<std::mutex> lock(mutex_); }
            changed_.notify_all();
        }
    }

    void reset() { signalled_.store(false, std::memory_order_seq_cst); }

    // Blocks until the event is set; an auto-reset event is cleared on the way
    // out. mayPoll false: sleep at once, without polling first.
    void wait(bool mayPoll = true) {
        unsigned seen = rouses_.load(std::memory_order_seq_cst);
        const std::chrono::microseconds none{0};
        for (auto spin = mayPoll ? spin_ : none;; spin = mayPoll ? rousedSpin_ : none) {
            if (poll(spin, seen)) {
                return;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            sleepers_.fetch_add(1, std::memory_order_seq_cst);
            bool consumed = false;
            changed_.wait(lock, [&] {
                return (consumed = tryConsume()) || rouses_.load(std::memory_order_seq_cst) != seen;
            });
            sleepers_.fetch_sub(1, std::memory_order_seq_cst);
            if (consumed) {
                return;
            }
            seen = rouses_.load(std::memory_order_seq_cst);
        }
    }

    bool isSet() const { return signalled_.load(std::memory_order_acquire); }

private:
    // Polls the flag for about `spin`, or for the roused spin from a rouse seen
    // meanwhile: a pause lasts from a few to over a hundred cycles depending on
    // the processor, so the clock, read every 64 polls, bounds it.
    bool poll(std::chrono::microseconds spin, unsigned& seen) {
        if (spin.count() <= 0) {
            return false;
        }
        auto now = std::chrono::steady_clock::now();
        auto until = now + spin;
        do {
            for (int i = 0; i < 64; ++i) {
                if (tryConsume()) {
                    return true;
                }
                pause();
            }
            now = std::chrono::steady_clock::now();
            const unsigned rouses = rouses_.load(std::memory_order_relaxed);
            if (rouses != seen) {
                seen = rouses;
                until = now + rousedSpin_;
            }
        } while (now < until);
        return false;
    }

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
    std::atomic<unsigned> rouses_{0};
    std::chrono::microseconds spin_;
    std::chrono::microseconds rousedSpin_;
    bool manual_;
};

} // namespace lumo
