// vokari-cli: thin fronts over the program's own classes.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/NetCommands.h"

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
    if (command == "fetch") {
        return cli::Fetch(args);
    }
    if (command == "catalogue") {
        return cli::Catalogue(args);
    }
    if (command == "download") {
        return cli::Download(args);
    }
    if (command == "downloads") {
        return cli::Downloads(args);
    }
    std::fprintf(stderr,
                 "usage: vokari-cli fetch URL FILE\n"
                 "       vokari-cli catalogue new|hot|types|type ID|singer NAME|search WORDS|"
                 "words WORDS [--page N] [--size N] [--cached]\n"
                 "       vokari-cli download SONGID...\n"
                 "       vokari-cli downloads [--search WORDS] | delete SONGID\n");
    return 64;
}
