// Runs the fuzz targets' bodies over seeds and a fixed set of mutations of
// them, so every build exercises the parsers with damaged input; the
// libFuzzer builds (clang) explore further.
#include <gtest/gtest.h>

#include <vector>

#include "fuzz/FuzzBodies.h"

namespace {

const char* const kSeeds[] = {
    R"({"o":"0","a":[{"a1":"12345","a3":"T","a6":"98","a10":12,"a13":"1.png","a31":"1"}],"b":"","c":""})",
    R"({"o":"0","a":[{"a1":"A","a2":"a"}],"b":[{"b1":"B","b2":"b"}],"c":[{"c1":"C","c2":"c"}]})",
    R"({"current_version":"0.40","content":"x\\ny","app_url":"http://h/p.zip","force":"1"})",
    R"({"a":[{"a1":"1","a5":"/s/0/1.mp3","a6":5,"a9":"/s/0/1.lrc"}]})",
    "HTTP/1.1 206 Partial Content\r\nContent-Length: 10\r\nContent-Range: bytes 0-9/10\r\n"
    "Location: ../a/b\r\nTransfer-Encoding: chunked",
    "5\r\nhello\r\n0\r\n\r\n",
    "-rw-r--r--    1 0        0          300000 Dec 11 11:06 123.mp3",
    "227 Entering passive mode (127,0,0,1,156,64).",
    "Sun, 06 Nov 1994 08:49:37 GMT",
    "http://h:81/a/c/d.mp3?x=1",
};

}  // namespace

TEST(FuzzReplay, ParsersSurviveDamagedInput) {
    std::uint32_t x = 12345;
    auto next = [&] {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        return x;
    };
    for (const char* seed : kSeeds) {
        const std::string base(seed);
        for (int round = 0; round < 400; ++round) {
            std::string s = base;
            const int edits = 1 + static_cast<int>(next() % 4);
            for (int e = 0; e < edits && !s.empty(); ++e) {
                const std::size_t at = next() % s.size();
                switch (next() % 4) {
                    case 0:
                        s[at] = static_cast<char>(next());
                        break;
                    case 1:
                        s.erase(at, 1 + next() % 8);
                        break;
                    case 2:
                        s.insert(at, s.substr(next() % s.size(), 1 + next() % 16));
                        break;
                    default:
                        s.resize(at);
                        break;
                }
            }
            const auto* data = reinterpret_cast<const std::uint8_t*>(s.data());
            FuzzCatalogueJson(data, s.size());
            FuzzTransferReplies(data, s.size());
        }
    }
    SUCCEED();
}
