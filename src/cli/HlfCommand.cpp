// vokari-cli hlf seal IN OUT [--key N] | open IN OUT: enciphers a file into
// the ".hlf" container (as lyric files and kept performances are stored)
// and back.
#include <ostream>
#include <span>
#include <string>

#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "karaoke/context/HlfContainer.h"
#include "platform/text/Number.h"

namespace {

const char kUsage[] =
    "usage: vokari-cli hlf seal IN OUT [--key N]\n"
    "       vokari-cli hlf open IN OUT\n"
    "\n"
    "seal enciphers the file IN into the container OUT; open deciphers the\n"
    "container IN into the plain file OUT. OUT is replaced only when the\n"
    "whole file has been written.\n"
    "\n"
    "  --key N   the key-table entry, 0 to 19 (default: one at random)\n"
    "\n"
    "exit codes: 0 done, 1 the file cannot be read, written or deciphered,\n"
    "2 usage\n";

int Usage(std::ostream& err, const std::string& problem) {
    err << "vokari-cli hlf: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
}

int Run(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        return Usage(err, "missing action (seal or open)");
    }
    const std::string& action = args[0];
    if (action != "seal" && action != "open") {
        return Usage(err, "unknown action '" + action + "'");
    }
    std::string paths[2];
    int pathCount = 0;
    int key = -1;
    for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--key" && action == "seal") {
            const auto value =
                i + 1 < args.size() ? platform::ParseInt64(args[i + 1]) : std::nullopt;
            if (!value || *value < 0 || *value >= hlf::kKeyCount) {
                return Usage(err, "--key needs a whole number from 0 to 19");
            }
            key = static_cast<int>(*value);
            ++i;
        } else if (args[i].starts_with("-") || pathCount == 2) {
            return Usage(err, "unexpected argument '" + args[i] + "'");
        } else {
            paths[pathCount++] = args[i];
        }
    }
    if (pathCount != 2) {
        return Usage(err, "needs IN and OUT");
    }
    if (paths[0] == paths[1]) {
        return Usage(err, "IN and OUT must be different files");
    }
    const hlf::Status status = action == "seal" ? hlf::EncipherFile(paths[0], paths[1], key)
                                                : hlf::DecipherFile(paths[0], paths[1]);
    if (status != hlf::Status::Ok) {
        err << "vokari-cli hlf " << action << ": '" << paths[0] << "': " << hlf::StatusText(status)
            << "\n";
        return cli::kExitFailure;
    }
    out << (action == "seal" ? "sealed " : "opened ") << paths[0] << " -> " << paths[1] << "\n";
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"hlf", "encipher a file into the .hlf container or decipher one", kUsage, &Run});

}  // namespace
