#pragma once
// Key codes. Platform layers first map their own key symbols onto Windows-style
// virtual-key codes (letters 65-90, digits 48-57, Escape 0x1B, Enter 0x0D,
// "=" 0xBB, "-" 0xBD, ...); the 256-entry table below then gives the code the
// listener sees. The table is the identity except for Enter, Insert, Delete and
// the punctuation keys.

#include <array>
#include <cstdint>

namespace lumo::Framebuffer {

// The virtual keys named in code; the others appear only as numbers in the
// tables. Plain numbers, not an enum: they index the key table and arrive as
// the int of a key-down.
constexpr int VkBackspace = 0x08;
constexpr int VkTab = 0x09;
constexpr int VkReturn = 0x0D;
constexpr int VkShift = 0x10;
constexpr int VkControl = 0x11;
constexpr int VkAlt = 0x12;
constexpr int VkEscape = 0x1B;
constexpr int VkSpace = 0x20;
constexpr int VkInsert = 0x2D;
constexpr int VkDelete = 0x2E;

// Virtual key -> listener key code.
const std::array<std::uint8_t, 256>& keyTable();
// keyTable()[virtualKey], or -1 outside 0-255.
int translateKey(int virtualKey);

// SDL key symbol (SDL_Keycode value) -> virtual key, or -1 for keys without one.
int virtualKeyFromSdl(std::int32_t sdlKeycode);

} // namespace lumo::Framebuffer
