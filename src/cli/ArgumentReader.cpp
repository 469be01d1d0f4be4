#include "cli/ArgumentReader.h"

namespace cli {

ArgumentReader::ArgumentReader(std::span<const std::string> args, std::set<std::string> known) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (known.count(arg) == 0) {
            error_ =
                (arg.starts_with("-") ? "unknown option '" : "unexpected argument '") + arg + "'";
            return;
        }
        if (i + 1 >= args.size()) {
            error_ = "option '" + arg + "' needs a value";
            return;
        }
        values_[arg] = args[++i];
    }
}

std::string ArgumentReader::Get(const std::string& name, const std::string& fallback) const {
    const auto it = values_.find(name);
    return it == values_.end() ? fallback : it->second;
}

}  // namespace cli
