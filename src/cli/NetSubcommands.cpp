// Registers the download commands (NetCommands.h) as vokari-cli subcommands.
#include <span>
#include <string>
#include <vector>

#include "cli/NetCommands.h"
#include "cli/Subcommand.h"

namespace {

template <int (*Command)(const std::vector<std::string>&)>
int Run(std::span<const std::string> args, std::ostream&, std::ostream&) {
    return Command(std::vector<std::string>(args.begin(), args.end()));
}

const bool fetchRegistered = cli::RegisterSubcommand(
    {"fetch", "fetch one URL into a file with the transfer engine",
     "usage: vokari-cli fetch URL FILE", &Run<cli::Fetch>});

const bool catalogueRegistered = cli::RegisterSubcommand(
    {"catalogue", "print catalogue song records as JSON",
     "usage: vokari-cli catalogue new|hot|types|type ID|singer NAME|search WORDS|words WORDS "
     "[--page N] [--size N] [--cached]",
     &Run<cli::Catalogue>});

const bool downloadRegistered = cli::RegisterSubcommand(
    {"download", "download songs with their lyric and icon",
     "usage: vokari-cli download SONGID...", &Run<cli::Download>});

const bool downloadsRegistered = cli::RegisterSubcommand(
    {"downloads", "list, search or delete the downloaded songs",
     "usage: vokari-cli downloads [--search WORDS] | delete SONGID", &Run<cli::Downloads>});

}  // namespace
