// The scoring functions must stay in the program's dynamic symbol table with
// their plain C names, although nothing in the program calls most of them.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

TEST(Exports, ScoringFunctionsAreInTheProgramsDynamicSymbols) {
    const std::string command =
        std::string("nm -D --defined-only '") + VOKARI_BIN_DIR + "/Vokari' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> text;
    char line[512];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        char type = 0;
        char name[400] = {};
        unsigned long long address = 0;
        if (sscanf(line, "%llx %c %399s", &address, &type, name) == 3 && type == 'T') {
            text.insert(name);
        }
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    for (const char* name :
         {"GetTotalScore", "LoudnessTrack", "PortamentoTrack", "Track2ndHmn", "VibratoTrack",
          "GetNoteScore", "SetLinearScoringParam", "SetScoreFunction", "SetSineScoringParam",
          "asymmetric_score_ratio", "symmetric_score_ratio"}) {
        EXPECT_EQ(text.count(name), 1u) << name;
    }
}
