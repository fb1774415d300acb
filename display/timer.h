#pragma once
// The high-resolution timer of the display library, on std::chrono::steady_clock.

#include <chrono>

namespace lumo::Framebuffer {

class TimerInterface {
public:
    virtual ~TimerInterface() = default;
    // Both references move to now; the accumulated time becomes 0.
    virtual void reset() = 0;
    // Seconds since the last reset.
    virtual double time() = 0;
    // Seconds since the previous delta call (or the last reset).
    virtual double delta() = 0;
    // Length of one clock tick in seconds.
    virtual double resolution() const = 0;
    // Sleeps for the given seconds, rounded to whole milliseconds; non-positive
    // or non-finite values return at once.
    virtual void wait(double seconds) = 0;
};

// Starts reset, so time() counts from construction.
class SteadyTimer final : public TimerInterface {
public:
    SteadyTimer();
    void reset() override;
    double time() override;
    double delta() override;
    double resolution() const override;
    void wait(double seconds) override;

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point timeReference_;
    Clock::time_point deltaReference_;
    double accumulated_ = 0.0;
};

} // namespace lumo::Framebuffer
