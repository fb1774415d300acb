#include "display/keys.h"

#include <SDL2/SDL_keycode.h>

namespace lumo::Framebuffer {

namespace {

constexpr std::array<std::uint8_t, 256> buildKeyTable() {
    std::array<std::uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[i] = std::uint8_t(i);
    }
    table[0x0D] = 0x0A; // Enter
    table[0x2D] = 0x9B; // Insert
    table[0x2E] = 0x7F; // Delete
    table[0xBA] = 0x3B; // semicolon
    table[0xBB] = 0x3D; // plus/equals
    table[0xBC] = 0x2C; // comma
    table[0xBD] = 0x6C; // minus
    table[0xBE] = 0x2E; // period
    table[0xBF] = 0x2F; // slash
    table[0xDB] = 0x5B; // left bracket
    table[0xDC] = 0x5C; // backslash
    table[0xDD] = 0x5D; // right bracket
    return table;
}

constexpr std::array<std::uint8_t, 256> kKeyTable = buildKeyTable();

struct SdlKey {
    SDL_Keycode sdl;
    int vk;
};

// Keys whose SDL symbol is not a letter or digit, onto their virtual keys.
constexpr SdlKey kSdlKeys[] = {
    {SDLK_BACKSPACE, 0x08},   {SDLK_TAB, 0x09},          {SDLK_RETURN, 0x0D},
    {SDLK_KP_ENTER, 0x0D},    {SDLK_LSHIFT, 0x10},       {SDLK_RSHIFT, 0x10},
    {SDLK_LCTRL, 0x11},       {SDLK_RCTRL, 0x11},        {SDLK_LALT, 0x12},
    {SDLK_RALT, 0x12},        {SDLK_PAUSE, 0x13},        {SDLK_CAPSLOCK, 0x14},
    {SDLK_ESCAPE, 0x1B},      {SDLK_SPACE, 0x20},        {SDLK_PAGEUP, 0x21},
    {SDLK_PAGEDOWN, 0x22},    {SDLK_END, 0x23},          {SDLK_HOME, 0x24},
    {SDLK_LEFT, 0x25},        {SDLK_UP, 0x26},           {SDLK_RIGHT, 0x27},
    {SDLK_DOWN, 0x28},        {SDLK_PRINTSCREEN, 0x2C},  {SDLK_INSERT, 0x2D},
    {SDLK_DELETE, 0x2E},      {SDLK_LGUI, 0x5B},         {SDLK_RGUI, 0x5C},
    {SDLK_APPLICATION, 0x5D}, {SDLK_KP_0, 0x60},         {SDLK_KP_1, 0x61},
    {SDLK_KP_2, 0x62},        {SDLK_KP_3, 0x63},         {SDLK_KP_4, 0x64},
    {SDLK_KP_5, 0x65},        {SDLK_KP_6, 0x66},         {SDLK_KP_7, 0x67},
    {SDLK_KP_8, 0x68},        {SDLK_KP_9, 0x69},         {SDLK_KP_MULTIPLY, 0x6A},
    {SDLK_KP_PLUS, 0x6B},     {SDLK_KP_MINUS, 0x6D},     {SDLK_KP_PERIOD, 0x6E},
    {SDLK_KP_DIVIDE, 0x6F},   {SDLK_NUMLOCKCLEAR, 0x90}, {SDLK_SCROLLLOCK, 0x91},
    {SDLK_SEMICOLON, 0xBA},   {SDLK_EQUALS, 0xBB},       {SDLK_PLUS, 0xBB},
    {SDLK_COMMA, 0xBC},       {SDLK_MINUS, 0xBD},        {SDLK_PERIOD, 0xBE},
    {SDLK_SLASH, 0xBF},       {SDLK_BACKQUOTE, 0xC0},    {SDLK_LEFTBRACKET, 0xDB},
    {SDLK_BACKSLASH, 0xDC},   {SDLK_RIGHTBRACKET, 0xDD}, {SDLK_QUOTE, 0xDE},
};

} // namespace

const std::array<std::uint8_t, 256>& keyTable() {
    return kKeyTable;
}

int translateKey(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255) {
        return -1;
    }
    return kKeyTable[virtualKey];
}

int virtualKeyFromSdl(std::int32_t sdlKeycode) {
    // Letters arrive as their lower-case symbols; virtual keys are upper case.
    if (sdlKeycode >= SDLK_a && sdlKeycode <= SDLK_z) {
        return int(sdlKeycode) - 32;
    }
    if (sdlKeycode >= SDLK_0 && sdlKeycode <= SDLK_9) {
        return int(sdlKeycode);
    }
    if (sdlKeycode >= SDLK_F1 && sdlKeycode <= SDLK_F12) {
        return 0x70 + int(sdlKeycode - SDLK_F1);
    }
    for (const SdlKey& key : kSdlKeys) {
        if (key.sdl == sdlKeycode) {
            return key.vk;
        }
    }
    return -1;
}

} // namespace lumo::Framebuffer
