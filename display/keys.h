#pragma once
// Key codes. Platform layers first map their own key symbols onto Windows-style
// virtual-key codes (letters 65-90, digits 48-57, Escape 0x1B, Enter 0x0D,
// "=" 0xBB, "-" 0xBD, ...); the 256-entry table below then gives the code the
// listener sees. The table is the identity except for Enter, Insert, Delete and
// the punctuation keys.

#include <array>
#include <cstdint>

namespace lumo::Framebuffer {

enum VirtualKey : int {
    VkBackspace = 0x08,
    VkTab = 0x09,
    VkReturn = 0x0D,
    VkShift = 0x10,
    VkControl = 0x11,
    VkAlt = 0x12,
    VkEscape = 0x1B,
    VkSpace = 0x20,
    VkInsert = 0x2D,
    VkDelete = 0x2E,
};

// Virtual key -> listener key code.
const std::array<std::uint8_t, 256>& keyTable();
// keyTable()[virtualKey], or -1 outside 0-255.
int translateKey(int virtualKey);

// SDL key symbol (SDL_Keycode value) -> virtual key, or -1 for keys without one.
int virtualKeyFromSdl(std::int32_t sdlKeycode);

} // namespace lumo::Framebuffer
