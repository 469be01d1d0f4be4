#include <gtest/gtest.h>

#include <thread>

#include "RealServers.h"
#include "ScriptedServer.h"
#include "TransferFixture.h"
#include "catalogue/DownloadMTR.h"

using namespace testnet;

namespace {

std::int32_t TrailerInt(const std::string& file, std::size_t fromEnd) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(file[file.size() - fromEnd + i]))
             << (8 * i);
    }
    return static_cast<std::int32_t>(v);
}

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = line.find('|', start);
        out.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos) {
            return out;
        }
        start = bar + 1;
    }
}

struct Transfer : testing::Test {
    platform::FixedConnectivity online{true};
    TempFolder dir;
    EventLog log;

    // Runs one download; `stopAtProgress` stops it at its first progress
    // report.
    int Fetch(const std::wstring& url, const std::wstring& name, bool stopAtProgress = false,
              bool* ranges = nullptr) {
        CDownloadMTR mtr(&log, 0);
        mtr.SetOptions(TestOptions(online, 10000));
        mtr.SetUrl(url);
        mtr.SetFolder(dir.Folder());
        mtr.SetFileName(name);
        if (stopAtProgress) {
            log.onProgress = [&](const DownloadEvent&) { mtr.Stop(); };
        }
        const int rc = mtr.Run();
        log.onProgress = nullptr;
        if (ranges != nullptr) {
            *ranges = mtr.SupportsRanges();
        }
        return rc;
    }
};

std::wstring HttpUrl(const RealServer& s, const std::string& path) {
    return L"http://127.0.0.1:" + std::to_wstring(s.Port()) +
           std::wstring(path.begin(), path.end());
}

std::wstring FtpUrl(const RealServer& s, const std::string& path) {
    return L"ftp://127.0.0.1:" + std::to_wstring(s.Port()) + std::wstring(path.begin(), path.end());
}

}  // namespace

TEST_F(Transfer, NginxResumesAStoppedDownloadWithARange) {
    if (auto why = MissingServer("nginx"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    NginxServer nginx;
    const std::string body = TestBytes(300000, 11);
    nginx.Put("mp3/777.mp3", body);
    ASSERT_TRUE(nginx.Start()) << nginx.Error();

    EXPECT_EQ(Fetch(HttpUrl(nginx, "/mp3/777.mp3"), L"12345", true), kDownloadStopped);
    const std::string temp = ReadFile(dir.File("12345.mp3.DownloadTemp"));
    ASSERT_EQ(temp.size(), body.size() + 16);
    EXPECT_EQ(TrailerInt(temp, 4), 1);
    const std::int32_t received = TrailerInt(temp, 8);
    ASSERT_GT(received, 0);
    ASSERT_LT(received, static_cast<std::int32_t>(body.size()));

    EXPECT_EQ(Fetch(HttpUrl(nginx, "/mp3/777.mp3"), L"12345"), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("12345.mp3")), body);
    EXPECT_EQ(SizeOf(dir.File("12345.mp3.DownloadTemp")), -1);
    const auto lines = nginx.Log();
    ASSERT_EQ(lines.size(), 4u);  // probe and data, twice
    const auto probe = Fields(lines[0]);
    EXPECT_EQ(probe[0], "GET /mp3/777.mp3 HTTP/1.1");
    EXPECT_EQ(probe[1], "206");
    EXPECT_EQ(probe[2], "bytes=0-");
    EXPECT_EQ(probe[3], "Downloader/2.0");
    EXPECT_EQ(probe[4], "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/mp3");
    const auto resume = Fields(lines[3]);
    EXPECT_EQ(resume[1], "206");
    EXPECT_EQ(resume[2],
              "bytes=" + std::to_string(received) + "-" + std::to_string(body.size() - 1));
}

TEST_F(Transfer, NginxCompleteOrEmptyFilesNeedNoRangeRequest) {
    if (auto why = MissingServer("nginx"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    NginxServer nginx;
    const std::string body = TestBytes(5000, 12);
    nginx.Put("done.bin", body);
    nginx.Put("empty.bin", "");
    ASSERT_TRUE(nginx.Start()) << nginx.Error();
    // A temporary file whose trailer says everything arrived: asking for
    // "bytes=5000-4999" would get 416 from nginx for ever.
    std::string temp = body;
    temp += std::string("\0\0\0\0\x88\x13\0\0\x88\x13\0\0\x01\0\0\0", 16);
    WriteFile(dir.File("done.bin.DownloadTemp"), temp);
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/done.bin"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("done.bin")), body);
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/empty.bin"), L""), kDownloadOk);
    EXPECT_EQ(SizeOf(dir.File("empty.bin")), 0);
    for (const auto& line : nginx.Log()) {
        EXPECT_EQ(Fields(line)[2], "bytes=0-") << line;  // probes only, no 416
        EXPECT_NE(Fields(line)[1], "416") << line;
    }
}

TEST_F(Transfer, NginxRedirectsAndTheCookieGate) {
    if (auto why = MissingServer("nginx"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    NginxServer nginx;
    nginx.Put("a/b/x.mp3", "relative target");
    nginx.Put("b/y.mp3", "absolute target");
    nginx.Put("gated/g.bin", "behind the cookie");
    ASSERT_TRUE(nginx.Start(R"(
    location = /a/c/d.mp3 { absolute_redirect off; return 302 "../b/x.mp3"; }
    location = /moved { return 302 /b/y.mp3; }
    location = /self { return 302 /self; }
    location /gated/ { if ($http_cookie !~ "Flag=ZZWEBPoweredByPelkor") { return 404; } }
)")) << nginx.Error();
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/a/c/d.mp3"), L"rel"), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("rel.mp3")), "relative target");
    // nginx makes "/b/y.mp3" absolute ("http://127.0.0.1:port/b/y.mp3").
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/moved"), L"abs.mp3"), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("abs.mp3")), "absolute target");
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/self"), L"self"), kDownloadFailed);
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/gated/g.bin"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("g.bin")), "behind the cookie");
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/gated/none.bin"), L""), kDownloadRefused);
    std::size_t selfRequests = 0;
    for (const auto& line : nginx.Log()) {
        selfRequests += Fields(line)[0] == "GET /self HTTP/1.1" ? 1 : 0;
    }
    EXPECT_EQ(selfRequests, 11u);
}

TEST_F(Transfer, NginxSlowBodyStopsPromptlyAndResumes) {
    if (auto why = MissingServer("nginx"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    NginxServer nginx;
    const std::string body = TestBytes(96 * 1024, 13);
    nginx.Put("slow/s.bin", body);
    ASSERT_TRUE(nginx.Start("    location /slow/ { limit_rate 16k; }\n")) << nginx.Error();
    CDownloadMTR mtr(&log, 0);
    mtr.SetOptions(TestOptions(online, 10000));
    mtr.SetUrl(HttpUrl(nginx, "/slow/s.bin"));
    mtr.SetFolder(dir.Folder());
    // Stopped from another thread while the body trickles in (6 s in all).
    std::thread stopper;
    log.onProgress = [&](const DownloadEvent&) {
        if (!stopper.joinable()) {
            stopper = std::thread([&] { mtr.Stop(); });
        }
    };
    EXPECT_EQ(mtr.Run(), kDownloadStopped);
    stopper.join();
    log.onProgress = nullptr;
    const std::string temp = ReadFile(dir.File("s.bin.DownloadTemp"));
    ASSERT_EQ(temp.size(), body.size() + 16);
    EXPECT_LT(TrailerInt(temp, 8), static_cast<std::int32_t>(body.size()));
    EXPECT_EQ(Fetch(HttpUrl(nginx, "/slow/s.bin"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("s.bin")), body);
}

TEST_F(Transfer, PythonHttpServerWithoutRangesStartsAgainFromZero) {
    if (auto why = MissingServer("python"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    PythonHttpServer server;
    const std::string body = TestBytes(200000, 14);
    server.Put("song/99.mp3", body);
    ASSERT_TRUE(server.Start()) << server.Error();
    bool ranges = true;
    EXPECT_EQ(Fetch(HttpUrl(server, "/song/99.mp3"), L"", true, &ranges), kDownloadStopped);
    EXPECT_FALSE(ranges);
    const auto partial = SizeOf(dir.File("99.mp3.DownloadTemp"));
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, static_cast<std::int64_t>(body.size()));  // no trailer
    EXPECT_EQ(Fetch(HttpUrl(server, "/song/99.mp3"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("99.mp3")), body);
    EXPECT_EQ(Fetch(HttpUrl(server, "/song/missing.mp3"), L""), kDownloadRefused);
}

TEST_F(Transfer, PyftpdlibWithoutRestAndWithReplies125) {
    if (auto why = MissingServer("pyftpdlib"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    PyFtpServer ftp;
    const std::string body = TestBytes(150000, 15);
    ftp.Put("pub/123.mp3", body);
    ftp.Put("pub/empty.lrc", "");
    ASSERT_TRUE(ftp.Start()) << ftp.Error();
    bool ranges = true;
    EXPECT_EQ(Fetch(FtpUrl(ftp, "/pub/123.mp3"), L"", false, &ranges), kDownloadOk);
    EXPECT_FALSE(ranges);  // "REST 1" is refused in ASCII mode
    EXPECT_EQ(ReadFile(dir.File("123.mp3")), body);
    EXPECT_EQ(Fetch(FtpUrl(ftp, "/pub/empty.lrc"), L""), kDownloadOk);
    EXPECT_EQ(SizeOf(dir.File("empty.lrc")), 0);
    EXPECT_EQ(Fetch(FtpUrl(ftp, "/pub/missing.mp3"), L""), kDownloadFailed);
}

TEST_F(Transfer, VsftpdWithAMultiLineBannerResumes) {
    if (auto why = MissingServer("vsftpd"); !why.empty()) {
        GTEST_SKIP() << why;
    }
    VsftpdServer ftp;
    const std::string body = TestBytes(300000, 16);
    ftp.Put("pub/456.mp3", body);
    ASSERT_TRUE(ftp.Start({"Welcome to the song store.", "Second line of the banner."}))
        << ftp.Error();
    bool ranges = false;
    EXPECT_EQ(Fetch(FtpUrl(ftp, "/pub/456.mp3"), L"456", true, &ranges), kDownloadStopped);
    EXPECT_TRUE(ranges);
    const std::string temp = ReadFile(dir.File("456.mp3.DownloadTemp"));
    ASSERT_EQ(temp.size(), body.size() + 16);
    const std::int32_t received = TrailerInt(temp, 8);
    EXPECT_GT(received, 0);
    EXPECT_EQ(Fetch(FtpUrl(ftp, "/pub/456.mp3"), L"456"), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("456.mp3")), body);
}
