#pragma once
// The one sink for the console lines of the libraries beneath app/ (math,
// params, assets, render, and audio's fallback line). By default a line goes to standard output exactly as printf
// would write it, in order with the program's own printf lines; a test or a
// fuzz target installs another sink instead of redirecting file descriptors.
//
// The sink may be called from the renderer's workers, so a sink must be safe
// to call from several threads at once (LogCapture is).

#include <mutex>
#include <string>
#include <string_view>

namespace lumo {

class LogSink {
public:
    virtual void write(std::string_view text) = 0;

protected:
    ~LogSink() = default;
};

// printf-style; the text goes to the installed sink unchanged (no newline added).
void logPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Installs sink (null: standard output again) and returns the one it replaces.
LogSink* setLogSink(LogSink* sink);

// Takes everything logged while it lives, then puts the previous sink back.
// With keep = false the text is dropped (fuzz targets, noisy tests).
class LogCapture final : public LogSink {
public:
    explicit LogCapture(bool keep = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void write(std::string_view text) override;
    std::string text() const;

private:
    bool keep_;
    LogSink* previous_;
    mutable std::mutex mutex_;
    std::string text_;
};

} // namespace lumo
