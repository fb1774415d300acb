#pragma once
// A display listener that records every callback as a short line, for the display tests.

#include "display/display.h"

#include <string>
#include <vector>

namespace lumo::Framebuffer {

using Lines = std::vector<std::string>;

class RecordingListener : public Listener {
public:
    bool defaultKeys = true, allowClose = true; // the answers to the two questions
    Lines calls;
    Display* lastDisplay = nullptr;
    Mouse lastMouse;

    bool handlesDefaultKeys() override {
        calls.push_back("defaults");
        return defaultKeys;
    }
    void keyDown(Display* d, int key) override { note(d, "down " + std::to_string(key)); }
    void keyStroke(Display* d, int key) override { note(d, "stroke " + std::to_string(key)); }
    void keyUp(Display* d, int key) override { note(d, "up " + std::to_string(key)); }
    void buttonDown(Display* d, const Mouse& m) override { lastMouse = m, note(d, "bdown"); }
    void buttonUp(Display* d, const Mouse& m) override { lastMouse = m, note(d, "bup"); }
    void pointerMove(Display* d, const Mouse& m) override { lastMouse = m, note(d, "move"); }
    void activated(Display* d, bool active) override { note(d, active ? "active" : "inactive"); }
    void opened(Display* d) override { note(d, "opened"); }
    bool closeRequested(Display* d) override {
        note(d, "close?");
        return allowClose;
    }

private:
    void note(Display* d, std::string line) {
        lastDisplay = d;
        calls.push_back(std::move(line));
    }
};

} // namespace lumo::Framebuffer
