#include "sys/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace lumo {

namespace {
std::atomic<LogSink*> installed{nullptr};
}

void logPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogSink* sink = installed.load(std::memory_order_acquire);
    if (!sink) {
        std::vprintf(format, args);
        va_end(args);
        return;
    }
    // Most lines fit the stack buffer; a longer one is formatted a second time.
    char buffer[512];
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (length >= 0 && size_t(length) < sizeof buffer) {
        sink->write(std::string_view(buffer, size_t(length)));
    } else if (length >= 0) {
        std::vector<char> text(size_t(length) + 1);
        std::vsnprintf(text.data(), text.size(), format, again);
        sink->write(std::string_view(text.data(), size_t(length)));
    }
    va_end(again);
    va_end(args);
}

LogSink* setLogSink(LogSink* sink) {
    return installed.exchange(sink, std::memory_order_acq_rel);
}

LogCapture::LogCapture(bool keep) : keep_(keep), previous_(setLogSink(this)) {}

LogCapture::~LogCapture() {
    setLogSink(previous_);
}

void LogCapture::write(std::string_view text) {
    if (keep_) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.append(text);
    }
}

std::string LogCapture::text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

} // namespace lumo
