#include "display/frame_display.h"

#include "display/converters.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace lumo::Framebuffer {

bool FrameDisplay::open(const char* title, int width, int height, int output, int mode) {
    close();
    error_.clear();
    if (width <= 0 || height <= 0 || width > kMaxFrameSide || height > kMaxFrameSide) {
        return fail("frame size " + std::to_string(width) + "x" + std::to_string(height) +
                    " is out of range");
    }
    if (output < 0 || output > OutputFullscreen) {
        return fail("unknown display output " + std::to_string(output));
    }
    if (mode != ModeTrueColor && mode != ModeFloat) {
        return fail("unknown display mode " + std::to_string(mode));
    }
    int format = mode == ModeFloat ? FormatXBGRFFFF : FormatXRGB8888;
    int pitch = width * pixelSize(format);
    // At the largest side a float frame is 4 GiB: running out of memory is a
    // failed open, not the end of the program.
    try {
        // Value-initialised: a new frame starts black.
        frame_ = AlignedVector<std::uint8_t>(std::size_t(pitch) * std::size_t(height));
    } catch (const std::bad_alloc&) {
        return fail("cannot allocate the frame memory");
    } catch (const std::length_error&) {
        return fail("cannot allocate the frame memory");
    }
    descriptor_ = {format, frame_.data(), pitch};
    width_ = width;
    height_ = height;
    if (!openOutput(title, output)) {
        close(); // keeps the reason in error_
        return false;
    }
    open_ = true;
    return true;
}

void FrameDisplay::close() {
    closeOutput();
    open_ = closeMarked_ = locked_ = fullscreen_ = switchPending_ = false;
    router_.reset();
    AlignedVector<std::uint8_t>().swap(frame_);
    descriptor_.pixels = nullptr;
}

FrameDescriptor* FrameDisplay::lockFrame() {
    if (!open_) {
        return nullptr;
    }
    if (closeMarked_) {
        close();
        return nullptr;
    }
    if (switchPending_) {
        switchPending_ = false;
        switchOutput();
    }
    if (!deliverEvents()) {
        return nullptr;
    }
    locked_ = true;
    return &descriptor_;
}

void FrameDisplay::present() {
    if (!locked_) {
        return;
    }
    locked_ = false;
    showFrame();
}

bool FrameDisplay::isOpen() const {
    return open_ && !closeMarked_;
}

const char* FrameDisplay::error() const {
    return error_.c_str();
}

WindowCommand FrameDisplay::deliverKeyDown(int virtualKey, bool altHeld) {
    KeyResult result = router_.keyDown(virtualKey, altHeld);
    if (result.closeWindow) {
        closeMarked_ = true;
    }
    // Two presses before the next lockFrame cancel out.
    if (result.toggleFullscreen) {
        switchPending_ = !switchPending_;
    }
    return result.command;
}

void FrameDisplay::deliverCloseRequest() {
    if (router_.closeRequest()) {
        closeMarked_ = true;
    }
}

bool FrameDisplay::fail(std::string reason) {
    error_ = std::move(reason);
    return false;
}

} // namespace lumo::Framebuffer
