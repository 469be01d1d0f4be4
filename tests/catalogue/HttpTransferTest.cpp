#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "ScriptedServer.h"
#include "TransferFixture.h"
#include "catalogue/DownloadHttp.h"
#include "catalogue/DownloadMTR.h"
#include "catalogue/HttpResponse.h"
#include "platform/debug/DebugLog.h"

using namespace testnet;

namespace {

std::string RequestLine(const std::string& request) {
    return request.substr(0, request.find("\r\n"));
}

struct HttpTransfer : testing::Test {
    platform::FixedConnectivity online{true};
    TempFolder dir;
    EventLog log;
    platform::CapturedDebugOutput debug;

    int Fetch(const std::wstring& url, const std::wstring& name, int receiveTimeoutMs = 2000,
              CDownloadMTR** keep = nullptr) {
        CDownloadMTR mtr(&log, 0);
        mtr.SetOptions(TestOptions(online, receiveTimeoutMs));
        mtr.SetUrl(url);
        mtr.SetFolder(dir.Folder());
        mtr.SetFileName(name);
        if (keep != nullptr) {
            *keep = &mtr;
        }
        const int rc = mtr.Run();
        if (keep != nullptr) {
            *keep = nullptr;
        }
        return rc;
    }
};

}  // namespace

TEST(HttpRequest, ComposesTheRequestTextInItsOrder) {
    platform::FixedConnectivity online(true);
    const DownloadOptions options = TestOptions(online);
    struct Case {
        const wchar_t* url;
        const wchar_t* user;
        const wchar_t* cookie;
        std::int64_t first, last;
        const char* expected;
    };
    const Case cases[] = {
        {L"http://Host/a/b.mp3", L"", L"", 0, -1,
         "GET /a/b.mp3 HTTP/1.1\r\nHost: host\r\nAccept: */*\r\nPragma: no-cache\r\n"
         "User-Agent: Downloader/2.0\r\nReferer: http://host/a\r\nConnection: close\r\n"
         "Range: bytes=0-\r\n\r\n"},
        {L"http://h:81/p?q=1", L"ann", L"", 100, 199,
         "GET /p?q=1 HTTP/1.1\r\nAuthorization: Basic YW5uOnB3\r\nHost: h:81\r\n"
         "Accept: */*\r\nPragma: no-cache\r\nUser-Agent: Downloader/2.0\r\n"
         "Referer: http://h:81\r\nConnection: close\r\nRange: bytes=100-199\r\n\r\n"},
        {L"http://h/x", L"", L"Flag=ZZWEBPoweredByPelkor", 5, -1,
         "GET /x HTTP/1.1\r\nHost: h\r\nAccept: */*\r\nPragma: no-cache\r\n"
         "User-Agent: Downloader/2.0\r\nReferer: http://h\r\nConnection: close\r\n"
         "Cookie: Flag=ZZWEBPoweredByPelkor\r\nRange: bytes=5-\r\n\r\n"},
    };
    for (const Case& c : cases) {
        CDownloadHttp http(0, nullptr, options);
        ASSERT_TRUE(http.SetUrl(c.url));
        http.SetCredentials(c.user, L"pw");
        http.SetCookie(c.cookie);
        EXPECT_EQ(http.RequestText(c.first, c.last), c.expected);
    }
}

TEST(HttpResponse, ParsesHeadsWithoutCase) {
    const auto h = ParseResponseHead(
        "HTTP/1.1 206 Partial Content\r\ncontent-LENGTH: 10\r\nCONTENT-RANGE: bytes 5-14/99\r\n"
        "Location:  /x \r\nTransfer-Encoding: chunked\r\nLast-Modified: Sun, 06 Nov 1994 "
        "08:49:37 GMT");
    EXPECT_EQ(h.status, 206);
    EXPECT_EQ(h.contentLength, 10);
    EXPECT_EQ(h.rangeFirst, 5);
    EXPECT_EQ(h.rangeTotal, 99);
    EXPECT_EQ(h.location, "/x");
    EXPECT_TRUE(h.chunked);
    EXPECT_EQ(h.lastModified, "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(ParseResponseHead("HTTP/1.0 200 OK").status, 200);
    EXPECT_EQ(ParseResponseHead("ICY 200 OK").status, -1);
    EXPECT_EQ(ParseResponseHead("HTTP/1.1 2000 OK").status, -1);
    EXPECT_EQ(ParseResponseHead("HTTP/1.1 200 OK\r\nContent-Length: -5").contentLength, -1);
}

TEST(HttpResponse, DecodesChunkedBodiesInAnyPieces) {
    const std::string wire =
        "4;ext=1\r\nWiki\r\n5\r\npedia\r\nE\r\n in\r\n\r\nchunks.\r\n0\r\nX: y\r\n\r\n";
    for (std::size_t piece : {1u, 3u, 7u, 1000u}) {
        CChunkedDecoder d;
        std::string out;
        for (std::size_t i = 0; i < wire.size(); i += piece) {
            ASSERT_TRUE(d.Feed(wire.data() + i, std::min(piece, wire.size() - i), out));
        }
        EXPECT_TRUE(d.Done());
        EXPECT_EQ(out, "Wikipedia in\r\n\r\nchunks.");
    }
    for (const char* bad : {"zz\r\n", "4\r\nWikiXX", "-1\r\n"}) {
        CChunkedDecoder d;
        std::string out;
        EXPECT_FALSE(d.Feed(bad, std::strlen(bad), out)) << bad;
    }
    CChunkedDecoder endless;
    std::string out;
    const std::string longLine(10000, '1');
    EXPECT_FALSE(endless.Feed(longLine.data(), longLine.size(), out));
}

TEST_F(HttpTransfer, DownloadsWithRangesAndResumesAfterAStop) {
    const std::string body = TestBytes(200 * 1024 + 17);
    ScriptedHttpServer server([&](const std::string& req, int) {
        return Reply{RangeReply(req, body, "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n")};
    });
    // First run: stopped at the first progress report.
    {
        CDownloadMTR mtr(&log, 0);
        mtr.SetOptions(TestOptions(online));
        mtr.SetUrl(server.Url("/mp3/777.mp3"));
        mtr.SetFolder(dir.Folder());
        mtr.SetFileName(L"12345");
        log.onProgress = [&](const DownloadEvent&) { mtr.Stop(); };
        EXPECT_EQ(mtr.Run(), kDownloadStopped);
        log.onProgress = nullptr;
    }
    const std::string temp = dir.File("12345.mp3.DownloadTemp");
    ASSERT_EQ(SizeOf(temp), static_cast<std::int64_t>(body.size()) + 16);
    const std::string stored = ReadFile(temp);
    EXPECT_EQ(stored.substr(stored.size() - 4), std::string("\x01\0\0\0", 4));
    const auto received =
        static_cast<std::int64_t>(static_cast<unsigned char>(stored[stored.size() - 8]) |
                                  static_cast<unsigned char>(stored[stored.size() - 7]) << 8 |
                                  static_cast<unsigned char>(stored[stored.size() - 6]) << 16);
    EXPECT_GT(received, 0);
    EXPECT_EQ(stored.substr(0, static_cast<std::size_t>(received)),
              body.substr(0, static_cast<std::size_t>(received)));
    EXPECT_EQ(SizeOf(dir.File("12345.mp3")), -1);

    // Second run: asks for the rest only and completes the file.
    const std::size_t before = server.Requests().size();
    EXPECT_EQ(Fetch(server.Url("/mp3/777.mp3"), L"12345"), kDownloadOk);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), before + 2);  // probe, then data
    EXPECT_EQ(Header(requests[before], "Range"), "bytes=0-");
    EXPECT_EQ(Header(requests.back(), "Range"),
              "bytes=" + std::to_string(received) + "-" + std::to_string(body.size() - 1));
    EXPECT_EQ(ReadFile(dir.File("12345.mp3")), body);
    EXPECT_EQ(SizeOf(temp), -1);
    const auto mtime = std::filesystem::last_write_time(dir.File("12345.mp3"));
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                  std::chrono::file_clock::to_sys(mtime).time_since_epoch())
                  .count(),
              784111777);
    const auto codes = log.Codes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.front(), kEventStarted);
    EXPECT_EQ(codes.back(), kEventFinished);
}

TEST_F(HttpTransfer, ResumesWithinARunWhenTheConnectionDrops) {
    const std::string body = TestBytes(150000, 7);
    ScriptedHttpServer server([&](const std::string& req, int connection) {
        std::string reply = RangeReply(req, body);
        if (connection == 1) {
            reply.resize(reply.size() - 90000);  // the first data answer breaks off
            return Reply{reply, false, true};
        }
        return Reply{reply};
    });
    EXPECT_EQ(Fetch(server.Url("/song.mp3"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("song.mp3")), body);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(Header(requests[2], "Range"), "bytes=60000-149999");
}

TEST_F(HttpTransfer, AStalledServerTimesOutWithTheConnectivityAnswer) {
    for (bool connected : {true, false}) {
        online.Set(connected);
        ScriptedHttpServer server([&](const std::string& req, int connection) {
            std::string reply = RangeReply(req, TestBytes(100000));
            if (connection > 0) {
                reply.resize(5000);  // headers and a little data, then silence
            }
            return Reply{reply, true};
        });
        EXPECT_EQ(Fetch(server.Url("/x.bin"), L"", 300),
                  connected ? kDownloadFailed : kDownloadNotConnected);
        EXPECT_TRUE(debug.Contains("the server stopped sending"));
        // A partial temporary file with its trailer stays for a later run.
        EXPECT_EQ(SizeOf(dir.File("x.bin.DownloadTemp")), 100000 + 16);
    }
}

TEST_F(HttpTransfer, RedirectsAreFollowedAndBounded) {
    ScriptedHttpServer server([&](const std::string& req, int) {
        const std::string line = RequestLine(req);
        if (line.find("/a/c/d.mp3") != std::string::npos) {
            return Reply{"HTTP/1.1 302 Found\r\nLocation: ../b/x.mp3\r\nContent-Length: 0\r\n\r\n"};
        }
        if (line.find("/loop") != std::string::npos) {
            return Reply{"HTTP/1.1 301 Moved\r\nLocation: /loop\r\n\r\n"};
        }
        if (line.find("/secure") != std::string::npos) {
            return Reply{"HTTP/1.1 301 Moved\r\nLocation: https://127.0.0.1/x\r\n\r\n"};
        }
        return Reply{RangeReply(req, "payload")};
    });
    EXPECT_EQ(Fetch(server.Url("/a/c/d.mp3"), L"d.mp3"), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("d.mp3")), "payload");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(RequestLine(requests[1]), "GET /a/b/x.mp3 HTTP/1.1");
    // The data request goes straight to where the probe ended up.
    EXPECT_EQ(RequestLine(requests[2]), "GET /a/b/x.mp3 HTTP/1.1");
    EXPECT_EQ(Header(requests[1], "Referer"),
              "http://127.0.0.1:" + std::to_string(server.Port()) + "/a/c");

    std::size_t before = server.Requests().size();
    EXPECT_EQ(Fetch(server.Url("/loop"), L"loop"), kDownloadFailed);
    EXPECT_EQ(server.Requests().size() - before, 11u);  // the first request and 10 redirects
    EXPECT_TRUE(debug.Contains("too many redirects"));

    before = server.Requests().size();
    EXPECT_EQ(Fetch(server.Url("/secure"), L"s"), kDownloadRefused);
    EXPECT_EQ(server.Requests().size() - before, 1u);
    EXPECT_TRUE(debug.Contains("https://127.0.0.1/x"));
}

TEST_F(HttpTransfer, RetriesOnceWithTheMarkerCookie) {
    ScriptedHttpServer server([&](const std::string& req, int) {
        const bool gated = RequestLine(req).find("/gated") != std::string::npos;
        if (gated && Header(req, "Cookie") == "Flag=ZZWEBPoweredByPelkor") {
            return Reply{RangeReply(req, "opened")};
        }
        return Reply{"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"};
    });
    EXPECT_EQ(Fetch(server.Url("/gated/f.txt"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("f.txt")), "opened");
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(Header(requests[0], "Cookie"), "");
    EXPECT_EQ(Header(requests[2], "Cookie"), "Flag=ZZWEBPoweredByPelkor");

    const std::size_t before = requests.size();
    EXPECT_EQ(Fetch(server.Url("/missing.txt"), L""), kDownloadRefused);
    requests = server.Requests();
    ASSERT_EQ(requests.size() - before, 2u);  // without, then with the cookie
    EXPECT_EQ(Header(requests.back(), "Cookie"), "Flag=ZZWEBPoweredByPelkor");
    EXPECT_EQ(SizeOf(dir.File("missing.txt")), -1);
}

TEST_F(HttpTransfer, StatusRulesDecideWhatIsAccepted) {
    struct Case {
        const char* reply;
        int result;
        const char* content;
    };
    const Case cases[] = {
        {"HTTP/1.1 500 Oops\r\nContent-Length: 5\r\n\r\nerror", kDownloadOk, "error"},
        {"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n", kDownloadRefused, nullptr},
        {"HTTP/1.1 403 No\r\n\r\n", kDownloadRefused, nullptr},
        {"garbage\r\n\r\n", kDownloadRefused, nullptr},
        {"HTTP/1.0 200 OK\r\n\r\nno length, read to the end", kDownloadOk,
         "no length, read to the end"},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n "
         "world\r\n0\r\n\r\n",
         kDownloadOk, "hello world"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", kDownloadOk, ""},
        {"HTTP/1.1 206 Partial\r\nContent-Length: 0\r\nContent-Range: bytes */0\r\n\r\n",
         kDownloadOk, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedHttpServer server([&](const std::string&, int) { return Reply{c.reply}; });
        std::filesystem::remove(dir.File("f.bin"));
        EXPECT_EQ(Fetch(server.Url("/f.bin"), L""), c.result);
        if (c.content != nullptr) {
            EXPECT_EQ(ReadFile(dir.File("f.bin")), c.content);
            EXPECT_EQ(SizeOf(dir.File("f.bin.DownloadTemp")), -1);
        } else {
            EXPECT_EQ(SizeOf(dir.File("f.bin")), -1);
        }
    }
}

TEST_F(HttpTransfer, HostileRepliesEndInAFailureNotAHang) {
    struct Case {
        std::string reply;
        bool stall;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nX: " + std::string(200000, 'a'), true},  // header without end
        {"HTTP/1.1 200 OK\r\nContent-Length: 9\r\n", false},          // ends inside the head
        {"", false},                                                  // closes at once
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false},
    };
    for (const Case& c : cases) {
        ScriptedHttpServer server([&](const std::string& req, int connection) {
            if (connection == 0 && c.reply.rfind("HTTP/1.1 200 OK\r\nTransfer", 0) == 0) {
                return Reply{RangeReply(req, "x")};
            }
            return Reply{c.reply, c.stall};
        });
        EXPECT_EQ(Fetch(server.Url("/h.bin"), L"", 1000), kDownloadFailed);
        EXPECT_EQ(SizeOf(dir.File("h.bin")), -1);
    }
    EXPECT_TRUE(debug.Contains("too large"));
}

TEST_F(HttpTransfer, AFullAnswerToARangedRequestStartsTheFileAgain) {
    const std::string body = TestBytes(70000, 3);
    ScriptedHttpServer server([&](const std::string& req, int connection) {
        if (connection == 0) {
            return Reply{RangeReply(req, body)};
        }
        return Reply{"HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + body};
    });
    // A temporary file that claims 40000 bytes already.
    std::string temp(70000, 'Z');
    temp += std::string("\0\0\0\0\x70\x11\x01\0\x40\x9c\0\0\x01\0\0\0", 16);
    WriteFile(dir.File("r.bin.DownloadTemp"), temp);
    EXPECT_EQ(Fetch(server.Url("/r.bin"), L""), kDownloadOk);
    EXPECT_EQ(Header(server.Requests().back(), "Range"), "bytes=40000-69999");
    EXPECT_EQ(ReadFile(dir.File("r.bin")), body);
}

TEST_F(HttpTransfer, TrailersAreCheckedBeforeUse) {
    const std::string body = TestBytes(5000, 9);
    ScriptedHttpServer server(
        [&](const std::string& req, int) { return Reply{RangeReply(req, body)}; });
    auto trailer = [](std::int32_t start, std::int32_t length, std::int32_t received,
                      std::int32_t count) {
        std::string t;
        for (std::int32_t v : {start, length, received, count}) {
            for (int i = 0; i < 4; ++i) {
                t += static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
            }
        }
        return t;
    };
    struct Case {
        std::string trailer;
        const char* expectedRange;  // nullptr: no data request at all
    };
    const Case cases[] = {
        {trailer(0, 5000, 5000, 1), nullptr},            // complete: nothing to ask
        {trailer(0, 5000, 1000, 1), "bytes=1000-4999"},  // resumes
        {trailer(0, 5000, 6000, 1), "bytes=0-4999"},     // received beyond the range
        {trailer(0, 5000, -1, 1), "bytes=0-4999"},
        {trailer(10, 5000, 0, 1), "bytes=0-4999"},  // does not start the file
        {trailer(0, 4000, 0, 1), "bytes=0-4999"},   // does not cover the file
        {trailer(0, 5000, 0, 0), "bytes=0-4999"},   // no connections
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expectedRange == nullptr ? "complete" : c.expectedRange);
        std::string temp = body.substr(0, 1000) + std::string(4000, 'Z');
        if (c.expectedRange == nullptr) {
            temp = body;
        }
        WriteFile(dir.File("t.bin.DownloadTemp"), temp + c.trailer);
        std::filesystem::remove(dir.File("t.bin"));
        const std::size_t before = server.Requests().size();
        EXPECT_EQ(Fetch(server.Url("/t.bin"), L""), kDownloadOk);
        const auto requests = server.Requests();
        if (c.expectedRange == nullptr) {
            EXPECT_EQ(requests.size() - before, 1u);  // the probe only
        } else {
            EXPECT_EQ(Header(requests.back(), "Range"), c.expectedRange);
        }
        EXPECT_EQ(ReadFile(dir.File("t.bin")), body);
    }
}

TEST_F(HttpTransfer, TheTargetIsReplacedOnlyByACompleteFile) {
    const std::string body = TestBytes(3000, 4);
    ScriptedHttpServer server(
        [&](const std::string& req, int) { return Reply{RangeReply(req, body)}; });
    // Same size: taken as done, nothing is fetched.
    WriteFile(dir.File("same.bin"), std::string(3000, 'k'));
    EXPECT_EQ(Fetch(server.Url("/same.bin"), L""), kDownloadOk);
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(ReadFile(dir.File("same.bin")), std::string(3000, 'k'));
    // Another size: the new data replaces it.
    WriteFile(dir.File("old.bin"), "truncated old copy");
    EXPECT_EQ(Fetch(server.Url("/old.bin"), L""), kDownloadOk);
    EXPECT_EQ(ReadFile(dir.File("old.bin")), body);
}

TEST_F(HttpTransfer, WithoutRangesTheFileHasNoTrailerAndStartsAgain) {
    const std::string body = TestBytes(100000, 5);
    ScriptedHttpServer server([&](const std::string&, int) {
        return Reply{"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + body};
    });
    {
        CDownloadMTR mtr(&log, 0);
        mtr.SetOptions(TestOptions(online));
        mtr.SetUrl(server.Url("/n.bin"));
        mtr.SetFolder(dir.Folder());
        log.onProgress = [&](const DownloadEvent&) { mtr.Stop(); };
        EXPECT_EQ(mtr.Run(), kDownloadStopped);
        log.onProgress = nullptr;
        EXPECT_FALSE(mtr.SupportsRanges());
    }
    const std::string partial = ReadFile(dir.File("n.bin.DownloadTemp"));
    EXPECT_GE(partial.size(), 32768u);
    EXPECT_LT(partial.size(), body.size());
    EXPECT_EQ(partial, body.substr(0, partial.size()));
    EXPECT_EQ(Fetch(server.Url("/n.bin"), L""), kDownloadOk);
    EXPECT_EQ(Header(server.Requests().back(), "Range"), "bytes=0-99999");
    EXPECT_EQ(ReadFile(dir.File("n.bin")), body);
}

TEST_F(HttpTransfer, StopEndsABlockedProbeWithStopped) {
    ScriptedHttpServer server([&](const std::string&, int) { return Reply{"", true}; });
    CDownloadMTR mtr(&log, 0);
    mtr.SetOptions(TestOptions(online, 60000));
    mtr.SetUrl(server.Url("/p.bin"));
    mtr.SetFolder(dir.Folder());
    std::atomic<int> result{-1};
    const auto start = std::chrono::steady_clock::now();
    std::thread worker([&] { result = mtr.Run(); });
    while (server.Requests().empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    mtr.Stop();
    worker.join();
    EXPECT_EQ(result, kDownloadStopped);
    // Far below the 60 s receive time-out: the stop woke the receive.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(log.Codes().back(), kEventFinished);
    EXPECT_EQ(log.Events().back().value, kDownloadStopped);
}

TEST_F(HttpTransfer, ConnectionAndFileFailuresHaveTheirCodes) {
    platform::TcpListener unused;
    ASSERT_TRUE(unused.Listen());
    const std::uint16_t port = unused.Port();
    unused.Close();  // nothing listens there now
    const std::wstring refused = L"http://127.0.0.1:" + std::to_wstring(port) + L"/x.bin";
    online.Set(true);
    EXPECT_EQ(Fetch(refused, L""), kDownloadFailed);
    online.Set(false);
    EXPECT_EQ(Fetch(refused, L""), kDownloadNotConnected);
    online.Set(true);
    EXPECT_EQ(Fetch(L"http://127.0.0.1", L""), kDownloadFailed);
    EXPECT_EQ(Fetch(L"https://127.0.0.1/x", L""), kDownloadRefused);
    EXPECT_EQ(Fetch(L"gopher://127.0.0.1/x", L""), kDownloadFailed);

    ScriptedHttpServer server(
        [&](const std::string& req, int) { return Reply{RangeReply(req, "abc")}; });
    CDownloadMTR mtr(&log, 0);
    mtr.SetOptions(TestOptions(online));
    mtr.SetUrl(server.Url("/x.bin"));
    mtr.SetFolder(dir.Folder() + L"missing/");
    EXPECT_EQ(mtr.Run(), kDownloadFileError);
}
