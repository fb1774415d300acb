#include "app/debug_keys.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumo;

namespace {

struct Keys {
    vec4 position{0, -32, -160, 0};
    vec4 angles{};
    bool freeCamera = false;
    int32_t duid = 0;
    float gtn = 3.9f;

    std::string press(int key, int times = 1) {
        testing::internal::CaptureStdout();
        for (int i = 0; i < times; ++i) {
            debugKeyStroke({position, angles, freeCamera, duid, gtn}, key);
        }
        return testing::internal::GetCapturedStdout();
    }
};

} // namespace

TEST(DebugKeys, HeldKeyMovesAndPrintsOneLinePerStroke) {
    Keys k;
    std::string out = k.press('W', 3);
    EXPECT_EQ(k.position, vec4(0, -32, -148, 0));
    EXPECT_EQ(out, "addcam(0.000000,-32.000000,-156.000000,0.000000,0.000000,0.000000);\n"
                   "addcam(0.000000,-32.000000,-152.000000,0.000000,0.000000,0.000000);\n"
                   "addcam(0.000000,-32.000000,-148.000000,0.000000,0.000000,0.000000);\n");
    k.press('A');
    k.press('Z');
    k.press('U');
    k.press('H');
    k.press('I', 2);
    EXPECT_EQ(k.position, vec4(4, -36, -148, 0));
    EXPECT_EQ(k.angles, vec4(0.1f, -0.1f, 0.1f + 0.1f, 0));
}

TEST(DebugKeys, PresetsToggleAndKeysWithoutEffect) {
    Keys k;
    k.press('W');
    EXPECT_EQ(k.press('4'), "addcam(0.000000,0.000000,0.000000,0.000000,0.000000,0.000000);\n");
    EXPECT_EQ(k.position, vec4());
    k.press('5');
    EXPECT_EQ(k.angles, vec4(1.3f, -2.1f, 0, 0));
    EXPECT_EQ(k.position, vec4(-272, 24, -4, 0));

    vec4 before = k.position;
    k.press('=');
    EXPECT_TRUE(k.freeCamera);
    k.press('=');
    EXPECT_FALSE(k.freeCamera);
    EXPECT_EQ(k.position, before);

    // Space changes nothing but still prints the camera.
    EXPECT_EQ(k.press(' '),
              "addcam(-272.000000,24.000000,-4.000000,1.300000,-2.100000,0.000000);\n");
}

TEST(DebugKeys, Counters) {
    Keys k;
    EXPECT_EQ(k.press('8'),
              "gtn is now      3.8900\n"
              "addcam(0.000000,-32.000000,-160.000000,0.000000,0.000000,0.000000);\n");
    EXPECT_EQ(k.gtn, float(double(3.9f) - 0.01));
    float expected = float(double(float(double(k.gtn) + 0.01)) + 0.01);
    k.press('9', 2);
    EXPECT_EQ(k.gtn, expected); // each step rounds back to float
    std::string out = k.press('7');
    EXPECT_EQ(out.substr(0, 14), "duid is now 1\n");
    k.press('7');
    EXPECT_EQ(k.duid, 2);
}
