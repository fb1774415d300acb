#include "display/display.h"

namespace lumo::Framebuffer {

std::int32_t forceFullscreenMode = 0;
std::int32_t forcedModeWidth = 0;
std::int32_t forcedModeHeight = 0;

Display::Display(std::unique_ptr<DisplayInterface> implementation) {
    setImplementation(std::move(implementation));
}

Display::~Display() {
    releaseImplementation();
}

void Display::setImplementation(std::unique_ptr<DisplayInterface> implementation) {
    releaseImplementation();
    impl_ = std::move(implementation);
    if (impl_) {
        impl_->setOwner(this);
    }
}

void Display::releaseImplementation() {
    if (!impl_) {
        return;
    }
    impl_->close();
    impl_.reset();
}

bool Display::open(const char* title, int width, int height, int output, int mode) {
    if (!impl_) {
        return false;
    }
    if (!impl_->open(title, width, height, output, mode)) {
        return false;
    }
    if (Listener* listener = impl_->listener()) {
        listener->opened(this);
    }
    return true;
}

void Display::close() {
    if (impl_) {
        impl_->close();
    }
}

void Display::setListener(Listener* listener) {
    if (impl_) {
        impl_->setListener(listener);
    }
}

FrameDescriptor* Display::lockFrame() {
    return impl_ ? impl_->lockFrame() : nullptr;
}

void Display::present() {
    if (impl_) {
        impl_->present();
    }
}

bool Display::isOpen() const {
    return impl_ && impl_->isOpen();
}

const char* Display::error() const {
    return impl_ ? impl_->error() : "no display implementation";
}

void Display::setVsync(bool on) {
    if (impl_) {
        impl_->setVsync(on);
    }
}

double Display::refreshRate() const {
    return impl_ ? impl_->refreshRate() : 0.0;
}

bool Display::presentsInStep() const {
    return impl_ && impl_->presentsInStep();
}

bool Display::minimized() const {
    return impl_ && impl_->minimized();
}

} // namespace lumo::Framebuffer
