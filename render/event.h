#pragma once
// The workers' only synchronisation: small events in the manner of the classic
// auto-reset and manual-reset kinds. An auto-reset event wakes one waiter and
// clears itself; a manual-reset event stays set (and lets every waiter through)
// until reset. Set and wait pair through the mutex, so everything written before
// set() is visible after the matching wait() returns.

#include <condition_variable>
#include <mutex>

namespace lumo {

class Event {
public:
    enum class Reset { Auto, Manual };

    explicit Event(Reset kind) : manual_(kind == Reset::Manual) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void set() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            signalled_ = true;
        }
        if (manual_) {
            changed_.notify_all();
        } else {
            changed_.notify_one();
        }
    }

    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }

    // Blocks until the event is set; an auto-reset event is cleared on the way out.
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return signalled_; });
        if (!manual_) {
            signalled_ = false;
        }
    }

    bool isSet() {
        std::lock_guard<std::mutex> lock(mutex_);
        return signalled_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
    bool manual_;
};

} // namespace lumo
