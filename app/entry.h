#pragma once
// The entry point's pieces: from launcher answers to display settings, and where
// the demo's content lives.

#include "app/launcher.h"

#include <string>

namespace lumo {

class Application;

// Writes the forced full-screen mode (exactly 1280 x 720 when "force 720p" was
// ticked, else none) and copies "full screen" into the application. Called
// before the display is opened.
void applyLauncherResults(const LauncherResults& results, Application& app);

// The content directory, ending in "/": "data/" beside the program when that
// exists (so a build's program runs from anywhere), else "share/lumo/" under
// the program's prefix when that exists (an install or an unpacked package:
// PREFIX/bin/lumo), else "data/" relative to the current directory.
std::string findDataDirectory(const std::string& programDirectory);

// The list of the files an installed data directory holds, one path a line,
// written by the build beside the data.
inline constexpr const char* kDataListName = "contents.txt";

// Empty when `directory` (as findDataDirectory chose it) can be used, else one
// line saying which file is missing: the directory itself, or a file of its
// list (or the list, which an installed directory always has). A directory
// without a list is taken as it is, as before there were lists.
std::string missingData(const std::string& directory, const std::string& programDirectory);

// The directory holding the running program, empty when it cannot be found.
std::string programDirectory();

// The whole program: command line, launcher, demo. Returns the exit status.
int runLumo(int argc, char** argv);

} // namespace lumo
