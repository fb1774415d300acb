#include "display/keys.h"

#include <SDL2/SDL_keycode.h>
#include <gtest/gtest.h>

#include <map>

using namespace lumo::Framebuffer;

// The table is the identity except Enter, Insert, Delete and punctuation; SDL symbols map onto
// virtual keys, and keys without one are dropped rather than aliased onto another.
TEST(KeyTable, VirtualKeysToListenerCodesAndSdlSymbolsToVirtualKeys) {
    const std::map<int, int> changed = {
        {0x0D, 0x0A}, {0x2D, 0x9B}, {0x2E, 0x7F}, {0xBA, 0x3B}, {0xBB, 0x3D}, {0xBC, 0x2C},
        {0xBD, 0x6C}, {0xBE, 0x2E}, {0xBF, 0x2F}, {0xDB, 0x5B}, {0xDC, 0x5C}, {0xDD, 0x5D},
    };
    for (int vk = 0; vk < 256; ++vk) {
        auto it = changed.find(vk);
        const int expected = it == changed.end() ? vk : it->second;
        EXPECT_EQ(keyTable()[vk], expected) << "virtual key " << vk;
        EXPECT_EQ(translateKey(vk), expected);
    }
    EXPECT_EQ(translateKey(-1), -1);
    EXPECT_EQ(translateKey(256), -1);
    const std::pair<SDL_Keycode, int> keys[] = {
        {SDLK_a, 65},        {SDLK_z, 90},          {SDLK_0, 48},        {SDLK_9, 57},
        {SDLK_ESCAPE, 0x1B}, {SDLK_KP_ENTER, 0x0D}, {SDLK_EQUALS, 0xBB}, {SDLK_MINUS, 0xBD},
        {SDLK_F12, 0x7B},    {SDLK_DOWN, 0x28},     {SDLK_RSHIFT, 0x10}, {SDLK_INSERT, 0x2D},
        {SDLK_AUDIOPLAY, -1}};
    for (auto [sdl, virtualKey] : keys) {
        EXPECT_EQ(virtualKeyFromSdl(sdl), virtualKey) << sdl;
    }
}
