#include "cli/Cli.h"

#include <algorithm>
#include <ostream>

#include "cli/Subcommand.h"

#ifndef VOKARI_VERSION
#define VOKARI_VERSION "unknown"
#endif

namespace cli {

void PrintUsage(std::ostream& to) {
    to << "usage: vokari-cli [--help | --version]\n"
          "       vokari-cli <command> [arguments...]\n"
          "\n"
          "Console companion of Vokari: runs parts of the karaoke system without its\n"
          "window.\n"
          "\n"
          "options:\n"
          "  -h, --help     show this text and exit\n"
          "  --version      show the version and exit\n"
          "\n"
          "commands:\n";
    const std::vector<Subcommand> commands = Subcommands();
    if (commands.empty()) {
        to << "  (none yet)\n";
    }
    std::size_t width = 0;
    for (const Subcommand& c : commands) {
        width = std::max(width, c.name.size());
    }
    for (const Subcommand& c : commands) {
        to << "  " << c.name << std::string(width - c.name.size() + 3, ' ') << c.summary << "\n";
    }
    if (!commands.empty()) {
        to << "\nRun 'vokari-cli <command> --help' for a command's own arguments.\n";
    }
}

namespace {
int Misuse(std::ostream& err, const std::string& message) {
    err << "vokari-cli: " << message << "\n\n";
    PrintUsage(err);
    return kExitUsage;
}
}  // namespace

int RunCli(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    if (args.empty()) {
        PrintUsage(err);
        return kExitUsage;
    }
    const std::string& first = args.front();
    if (first == "--help" || first == "-h") {
        if (args.size() > 1) {
            return Misuse(err, "unexpected argument '" + args[1] + "'");
        }
        PrintUsage(out);
        return kExitOk;
    }
    if (first == "--version") {
        if (args.size() > 1) {
            return Misuse(err, "unexpected argument '" + args[1] + "'");
        }
        out << "vokari-cli " << VOKARI_VERSION << "\n";
        return kExitOk;
    }
    const Subcommand* command = FindSubcommand(first);
    if (command == nullptr) {
        return Misuse(err, std::string("unknown ") +
                               (first.starts_with("-") ? "option" : "command") + " '" + first +
                               "'");
    }
    const std::span<const std::string> rest = args.subspan(1);
    if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h")) {
        out << command->usage << (command->usage.ends_with("\n") ? "" : "\n");
        return kExitOk;
    }
    return command->run(rest, out, err);
}

}  // namespace cli
