// Pokstep: opens the one file named on its command line two seconds after
// it starts, so that whoever started it has time to end and let go of its
// files. Any other number of arguments opens nothing. The exit code is 0
// whether or not the file could be opened.
#include <cstdio>

#include "platform/clock/Clock.h"
#include "platform/folders/Folders.h"
#include "platform/shell/ShellOpen.h"

namespace {
constexpr unsigned kOpenDelayMs = 2000;
}

int main(int argc, char** argv) {
    // The program's own module: its path.
    if (platform::ProgramPath().empty()) {
        std::fputs("Fatal Error: GetModuleHandle failed\n", stdout);
        return 1;
    }
    platform::ShellOpener opener;
    if (!opener.Init()) {
        std::fputs("Fatal Error: MFC initialization failed\n", stdout);
        return 1;
    }
    if (argc == 2) {
        platform::SleepMs(kOpenDelayMs);
        // The opener's result is not examined.
        opener.Open(std::string_view(argv[1]));
    }
    return 0;
}
