#include "cli/Subcommand.h"

#include <algorithm>
#include <map>

namespace cli {

namespace {
// A function-local static, so registrations from other files' static
// initialisers find it constructed whatever the order.
std::map<std::string, Subcommand>& Registry() {
    static std::map<std::string, Subcommand> registry;
    return registry;
}
}  // namespace

bool RegisterSubcommand(Subcommand command) {
    if (command.name.empty() || command.run == nullptr || command.name.front() == '-') {
        return false;
    }
    return Registry().emplace(command.name, std::move(command)).second;
}

const Subcommand* FindSubcommand(const std::string& name) {
    const auto& registry = Registry();
    const auto it = registry.find(name);
    return it == registry.end() ? nullptr : &it->second;
}

std::vector<Subcommand> Subcommands() {
    std::vector<Subcommand> out;
    for (const auto& [name, command] : Registry()) {
        out.push_back(command);
    }
    return out;
}

}  // namespace cli
