#include "sys/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace lumo::sys {

std::string findInPath(const std::string& name, std::string_view path) {
    if (name.empty()) {
        return {};
    }
    while (true) {
        size_t colon = path.find(':');
        std::string directory(path.substr(0, colon));
        if (directory.empty()) {
            directory = ".";
        }
        std::string candidate = directory + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        path.remove_prefix(colon + 1);
    }
}

std::string findInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    return path ? findInPath(name, path) : std::string();
}

ChildProcess::~ChildProcess() {
    terminate();
}

bool ChildProcess::start(const std::vector<std::string>& arguments, std::string& error) {
    if (arguments.empty()) {
        error = "no program to start";
        return false;
    }
    if (started()) {
        error = "a program is already running";
        return false;
    }
    // Close-on-exec: the child gets the read end as its standard input only, so
    // closing our write end is the end of its input.
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = "cannot start " + arguments[0] + ": " + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // An ignored SIGPIPE would be inherited: the child gets the default back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    for (std::string& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    int result =
        posix_spawn(&pid, arguments[0].c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (result != 0) {
        ::close(fds[1]);
        error = "cannot start " + arguments[0] + ": " + std::strerror(result);
        return false;
    }
    pid_ = pid;
    input_ = fds[1];
    return true;
}

bool ChildProcess::write(const void* bytes, size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        if (input_ < 0) {
            return false;
        }
        ssize_t n = ::write(input_, next, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        next += n;
        size -= size_t(n);
    }
    return true;
}

void ChildProcess::closeInput() {
    if (input_ >= 0) {
        ::close(input_);
        input_ = -1;
    }
}

int ChildProcess::wait() {
    if (pid_ <= 0) {
        return lastStatus_;
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    lastStatus_ = status;
    return status;
}

void ChildProcess::terminate() {
    closeInput();
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        wait();
    }
}

bool exitedSuccessfully(int status) {
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string describeExitStatus(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("killed by ") + strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

namespace {

// What a signal handler may touch: the one flag of the process.
volatile std::sig_atomic_t interruptRequested = 0;

extern "C" void onInterrupt(int) {
    interruptRequested = 1;
}

} // namespace

InterruptGuard::InterruptGuard() {
    interruptRequested = 0;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    sigaction(SIGINT, &action, &oldInterrupt_);
    sigaction(SIGTERM, &action, &oldTerminate_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipe_);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &oldInterrupt_, nullptr);
    sigaction(SIGTERM, &oldTerminate_, nullptr);
    sigaction(SIGPIPE, &oldPipe_, nullptr);
}

bool InterruptGuard::interrupted() const {
    return interruptRequested != 0;
}

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

} // namespace lumo::sys
