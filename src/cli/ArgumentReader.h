#pragma once
// Reads "--name value" options of a subcommand.
#include <map>
#include <ostream>
#include <set>
#include <span>
#include <string>

namespace cli {

class ArgumentReader {
  public:
    // Only the listed option names are accepted; each takes one value.
    ArgumentReader(std::span<const std::string> args, std::set<std::string> known);

    // False (with Error()) for an unknown option, a missing value or a
    // stray argument.
    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }
    // The value, or fallback when the option was not given.
    std::string Get(const std::string& name, const std::string& fallback = {}) const;
    bool Has(const std::string& name) const { return values_.count(name) != 0; }

  private:
    std::map<std::string, std::string> values_;
    std::string error_;
};

}  // namespace cli
