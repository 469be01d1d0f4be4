#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ScriptedServer.h"
#include "TransferFixture.h"
#include "platform/net/ChildProcess.h"
#include "platform/text/Utf.h"

using namespace testnet;

namespace {

const std::string kCli = std::string(VOKARI_BIN_DIR) + "/vokari-cli";

int RunFetch(const std::string& url, const std::string& file, const std::string& log) {
    platform::ChildProcess cli;
    if (!cli.Start({kCli, "fetch", url, file}, log)) {
        return -1;
    }
    return cli.Wait(120000);
}

}  // namespace

TEST(CliFetch, ExitCodesAreTheResultCodes) {
    TempFolder dir;
    const std::string body = TestBytes(120000, 21);
    ScriptedHttpServer server([&](const std::string& req, int) {
        if (req.find("/missing") != std::string::npos) {
            return Reply{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
        }
        return Reply{RangeReply(req, body)};
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port());
    EXPECT_EQ(RunFetch(url + "/a.bin", dir.File("a.bin"), dir.File("log")), 0);
    EXPECT_EQ(ReadFile(dir.File("a.bin")), body);
    EXPECT_NE(ReadFile(dir.File("log")).find("100%"), std::string::npos);
    EXPECT_EQ(RunFetch(url + "/missing.bin", dir.File("m.bin"), dir.File("log")), 3);
    platform::TcpListener gone;
    gone.Listen();
    const std::string refused = "http://127.0.0.1:" + std::to_string(gone.Port()) + "/x.bin";
    gone.Close();
    EXPECT_EQ(RunFetch(refused, dir.File("x.bin"), dir.File("log")), 2);
    EXPECT_EQ(RunFetch(url + "/a.bin", dir.File("missing/b.bin"), dir.File("log")), 5);
}

TEST(CliFetch, CtrlCStopsAndTheNextRunResumes) {
    TempFolder dir;
    const std::string body = TestBytes(300000, 22);
    std::atomic<int> connections{0};
    ScriptedHttpServer server([&](const std::string& req, int) {
        std::string reply = RangeReply(req, body);
        if (++connections == 2) {
            reply.resize(100000);  // the first data answer stalls after some data
            return Reply{reply, true};
        }
        return Reply{reply};
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/song.mp3";
    const std::string file = dir.File("song.mp3");
    platform::ChildProcess cli;
    ASSERT_TRUE(cli.Start({kCli, "fetch", url, file}, dir.File("log")));
    // Wait (bounded) until it has reported progress, then press Ctrl-C.
    for (int i = 0; i < 1000 && ReadFile(dir.File("log")).find("bytes") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    cli.Interrupt();
    EXPECT_EQ(cli.Wait(60000), 4);
    EXPECT_EQ(SizeOf(file + ".DownloadTemp"), static_cast<std::int64_t>(body.size()) + 16);
    EXPECT_EQ(RunFetch(url, file, dir.File("log2")), 0);
    EXPECT_EQ(ReadFile(file), body);
    const std::string range = Header(server.Requests().back(), "Range");
    EXPECT_NE(range, "bytes=0-" + std::to_string(body.size() - 1)) << "not resumed";
}
