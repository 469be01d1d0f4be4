#pragma once
// Runs the built vokari-cli with its arguments and collects what it said.
#include <optional>
#include <string>
#include <vector>

#include "platform/TestSupport.h"

namespace cli_test {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun RunCli(std::vector<std::string> args, const std::vector<std::string>& env = {}) {
    args.insert(args.begin(), std::string(VOKARI_BIN_DIR) + "/vokari-cli");
    testing_support::Child child(args, env);
    const std::optional<int> code = child.Wait();
    return {code.value_or(-1000), child.Out(), child.Err()};
}

}  // namespace cli_test
