#pragma once
// Frames written to files on worker threads while the caller renders the next
// ones. Compressing a PNG takes longer than drawing the frame, so a capture
// that wrote each frame before drawing the next ran at the encoder's pace.
//
// A frame is handed over with its final name; a worker writes it under
// "<final>.part", and the caller's thread renames it to its final name, in the
// order the frames were handed over. So final names always form an unbroken
// run from the first frame, each file whole, whenever the capture stops.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumo {

class FrameWriter {
public:
    // Writes width x height pixels to `path`; false with a one-line reason.
    using Write = std::function<bool(const std::string& path, const uint32_t* pixels, int width,
                                     int height, std::string& error)>;
    // Renames a whole ".part" file to its final name.
    using Rename =
        std::function<bool(const std::string& from, const std::string& to, std::string& error)>;

    // `workers` threads (at least 1); at most `backlog` frames (at least
    // `workers`) are held at once, and add() waits while that many are.
    FrameWriter(int workers, int backlog, Write write, Rename rename);
    // Waits for the frames being written and drops the ones still queued,
    // leaving no ".part" file behind (what was renamed stays).
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Queues a copy of the pixels, to be written as `finalPath`. Returns false
    // with "cannot write NAME: why" once any earlier frame failed; the failed
    // frame's ".part" file is gone, and nothing after it gets renamed.
    bool add(const std::string& finalPath, const uint32_t* pixels, int width, int height,
             std::string& error);

    // Waits until every queued frame is written and renamed.
    bool finish(std::string& error);

    // Stops as the destructor does; for the caller that then cleans up.
    void cancel();

    // The final names written so far, in the order given.
    const std::vector<std::string>& written() const { return written_; }

private:
    struct Job {
        std::string finalPath;
        std::vector<uint32_t> pixels;
        int width = 0, height = 0;
        enum class State { Queued, Writing, Written, Failed } state = State::Queued;
        std::string error;
    };

    void work();
    // Renames the finished frames at the head of the queue; with `wait`, waits
    // until the head is finished first. Called with the lock held.
    bool commitHead(std::unique_lock<std::mutex>& lock, bool wait, std::string& error);

    Write write_;
    Rename rename_;
    size_t backlog_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Job>> jobs_; // in frame order, finished ones at the head
    std::vector<std::vector<uint32_t>> spare_;
    std::vector<std::string> written_;
    std::string failure_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace lumo
