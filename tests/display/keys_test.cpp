#include "display/keys.h"

#include <SDL2/SDL_keycode.h>
#include <gtest/gtest.h>

#include <map>

using namespace lumo::Framebuffer;

TEST(KeyTable, IdentityExceptEnterInsertDeleteAndPunctuation) {
    const std::map<int, int> changed = {
        {0x0D, 0x0A}, {0x2D, 0x9B}, {0x2E, 0x7F}, {0xBA, 0x3B}, {0xBB, 0x3D}, {0xBC, 0x2C},
        {0xBD, 0x6C}, {0xBE, 0x2E}, {0xBF, 0x2F}, {0xDB, 0x5B}, {0xDC, 0x5C}, {0xDD, 0x5D},
    };
    for (int vk = 0; vk < 256; ++vk) {
        auto it = changed.find(vk);
        int expected = it == changed.end() ? vk : it->second;
        EXPECT_EQ(keyTable()[vk], expected) << "virtual key " << vk;
        EXPECT_EQ(translateKey(vk), expected);
    }
    EXPECT_EQ(translateKey(-1), -1);
    EXPECT_EQ(translateKey(256), -1);
}

// SDL symbols to virtual keys, and what the listener finally sees for them. Keys without
// a virtual key are dropped rather than aliased onto another.
TEST(KeyTable, SdlSymbolsMapOntoVirtualKeysAndListenerCodes) {
    const struct {
        SDL_Keycode sdl;
        int virtualKey, listenerCode;
    } keys[] = {{SDLK_a, 65, 65},        {SDLK_z, 90, 90},          {SDLK_0, 48, 48},
                {SDLK_9, 57, 57},        {SDLK_ESCAPE, 0x1B, 27},   {SDLK_KP_ENTER, 0x0D, 10},
                {SDLK_EQUALS, 0xBB, 61}, {SDLK_MINUS, 0xBD, 0x6C},  {SDLK_F12, 0x7B, 0x7B},
                {SDLK_DOWN, 0x28, 0x28}, {SDLK_RSHIFT, 0x10, 0x10}, {SDLK_INSERT, 0x2D, 0x9B},
                {SDLK_AUDIOPLAY, -1, -1}};
    for (const auto& k : keys) {
        EXPECT_EQ(virtualKeyFromSdl(k.sdl), k.virtualKey) << k.sdl;
        EXPECT_EQ(translateKey(virtualKeyFromSdl(k.sdl)), k.listenerCode) << k.sdl;
    }
}
