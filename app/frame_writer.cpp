#include "app/frame_writer.h"

#include "sys/threads.h"

#include <algorithm>
#include <cstdio>

namespace lumo {

FrameWriter::FrameWriter(int workers, int backlog, Write write, Rename rename)
    : write_(std::move(write)), rename_(std::move(rename)),
      backlog_(size_t(std::max({1, workers, backlog}))) {
    for (int i = 0; i < std::max(1, workers); ++i) {
        threads_.emplace_back([this] { work(); });
    }
}

FrameWriter::~FrameWriter() {
    cancel();
}

void FrameWriter::work() {
    // The renderer's workers meet at barriers several times a frame: an
    // encoder that took a processor from one of them would stall them all.
    // Encoding mostly on what they leave idle costs the capture far less.
    // (Refused, the encoder simply runs at normal priority.)
    sys::runInBackground();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        auto queued = [this] {
            return std::find_if(jobs_.begin(), jobs_.end(), [](const std::unique_ptr<Job>& job) {
                return job->state == Job::State::Queued;
            });
        };
        changed_.wait(lock, [&] { return stopping_ || queued() != jobs_.end(); });
        if (stopping_) {
            return;
        }
        Job& job = **queued();
        job.state = Job::State::Writing;
        lock.unlock();
        std::string error;
        bool ok = write_(job.finalPath + ".part", job.pixels.data(), job.width, job.height, error);
        if (!ok) {
            std::remove((job.finalPath + ".part").c_str());
        }
        lock.lock();
        job.state = ok ? Job::State::Written : Job::State::Failed;
        job.error = std::move(error);
        changed_.notify_all();
    }
}

bool FrameWriter::commitHead(std::unique_lock<std::mutex>& lock, bool wait, std::string& error) {
    if (wait && !jobs_.empty()) {
        changed_.wait(lock, [this] {
            auto state = jobs_.front()->state;
            return state == Job::State::Written || state == Job::State::Failed;
        });
    }
    while (failure_.empty() && !jobs_.empty()) {
        Job& job = *jobs_.front();
        if (job.state == Job::State::Failed) {
            failure_ = "cannot write " + job.finalPath + ": " + job.error;
            break;
        }
        if (job.state != Job::State::Written) {
            break;
        }
        // Only this thread touches a written job, so the rename needs no lock.
        lock.unlock();
        std::string why;
        const std::string part = job.finalPath + ".part";
        bool renamed = rename_(part, job.finalPath, why);
        if (!renamed) {
            std::remove(part.c_str());
        }
        lock.lock();
        if (!renamed) {
            failure_ = "cannot write " + job.finalPath + ": " + why;
            jobs_.pop_front();
            break;
        }
        written_.push_back(job.finalPath);
        spare_.push_back(std::move(job.pixels));
        jobs_.pop_front();
    }
    if (failure_.empty() && stopping_) {
        // Nothing writes any more: waiting for the queue would never end.
        failure_ = "the frame writer was stopped";
    }
    error = failure_;
    return failure_.empty();
}

bool FrameWriter::add(const std::string& finalPath, const uint32_t* pixels, int width, int height,
                      std::string& error) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!commitHead(lock, false, error)) {
        return false;
    }
    while (jobs_.size() >= backlog_) {
        if (!commitHead(lock, true, error)) {
            return false;
        }
    }
    auto job = std::make_unique<Job>();
    job->finalPath = finalPath;
    if (!spare_.empty()) {
        job->pixels = std::move(spare_.back());
        spare_.pop_back();
    }
    job->pixels.assign(pixels, pixels + size_t(width) * size_t(height));
    job->width = width;
    job->height = height;
    jobs_.push_back(std::move(job));
    changed_.notify_all();
    return true;
}

bool FrameWriter::finish(std::string& error) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!jobs_.empty()) {
        if (!commitHead(lock, true, error)) {
            return false;
        }
    }
    return commitHead(lock, false, error);
}

void FrameWriter::cancel() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        // A frame being written is let finish, so that its ".part" file can go.
        changed_.wait(lock, [this] {
            return std::none_of(jobs_.begin(), jobs_.end(), [](const std::unique_ptr<Job>& job) {
                return job->state == Job::State::Writing;
            });
        });
        for (const std::unique_ptr<Job>& job : jobs_) {
            if (job->state != Job::State::Queued) {
                std::remove((job->finalPath + ".part").c_str());
            }
        }
        jobs_.clear();
    }
    for (std::thread& thread : threads_) {
        thread.join();
    }
    threads_.clear();
}

} // namespace lumo
