#pragma once
// vokari-cli's download commands: fetch, catalogue, download, downloads.
#include <string>
#include <vector>

namespace cli {

// Each returns the process exit code; args exclude the command word.
int Fetch(const std::vector<std::string>& args);
int Catalogue(const std::vector<std::string>& args);
int Download(const std::vector<std::string>& args);
int Downloads(const std::vector<std::string>& args);

}  // namespace cli
