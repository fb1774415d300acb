#include "display/timer.h"

#include <cmath>
#include <thread>

namespace lumo::Framebuffer {

SteadyTimer::SteadyTimer() {
    reset();
}

void SteadyTimer::reset() {
    timeReference_ = deltaReference_ = Clock::now();
    accumulated_ = 0.0;
}

double SteadyTimer::time() {
    Clock::time_point now = Clock::now();
    accumulated_ += std::chrono::duration<double>(now - timeReference_).count();
    timeReference_ = now;
    return accumulated_;
}

double SteadyTimer::delta() {
    Clock::time_point now = Clock::now();
    double seconds = std::chrono::duration<double>(now - deltaReference_).count();
    deltaReference_ = now;
    return seconds;
}

double SteadyTimer::resolution() const {
    return double(Clock::period::num) / double(Clock::period::den);
}

void SteadyTimer::wait(double seconds) {
    // NaN fails the comparison; a huge value would overflow the conversion.
    if (!(seconds > 0.0) || seconds > 1.0e6) {
        return;
    }
    long long milliseconds = std::llround(seconds * 1000.0);
    if (milliseconds > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
}

} // namespace lumo::Framebuffer
