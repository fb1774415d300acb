#include "sys/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>

namespace lumo::sys {
namespace {

namespace fs = std::filesystem;

TEST(Process, PathSearchSkipsWhatCannotRunAndTakesTheFirstThatCan) {
    const fs::path dir = fs::temp_directory_path() / ("lumo-process-" + std::to_string(::getpid()));
    fs::create_directories(dir / "a" / "dir");
    fs::create_directories(dir / "b");
    const std::string a = (dir / "a").string(), b = (dir / "b").string(), path = a + ":" + b;
    // Nothing of that name, a file that cannot run, a directory: none counts.
    EXPECT_EQ(findInPath("tool", path), "");
    std::ofstream(dir / "a" / "tool") << "#!/bin/sh\nexit 0\n";
    fs::copy_file(dir / "a" / "tool", dir / "b" / "tool");
    fs::permissions(dir / "a" / "tool", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(findInPath("tool", path), "");
    EXPECT_EQ(findInPath("dir", path), "");

    // Found further on; the first executable one wins.
    fs::permissions(dir / "b" / "tool", fs::perms::owner_all);
    EXPECT_EQ(findInPath("tool", path), b + "/tool");
    fs::permissions(dir / "a" / "tool", fs::perms::owner_all);
    EXPECT_EQ(findInPath("tool", path), a + "/tool");

    // An empty entry is the current directory; an empty name is nothing.
    const std::string relative = fs::relative(dir / "b" / "tool").string();
    EXPECT_EQ(findInPath(relative, "/nonexistent:"), "./" + relative);
    EXPECT_EQ(findInPath("", path), "");
    fs::remove_all(dir);
}

TEST(Process, ChildReadsItsInputStatusComesBackAndOneThatStopsReadingIsAWriteError) {
    InterruptGuard guard; // SIGPIPE ignored: the write fails instead of killing the test
    std::string error;
    ChildProcess child; // exits with 3 only when its whole input was "hello"
    ASSERT_TRUE(child.start({"/bin/sh", "-c", "[ \"$(cat)\" = hello ] && exit 3"}, error)) << error;
    ASSERT_TRUE(child.write("hello", 5));
    child.closeInput();
    const int status = child.wait();
    EXPECT_FALSE(exitedSuccessfully(status));
    EXPECT_EQ(describeExitStatus(status), "exit status 3");
    EXPECT_EQ(child.wait(), status) << "a second wait answers the same";

    ChildProcess quitter;
    ASSERT_TRUE(quitter.start({"/bin/sh", "-c", "exit 0"}, error)) << error;
    EXPECT_TRUE(exitedSuccessfully(quitter.wait()));
    const std::string block(1 << 20, 'x');
    EXPECT_FALSE(quitter.write(block.data(), block.size()));

    ChildProcess sleeper; // never ends on its own: ended with SIGTERM
    ASSERT_TRUE(sleeper.start({"/bin/sh", "-c", "exec sleep 60"}, error)) << error;
    sleeper.terminate();
    EXPECT_EQ(describeExitStatus(sleeper.wait()), std::string("killed by ") + strsignal(SIGTERM));

    ChildProcess missing;
    EXPECT_FALSE(missing.start({"/nonexistent/program"}, error));
    EXPECT_NE(error.find("cannot start"), std::string::npos) << error;
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
