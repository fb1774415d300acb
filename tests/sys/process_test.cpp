#include "sys/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumo::sys {
namespace {

namespace fs = std::filesystem;

class Process : public testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir / "a");
        fs::create_directories(dir / "b");
    }
    void TearDown() override { fs::remove_all(dir); }

    void file(const fs::path& path, fs::perms perms) {
        std::ofstream(path) << "#!/bin/sh\nexit 0\n";
        fs::permissions(path, perms);
    }

    const fs::path dir = fs::temp_directory_path() / ("lumo-process-" + std::to_string(::getpid()));
};

TEST_F(Process, PathSearchSkipsWhatCannotRunAndTakesTheFirstThatCan) {
    const std::string a = (dir / "a").string(), b = (dir / "b").string();
    const std::string path = a + ":" + b;
    EXPECT_EQ(findInPath("tool", path), "") << "nothing of that name";

    // Not executable, and a directory of that name: neither counts.
    file(dir / "a" / "tool", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(dir / "a" / "dir");
    EXPECT_EQ(findInPath("tool", path), "");
    EXPECT_EQ(findInPath("dir", path), "");

    // Found further on; the first executable one wins.
    file(dir / "b" / "tool", fs::perms::owner_all);
    EXPECT_EQ(findInPath("tool", path), b + "/tool");
    fs::permissions(dir / "a" / "tool", fs::perms::owner_all);
    EXPECT_EQ(findInPath("tool", path), a + "/tool");

    // An empty entry is the current directory; an empty name is nothing.
    const std::string relative = fs::relative(dir / "b" / "tool").string();
    EXPECT_EQ(findInPath(relative, "/nonexistent:"), "./" + relative);
    EXPECT_EQ(findInPath("", path), "");
    EXPECT_NE(findInPath("sh"), "") << "sh is on every PATH";
}

TEST_F(Process, ChildReadsItsInputAndItsExitStatusComesBack) {
    ChildProcess child;
    std::string error;
    const std::string out = (dir / "out").string();
    // The child copies its input to a file and exits with 3.
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "cat > '" + out + "'; exit 3"}, error)) << error;
    ASSERT_TRUE(child.write("hello", 5));
    child.closeInput();
    int status = child.wait();
    EXPECT_FALSE(exitedSuccessfully(status));
    EXPECT_EQ(describeExitStatus(status), "exit status 3");
    EXPECT_EQ(child.wait(), status) << "a second wait answers the same";
    std::ifstream in(out);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hello");

    ChildProcess fine;
    ASSERT_TRUE(fine.start({"/bin/sh", "-c", "exit 0"}, error)) << error;
    EXPECT_TRUE(exitedSuccessfully(fine.wait()));

    ChildProcess missing;
    EXPECT_FALSE(missing.start({(dir / "nothing").string()}, error));
    EXPECT_NE(error.find("cannot start"), std::string::npos) << error;
}

TEST_F(Process, ChildThatStopsReadingIsAWriteErrorAndIsTerminatedAtTheEnd) {
    InterruptGuard guard; // SIGPIPE ignored: the write fails instead of killing the test
    std::string error;
    ChildProcess quitter;
    ASSERT_TRUE(quitter.start({"/bin/sh", "-c", "exit 0"}, error)) << error;
    EXPECT_TRUE(exitedSuccessfully(quitter.wait()));
    std::string block(1 << 20, 'x');
    EXPECT_FALSE(quitter.write(block.data(), block.size()));

    // A child that never ends on its own is ended with SIGTERM.
    ChildProcess sleeper;
    ASSERT_TRUE(sleeper.start({"/bin/sh", "-c", "exec sleep 60"}, error)) << error;
    sleeper.terminate();
    EXPECT_EQ(describeExitStatus(sleeper.wait()), std::string("killed by ") + strsignal(SIGTERM));
}

TEST(InterruptGuard, InterruptRaisesTheFlagOnceAndTheOldActionsComeBack) {
    auto handlerOf = [](int signal) {
        struct sigaction current {};
        sigaction(signal, nullptr, &current);
        return current.sa_handler;
    };
    const auto before = handlerOf(SIGINT);
    {
        InterruptGuard guard;
        EXPECT_FALSE(guard.interrupted());
        EXPECT_EQ(handlerOf(SIGPIPE), SIG_IGN);
        ASSERT_EQ(std::raise(SIGINT), 0); // the test goes on: only the flag is raised
        EXPECT_TRUE(guard.interrupted());
        // A second interrupt would end the program: the default is back.
        EXPECT_EQ(handlerOf(SIGINT), SIG_DFL);
    }
    EXPECT_EQ(handlerOf(SIGINT), before);
    // A new guard starts without the old interrupt.
    InterruptGuard again;
    EXPECT_FALSE(again.interrupted());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(again.interrupted());
}

} // namespace
} // namespace lumo::sys
