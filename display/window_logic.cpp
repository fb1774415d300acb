#include "display/window_logic.h"

#include "display/display.h"

#include <algorithm>

namespace lumo::Framebuffer {

int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight,
                         bool forced, int forcedWidth, int forcedHeight) {
    int chosen = -1;
    for (int i = 0; i < int(modes.size()); ++i) {
        const DisplayMode& m = modes[i];
        if (m.width < frameWidth || m.height < frameHeight) {
            continue;
        }
        if (forced && (m.width != forcedWidth || m.height != forcedHeight)) {
            continue;
        }
        if (chosen >= 0 && (m.width > modes[chosen].width || m.height > modes[chosen].height)) {
            continue;
        }
        chosen = i;
    }
    return chosen;
}

int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight) {
    return chooseFullscreenMode(modes, frameWidth, frameHeight, forceFullscreenMode == 1,
                                forcedModeWidth, forcedModeHeight);
}

int zoomOf(WindowCommand command) {
    switch (command) {
    case WindowCommand::OriginalSize:
        return 1;
    case WindowCommand::Zoom2:
        return 2;
    case WindowCommand::Zoom4:
        return 4;
    case WindowCommand::Zoom8:
        return 8;
    default:
        return 0;
    }
}

std::vector<WindowCommand> offeredCommands(const WindowState& state) {
    std::vector<WindowCommand> commands;
    if (!state.fullscreen && !state.minimized && !state.maximized) {
        commands.push_back(WindowCommand::OriginalSize);
        for (WindowCommand command :
             {WindowCommand::Zoom2, WindowCommand::Zoom4, WindowCommand::Zoom8}) {
            // In 64 bits: a huge frame times 8 must not wrap round into "fits".
            long long k = zoomOf(command);
            if (k * state.frameWidth < state.screenWidth &&
                k * state.frameHeight < state.screenHeight) {
                commands.push_back(command);
            }
        }
    }
    commands.push_back(state.fullscreen ? WindowCommand::Windowed : WindowCommand::Fullscreen);
    if (!state.fullscreen && !state.centred) {
        commands.push_back(WindowCommand::Center);
    }
    return commands;
}

bool isOffered(const WindowState& state, WindowCommand command) {
    std::vector<WindowCommand> commands = offeredCommands(state);
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

WindowCommand shortcutCommand(int virtualKey) {
    switch (virtualKey) {
    case '1':
        return WindowCommand::OriginalSize;
    case '2':
        return WindowCommand::Zoom2;
    case '4':
        return WindowCommand::Zoom4;
    case '8':
        return WindowCommand::Zoom8;
    case 'C':
        return WindowCommand::Center;
    default:
        return WindowCommand::None;
    }
}

WindowRect centredRect(int screenWidth, int screenHeight, int width, int height) {
    return {std::max(0, (screenWidth - width) / 2), std::max(0, (screenHeight - height) / 2), width,
            height};
}

WindowRect fittedSize(int screenWidth, int screenHeight, int frameWidth, int frameHeight) {
    if (screenWidth <= 0 || screenHeight <= 0 || frameWidth <= 0 || frameHeight <= 0 ||
        (frameWidth <= screenWidth && frameHeight <= screenHeight)) {
        return {0, 0, frameWidth, frameHeight};
    }
    // The smaller of the two ratios, compared in 64 bits.
    const long long w = frameWidth, h = frameHeight;
    if (w * screenHeight >= h * screenWidth) {
        return {0, 0, screenWidth, int(std::max(1LL, h * screenWidth / w))};
    }
    return {0, 0, int(std::max(1LL, w * screenHeight / h)), screenHeight};
}

WindowRect zoomedRect(const WindowRect& current, int frameWidth, int frameHeight, int zoom) {
    int width = frameWidth * zoom, height = frameHeight * zoom;
    int centreX = current.x + current.width / 2, centreY = current.y + current.height / 2;
    return {std::max(0, centreX - width / 2), std::max(0, centreY - height / 2), width, height};
}

float toFramePixels(int coordinate, int frameSize, int clientSize) {
    if (clientSize <= 0) {
        return 0.0f;
    }
    return float(coordinate) * float(frameSize) / float(clientSize);
}

} // namespace lumo::Framebuffer
