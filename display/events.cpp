#include "display/events.h"

#include "display/keys.h"
#include "display/window_logic.h"

namespace lumo::Framebuffer {

KeyResult EventRouter::keyDown(int virtualKey, bool altHeld) {
    KeyResult result;
    if (virtualKey < 0 || virtualKey > 255) {
        return result;
    }
    // Window commands belong to the display; the listener never sees them.
    if (altHeld && virtualKey == VkReturn) {
        result.toggleFullscreen = true;
        return result;
    }
    if (altHeld && shortcutCommand(virtualKey) != WindowCommand::None) {
        result.command = shortcutCommand(virtualKey);
        return result;
    }
    Listener* listener = display_.listener();
    int key = translateKey(virtualKey);
    if (!keysDown_[virtualKey]) {
        if (listener) {
            listener->keyDown(display_.owner(), key);
            if (listener->handlesDefaultKeys() && virtualKey == VkEscape) {
                result.closeWindow = true;
            }
        } else if (virtualKey == VkEscape) {
            result.closeWindow = true;
        }
        keysDown_[virtualKey] = true;
    }
    if (listener) {
        listener->keyStroke(display_.owner(), key);
    }
    return result;
}

void EventRouter::keyUp(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) {
        return;
    }
    if (Listener* listener = display_.listener()) {
        listener->keyUp(display_.owner(), translateKey(virtualKey));
    }
    keysDown_[virtualKey] = false;
}

bool EventRouter::closeRequest() {
    Listener* listener = display_.listener();
    return listener ? listener->closeRequested(display_.owner()) : true;
}

void EventRouter::activation(bool active) {
    if (Listener* listener = display_.listener()) {
        listener->activated(display_.owner(), active);
    }
}

void EventRouter::pointerMove(float x, float y) {
    mouse_.x = x;
    mouse_.y = y;
    if (Listener* listener = display_.listener()) {
        listener->pointerMove(display_.owner(), mouse_);
    }
}

int EventRouter::button(MouseButton which, bool down, float x, float y) {
    bool anyBefore = mouse_.left || mouse_.middle || mouse_.right;
    std::uint8_t& flag = which == MouseButton::Left     ? mouse_.left
                         : which == MouseButton::Middle ? mouse_.middle
                                                        : mouse_.right;
    flag = down ? 1 : 0;
    mouse_.x = x;
    mouse_.y = y;
    bool anyAfter = mouse_.left || mouse_.middle || mouse_.right;
    if (Listener* listener = display_.listener()) {
        if (down) {
            listener->buttonDown(display_.owner(), mouse_);
        } else {
            listener->buttonUp(display_.owner(), mouse_);
        }
    }
    if (!anyBefore && anyAfter) {
        return 1;
    }
    if (anyBefore && !anyAfter) {
        return -1;
    }
    return 0;
}

void EventRouter::reset() {
    keysDown_.fill(false);
    mouse_ = Mouse{};
}

bool EventRouter::isKeyDown(int virtualKey) const {
    return virtualKey >= 0 && virtualKey <= 255 && keysDown_[virtualKey];
}

} // namespace lumo::Framebuffer
