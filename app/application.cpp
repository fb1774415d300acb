#include "app/application.h"

#include "app/debug_keys.h"
#include "display/keys.h"
#include "display/sdl_display.h"

namespace lumo {

Application::Application() : Application(std::make_unique<Framebuffer::SdlDisplay>()) {}

Application::Application(std::unique_ptr<Framebuffer::DisplayInterface> implementation) {
    display.setImplementation(std::move(implementation));
}

Application::~Application() {
    display.releaseImplementation();
}

void Application::keyDown(Framebuffer::Display*, int key) {
    if (key == Framebuffer::VkEscape) {
        quitRequested = true;
    }
}

void Application::keyStroke(Framebuffer::Display*, int key) {
    debugKeyStroke({cameraPosition, cameraAngles, freeCamera, duid, gtn}, key);
}

bool Application::closeRequested(Framebuffer::Display*) {
    quitRequested = true;
    return true;
}

} // namespace lumo
