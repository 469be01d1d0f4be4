#pragma once
// The command line of vokari-cli: global options, then one subcommand.
#include <iosfwd>
#include <span>
#include <string>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int RunCli(std::span<const std::string> args, std::ostream& out, std::ostream& err);
void PrintUsage(std::ostream& to);

}  // namespace cli
