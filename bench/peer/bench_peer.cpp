// lumo's renderer beside OpenGL on Mesa's llvmpipe (bench/peer/gl_peer.h), on
// the same scene files (bench/render/scene_file.h). For each scene, shadow
// setting and worker count it prints the milliseconds per frame of both (the
// median run and the spread of the runs), the processor time per frame of
// each, and the ratio peer / lumo: above 1, lumo is faster.
//
//   bench_peer [--threads 1,2] [--shadows both|on|off] [--frames 60] [--runs 7]
//              [--warmup 40] [--size 640x360] [--pictures DIR] [SCENE ...]
//
// llvmpipe reads its worker count (LP_NUM_THREADS) once, when EGL starts, so
// the GL side runs in a child process per worker count: this same program,
// started as `bench_peer --peer-child WxH` with LP_NUM_THREADS set, which
// draws frames on command and answers with their times. The parent draws
// lumo's frames itself, and the two alternate run by run (lumo, peer, lumo,
// peer, ...), so a slow spell of a shared machine hits both alike; the ratio is
// the median of the ratios of runs made one after the other. Both main threads
// sit on the first processor, as the demo's does; llvmpipe's own threads are
// left to the scheduler, as lumo's workers are pinned one per processor.
//
// --pictures writes the last frame of both for each scene as
// DIR/SCENE[-noshadows]-lumo.ppm and -peer.ppm: the same frame, to compare.
// Where EGL cannot start (no device, no surfaceless platform), one line says
// the peer is skipped and why, and the program exits with 0.

#include "bench/peer/gl_peer.h"
#include "bench/render/scene_file.h"
#include "math/statistics.h"
#include "sys/log.h"
#include "sys/threads.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using namespace lumo;

// The child's answers go to this descriptor; its standard output is the
// parent's standard error, so that nothing printed along the way can be taken
// for an answer.
constexpr int kReplyDescriptor = 3;

// Milliseconds per frame of one timed run: wall clock and the process's
// processor time.
struct RunTime {
    double wall = 0.0, cpu = 0.0;
};

template <typename DrawFrame>
RunTime timeFrames(int frames, DrawFrame&& drawFrame) {
    const double cpuStart = sys::processCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < frames; ++i) {
        drawFrame();
    }
    const std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - start;
    return {ms.count() / frames, (sys::processCpuSeconds() - cpuStart) * 1e3 / frames};
}

// ---- The child: the GL side of one worker count -----------------------------
//
// Commands, one a line, each answered by one line:
//   load 0|1 PATH     the scene file, shadows off or on   -> ok | error TEXT
//   frames N          draws N frames                     -> WALL_MS CPU_MS (per frame)
//   picture PATH      the last frame as a PPM            -> ok | error TEXT
//   quit
// Before any command it says `ready RENDERER` or `skip REASON`.

int runChild(int width, int height) {
    FILE* replies = fdopen(kReplyDescriptor, "w");
    if (!replies) {
        std::fprintf(stderr, "bench_peer: the child has no reply channel\n");
        return 1;
    }
    auto reply = [&](const std::string& line) {
        std::fprintf(replies, "%s\n", line.c_str());
        std::fflush(replies);
    };
    LogCapture quiet(false); // the meshes' loading lines
    GlPeer peer;
    if (!peer.open(width, height)) {
        reply("skip " + peer.error());
        return 0;
    }
    // llvmpipe made its threads with the context; only the main thread is
    // pinned, as lumo's is.
    sys::pinToFirstProcessor();
    reply("ready " + peer.rendererName());

    SceneSpec scene;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        std::string rest;
        std::getline(in >> std::ws, rest);
        if (command == "load") {
            const bool shadows = rest.rfind("1 ", 0) == 0;
            scene = SceneSpec{};
            if (rest.size() < 3 || !loadScene(rest.substr(2), scene)) {
                reply("error cannot read the scene " + rest);
            } else {
                reply(peer.load(scene, shadows) ? "ok" : "error " + peer.error());
            }
        } else if (command == "frames") {
            const RunTime t =
                timeFrames(std::max(1, std::atoi(rest.c_str())), [&] { peer.frame(); });
            char text[64];
            std::snprintf(text, sizeof text, "%.6f %.6f", t.wall, t.cpu);
            reply(text);
        } else if (command == "picture") {
            reply(writePpm(rest, peer.picture(), width, height) ? "ok"
                                                                : "error cannot write " + rest);
        } else if (command == "quit") {
            break;
        } else {
            reply("error unknown command " + command);
        }
    }
    return 0;
}

// ---- The parent's handle on one child ----------------------------------------

class PeerProcess {
public:
    PeerProcess() = default;
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;
    ~PeerProcess() {
        if (commands_) {
            std::fprintf(commands_, "quit\n");
            std::fclose(commands_);
        }
        if (replies_) {
            std::fclose(replies_);
        }
        if (pid_ > 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }

    // Starts this program as the GL side with `threads` llvmpipe workers and
    // reads its greeting (ready or skip ...; empty when it did not start).
    std::string start(int threads, int width, int height) {
        int toChild[2], fromChild[2];
        // Close-on-exec: a later child must not hold this one's pipes open.
        if (pipe2(toChild, O_CLOEXEC) != 0) {
            return "";
        }
        if (pipe2(fromChild, O_CLOEXEC) != 0) {
            close(toChild[0]);
            close(toChild[1]);
            return "";
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], kReplyDescriptor);

        // The software rasterizer by name, whatever devices the machine has,
        // and its worker count, all set before EGL starts.
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (entry.rfind("LP_NUM_THREADS=", 0) != 0 &&
                entry.rfind("LIBGL_ALWAYS_SOFTWARE=", 0) != 0 &&
                entry.rfind("GALLIUM_DRIVER=", 0) != 0) {
                environment.push_back(entry);
            }
        }
        environment.push_back("LP_NUM_THREADS=" + std::to_string(threads));
        environment.push_back("LIBGL_ALWAYS_SOFTWARE=1");
        environment.push_back("GALLIUM_DRIVER=llvmpipe");
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        std::string size = std::to_string(width) + "x" + std::to_string(height);
        std::string name = "bench_peer", flag = "--peer-child";
        char* argv[] = {name.data(), flag.data(), size.data(), nullptr};

        const int failed =
            posix_spawn(&pid_, "/proc/self/exe", &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        close(toChild[0]);
        close(fromChild[1]);
        if (failed != 0) {
            pid_ = -1;
            close(toChild[1]);
            close(fromChild[0]);
            return "";
        }
        commands_ = fdopen(toChild[1], "w");
        replies_ = fdopen(fromChild[0], "r");
        return commands_ && replies_ ? readLine() : "";
    }

    // Sends one command; returns the answer, empty when the child is gone.
    std::string ask(const std::string& command) {
        if (std::fprintf(commands_, "%s\n", command.c_str()) < 0 || std::fflush(commands_) != 0) {
            return "";
        }
        return readLine();
    }

private:
    std::string readLine() {
        std::string line;
        int c;
        while ((c = std::fgetc(replies_)) != EOF && c != '\n') {
            line += char(c);
        }
        return line;
    }

    pid_t pid_ = -1;
    FILE* commands_ = nullptr;
    FILE* replies_ = nullptr;
};

// One scene and shadow setting at one worker count: lumo's frames here, the
// peer's in its child.
struct Pair {
    std::unique_ptr<LumoScene> lumo;
    PeerProcess* peer = nullptr;
    std::vector<RunTime> lumoRuns, peerRuns;
    std::vector<double> ratios;
};

struct Summary {
    double median = 0, best = 0, worst = 0, cpu = 0;
};

Summary summarize(const std::vector<RunTime>& runs) {
    std::vector<double> wall, cpu;
    for (const RunTime& r : runs) {
        wall.push_back(r.wall);
        cpu.push_back(r.cpu);
    }
    return {lumo::median(wall), *std::min_element(wall.begin(), wall.end()),
            *std::max_element(wall.begin(), wall.end()), lumo::median(cpu)};
}

bool parseRunTime(const std::string& answer, RunTime& out) {
    return std::sscanf(answer.c_str(), "%lf %lf", &out.wall, &out.cpu) == 2;
}

void usage() {
    std::printf("usage: bench_peer [--threads 1,2] [--shadows both|on|off] [--frames N]\n"
                "                  [--runs N] [--warmup N] [--size WxH] [--pictures DIR]\n"
                "                  [SCENE ...]\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--peer-child") == 0) {
        int width = 0, height = 0;
        if (std::sscanf(argv[2], "%dx%d", &width, &height) != 2 || width < 8 || height < 8) {
            return 1;
        }
        return runChild(width, height);
    }
    RunOptions options;
    if (const std::optional<int> status = readCommandLine(argc, argv, options, usage)) {
        return *status;
    }
    setSimdPath(options.paths.front());
    std::vector<SceneSpec> scenes(options.files.size());
    for (size_t i = 0; i < scenes.size(); ++i) {
        if (!loadScene(options.files[i], scenes[i])) {
            return 1;
        }
    }
    const int width = options.width, height = options.height;

    // The children start before this thread pins itself: they inherit its
    // processors, and llvmpipe's threads should have them all.
    std::signal(SIGPIPE, SIG_IGN); // a child that died shows as a missing answer
    std::vector<std::unique_ptr<PeerProcess>> peers;
    std::string rendererName;
    for (int threads : options.threadCounts) {
        peers.push_back(std::make_unique<PeerProcess>());
        const std::string greeting = peers.back()->start(threads, width, height);
        if (greeting.rfind("ready ", 0) == 0) {
            rendererName = greeting.substr(6);
            continue;
        }
        std::printf("peer skipped: %s\n", greeting.rfind("skip ", 0) == 0
                                              ? greeting.substr(5).c_str()
                                              : "the OpenGL process did not start");
        return 0;
    }
    sys::pinToFirstProcessor();

    std::printf("%dx%d, %d warm-up frames, %d runs of %d frames; lumo's %s vector path; peer: "
                "OpenGL 3.3 core on %s,\n"
                "a process per worker count (LP_NUM_THREADS); lumo's and the peer's runs "
                "alternate; main threads on the first processor as in the demo;\nms/frame is the "
                "median run, spread min..max; cpu ms: processor time per frame of the renderer's "
                "process;\npeer/lumo: median ratio of runs made one after the other (above 1: "
                "lumo is faster)\n",
                width, height, options.warmup, options.runs, options.frames,
                simdPathName(activeSimdPath()), rendererName.c_str());
    std::printf("%-8s %7s %7s %9s %15s %8s %9s %15s %8s %9s\n", "scene", "shadows", "workers",
                "lumo ms", "spread", "cpu ms", "peer ms", "spread", "cpu ms", "peer/lumo");
    auto lost = [] {
        std::printf("peer stopped: the OpenGL process gave no answer\n");
        return 1;
    };
    for (size_t s = 0; s < scenes.size(); ++s) {
        const SceneSpec& scene = scenes[s];
        for (bool shadows : options.shadowSettings) {
            std::vector<Pair> pairs(options.threadCounts.size());
            for (size_t k = 0; k < pairs.size(); ++k) {
                Pair& pair = pairs[k];
                pair.lumo = std::make_unique<LumoScene>(scene, shadows, options.threadCounts[k],
                                                        width, height);
                for (int i = 0; i < options.warmup; ++i) {
                    pair.lumo->frame();
                }
                pair.peer = peers[k].get();
                const std::string loaded = pair.peer->ask(
                    std::string("load ") + (shadows ? "1 " : "0 ") + options.files[s]);
                if (loaded.empty()) {
                    return lost();
                }
                if (loaded != "ok") {
                    std::printf("peer: %s\n", loaded.c_str());
                    return 1;
                }
                if (options.warmup > 0 &&
                    pair.peer->ask("frames " + std::to_string(options.warmup)).empty()) {
                    return lost();
                }
            }
            for (int r = 0; r < options.runs; ++r) {
                for (Pair& pair : pairs) {
                    pair.lumoRuns.push_back(
                        timeFrames(options.frames, [&] { pair.lumo->frame(); }));
                    RunTime peerRun;
                    if (!parseRunTime(pair.peer->ask("frames " + std::to_string(options.frames)),
                                      peerRun)) {
                        return lost();
                    }
                    pair.peerRuns.push_back(peerRun);
                    pair.ratios.push_back(peerRun.wall / pair.lumoRuns.back().wall);
                }
            }
            if (!options.pictureDir.empty()) {
                // Both sides have drawn the same number of frames: the same frame.
                const std::string base =
                    options.pictureDir + "/" + scene.name + (shadows ? "" : "-noshadows");
                writePpm(base + "-lumo.ppm", pairs[0].lumo->pixels(), width, height);
                const std::string written = pairs[0].peer->ask("picture " + base + "-peer.ppm");
                if (written != "ok") {
                    std::printf("peer: %s\n", written.empty() ? "no answer" : written.c_str());
                }
            }
            for (size_t k = 0; k < pairs.size(); ++k) {
                const Summary l = summarize(pairs[k].lumoRuns);
                const Summary p = summarize(pairs[k].peerRuns);
                char lumoSpread[64], peerSpread[64];
                std::snprintf(lumoSpread, sizeof lumoSpread, "%.2f..%.2f", l.best, l.worst);
                std::snprintf(peerSpread, sizeof peerSpread, "%.2f..%.2f", p.best, p.worst);
                std::printf("%-8s %7s %7d %9.3f %15s %8.3f %9.3f %15s %8.3f %8.2fx\n",
                            scene.name.c_str(), shadows ? "on" : "off", options.threadCounts[k],
                            l.median, lumoSpread, l.cpu, p.median, peerSpread, p.cpu,
                            lumo::median(pairs[k].ratios));
            }
            std::fflush(stdout);
        }
    }
    return 0;
}
