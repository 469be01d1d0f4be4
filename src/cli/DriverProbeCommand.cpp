// vokari-cli driver-probe: the start-up check of the sound-card driver.
#include <ostream>

#include "app/DriverProbe.h"
#include "cli/ArgumentReader.h"
#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "platform/folders/Folders.h"
#include "platform/text/Utf.h"

namespace {

int RunDriverProbe(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const cli::ArgumentReader options(args, {"--program-folder"});
    if (!options.Ok()) {
        err << "vokari-cli driver-probe: " << options.Error() << "\n";
        return cli::kExitUsage;
    }
    std::wstring program = options.Has("--program-folder")
                               ? platform::FromUtf8(options.Get("--program-folder"))
                               : platform::ProgramFolder();
    if (!program.empty() && program.back() != L'/') {
        program += L'/';
    }
    const int result = ProbeDriver(program);
    const char* meaning = result == kDriverOk       ? "driver ready"
                          : result == kDriverTooOld ? "driver or control panel too old"
                                                    : "device library or driver missing";
    out << result << " " << meaning << " (" << platform::ToUtf8(program + kDeviceLibraryPath)
        << ")\n";
    return result == kDriverOk ? cli::kExitOk : cli::kExitFailure;
}

const bool registered = cli::RegisterSubcommand(
    {"driver-probe", "check the sound-card driver as Vokari does at start-up",
     "usage: vokari-cli driver-probe [--program-folder DIR]\n"
     "Loads DIR/Driver/libMendra.so (default: beside vokari-cli) and prints\n"
     "0 (ready), 1 (library, function or driver missing) or 3 (too old).\n"
     "Exit code 0 when the driver is ready, 1 otherwise.",
     &RunDriverProbe});

}  // namespace
