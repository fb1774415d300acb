// make_test_mp3 OUT.mp3 SECONDS: the music of the end-to-end tests.
#include "tests/e2e/testmp3.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_test_mp3 OUT.mp3 SECONDS\n");
        return 2;
    }
    double seconds = std::atof(argv[2]);
    if (!(seconds > 0.0 && seconds < 3600.0)) {
        std::fprintf(stderr, "make_test_mp3: SECONDS must be in (0, 3600)\n");
        return 2;
    }
    if (!lumo::test::writeTestMp3(argv[1], uint32_t(seconds * 44100.0))) {
        std::fprintf(stderr, "make_test_mp3: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
