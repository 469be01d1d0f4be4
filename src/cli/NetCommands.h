#pragma once
// vokari-cli's download commands: fetch, catalogue, download, downloads.
#include <iosfwd>
#include <span>
#include <string>

namespace cli {

// Each returns the process exit code (the result code; 2 also for bad
// usage); args exclude the command word.
int Fetch(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int Catalogue(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int Download(std::span<const std::string> args, std::ostream& out, std::ostream& err);
int Downloads(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace cli
