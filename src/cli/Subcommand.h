#pragma once
// vokari-cli's subcommands. Each lives in its own source file in this folder
// and registers itself with one line at namespace scope:
//
//   static const bool registered = cli::RegisterSubcommand(
//       {"name", "one-line summary", "usage text", &RunName});
//
// The files are compiled straight into the program, so the registration
// runs before main.
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

namespace cli {

// args holds what follows the subcommand's name. Return the exit code:
// 0 success, 1 failure, 2 bad usage.
using SubcommandFunction = int (*)(std::span<const std::string> args, std::ostream& out,
                                   std::ostream& err);

struct Subcommand {
    std::string name;
    std::string summary;
    std::string usage;
    SubcommandFunction run = nullptr;
};

// False (and nothing registered) for an empty name, a name already taken or
// a missing function.
bool RegisterSubcommand(Subcommand command);
const Subcommand* FindSubcommand(const std::string& name);
// Sorted by name.
std::vector<Subcommand> Subcommands();

}  // namespace cli
