#pragma once
// Other programs and the signals around them: finding a program on PATH,
// starting it with its standard input fed from this process, waiting for its
// end, and holding off Ctrl+C while a long job finishes its output properly.

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumo::sys {

// The executable regular file `name` in the colon-separated directories of
// `path` (an empty entry is the current directory), the first one found;
// empty when there is none.
std::string findInPath(const std::string& name, std::string_view path);
// The same over the PATH environment variable (empty when it is not set).
std::string findInPath(const std::string& name);

// A started program whose standard input is a pipe written from here. It runs
// in its own process group, so Ctrl+C on the terminal reaches only this
// process, which can then end the child's input properly instead of the child
// dying mid-file. One that is still running when this object goes is
// terminated and waited for.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program at the path arguments[0] with these arguments and this
    // process's environment. False with a one-line reason.
    bool start(const std::vector<std::string>& arguments, std::string& error);
    bool started() const { return pid_ > 0; }

    // Writes all of the bytes to the child's standard input. False when the
    // child no longer reads it (it has ended or closed it): an error here, not
    // a SIGPIPE, as long as an InterruptGuard is in place.
    bool write(const void* bytes, size_t size);

    // Closes the child's standard input: it sees the end of its input.
    void closeInput();

    // Waits for the child to end and returns its wait status; a child already
    // waited for answers the status it ended with.
    int wait();

    // Closes the input, asks the child to end (SIGTERM) and waits for it.
    void terminate();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int lastStatus_ = 0;
};

// True when the wait status says the program exited with status 0.
bool exitedSuccessfully(int status);
// "exit status 3", "killed by Terminated".
std::string describeExitStatus(int status);

// Whether standard error is a terminal (progress lines then redraw in place).
bool standardErrorIsTerminal();

// While one exists, SIGINT and SIGTERM only raise a flag that the owner checks
// between steps of its work, and SIGPIPE is ignored, so a closed pipe is an
// error from write(). A second interrupt ends the program at once: the first
// one restores the default action. The previous actions come back with the
// guard's end. One guard at a time: the flag is the process's.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    bool interrupted() const;

private:
    struct sigaction oldInterrupt_ {};
    struct sigaction oldTerminate_ {};
    struct sigaction oldPipe_ {};
};

} // namespace lumo::sys
