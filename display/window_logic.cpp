#include "display/window_logic.h"

#include "display/display.h"
#include "display/keys.h"

#include <algorithm>

namespace lumo::Framebuffer {

int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight,
                         bool forced, int forcedWidth, int forcedHeight) {
    int chosen = -1;
    for (int i = 0; i < int(modes.size()); ++i) {
        const DisplayMode& m = modes[i];
        if (m.width < frameWidth || m.height < frameHeight)
            continue;
        if (forced && (m.width != forcedWidth || m.height != forcedHeight))
            continue;
        if (chosen >= 0 && (m.width > modes[chosen].width || m.height > modes[chosen].height))
            continue;
        chosen = i;
    }
    return chosen;
}

int chooseFullscreenMode(std::span<const DisplayMode> modes, int frameWidth, int frameHeight) {
    return chooseFullscreenMode(modes, frameWidth, frameHeight, forceFullscreenMode == 1,
                                forcedModeWidth, forcedModeHeight);
}

int zoomOf(int command) {
    switch (command) {
    case CommandOriginalSize:
        return 1;
    case CommandZoom2:
        return 2;
    case CommandZoom4:
        return 4;
    case CommandZoom8:
        return 8;
    default:
        return 0;
    }
}

std::vector<int> offeredCommands(const WindowState& state) {
    std::vector<int> commands;
    if (!state.fullscreen && !state.minimized && !state.maximized) {
        commands.push_back(CommandOriginalSize);
        for (int command : {CommandZoom2, CommandZoom4, CommandZoom8}) {
            // In 64 bits: a huge frame times 8 must not wrap round into "fits".
            long long k = zoomOf(command);
            if (k * state.frameWidth < state.screenWidth &&
                k * state.frameHeight < state.screenHeight)
                commands.push_back(command);
        }
    }
    commands.push_back(state.fullscreen ? CommandWindowed : CommandFullscreen);
    if (!state.fullscreen && !state.centred)
        commands.push_back(CommandCenter);
    return commands;
}

bool isOffered(const WindowState& state, int command) {
    std::vector<int> commands = offeredCommands(state);
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

int shortcutCommand(int virtualKey) {
    switch (virtualKey) {
    case '1':
        return CommandOriginalSize;
    case '2':
        return CommandZoom2;
    case '4':
        return CommandZoom4;
    case '8':
        return CommandZoom8;
    case 'C':
        return CommandCenter;
    default:
        return 0;
    }
}

WindowRect centredRect(int screenWidth, int screenHeight, int width, int height) {
    return {std::max(0, (screenWidth - width) / 2), std::max(0, (screenHeight - height) / 2), width,
            height};
}

WindowRect zoomedRect(const WindowRect& current, int frameWidth, int frameHeight, int zoom) {
    int width = frameWidth * zoom, height = frameHeight * zoom;
    int centreX = current.x + current.width / 2, centreY = current.y + current.height / 2;
    return {std::max(0, centreX - width / 2), std::max(0, centreY - height / 2), width, height};
}

float toFramePixels(int coordinate, int frameSize, int clientSize) {
    if (clientSize <= 0)
        return 0.0f;
    return float(coordinate) * float(frameSize) / float(clientSize);
}

} // namespace lumo::Framebuffer
