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

TEST(KeyTable, SdlSymbolsMapOntoVirtualKeys) {
    EXPECT_EQ(virtualKeyFromSdl(SDLK_a), 65);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_z), 90);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_0), 48);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_9), 57);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_ESCAPE), 0x1B);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_RETURN), 0x0D);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_KP_ENTER), 0x0D);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_EQUALS), 0xBB);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_MINUS), 0xBD);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_F1), 0x70);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_F12), 0x7B);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_LEFT), 0x25);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_DOWN), 0x28);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_LALT), 0x12);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_RSHIFT), 0x10);
    // Keys without a virtual key are dropped rather than aliased onto another.
    EXPECT_EQ(virtualKeyFromSdl(SDLK_AUDIOPLAY), -1);
    EXPECT_EQ(virtualKeyFromSdl(SDLK_UNKNOWN), -1);
}

// What the listener finally sees for the keys the application reads.
TEST(KeyTable, ListenerCodesOfTheDebugKeys) {
    auto code = [](SDL_Keycode k) { return translateKey(virtualKeyFromSdl(k)); };
    EXPECT_EQ(code(SDLK_w), 87);
    EXPECT_EQ(code(SDLK_s), 83);
    EXPECT_EQ(code(SDLK_y), 89);
    EXPECT_EQ(code(SDLK_7), 55);
    EXPECT_EQ(code(SDLK_EQUALS), 61);
    EXPECT_EQ(code(SDLK_ESCAPE), 27);
    EXPECT_EQ(code(SDLK_RETURN), 10);
    EXPECT_EQ(code(SDLK_INSERT), 0x9B);
    EXPECT_EQ(code(SDLK_DELETE), 0x7F);
    EXPECT_EQ(code(SDLK_MINUS), 0x6C);
}
