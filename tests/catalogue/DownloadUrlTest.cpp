#include "catalogue/DownloadUrl.h"

#include <gtest/gtest.h>

using namespace download;

TEST(DownloadUrl, ParsesUrlsAsTheEngineStoresThem) {
    struct Case {
        const wchar_t* url;
        bool ok;
        const wchar_t* scheme;
        const wchar_t* host;
        const wchar_t* path;
        int port;
    };
    const Case cases[] = {
        {L"  http://Example.ORG/A/b.MP3?x=Y  ", true, L"http", L"example.org", L"/A/b.MP3?x=Y", 80},
        {L"example.org/x", true, L"http", L"example.org", L"/x", 80},
        {L"http:\\\\host:81\\pic\\1.png", true, L"http", L"host", L"/pic/1.png", 81},
        {L"ftp://127.0.0.1/pub/a.mp3", true, L"ftp", L"127.0.0.1", L"/pub/a.mp3", 21},
        {L"FTP://h:2121/a", true, L"FTP", L"h", L"/a", 2121},
        {L"http://[::1]:8080/a", true, L"http", L"[::1]", L"/a", 8080},
        {L"http://host", false, L"", L"", L"", 0},  // no "/" after the host
        {L"http://host:0/a", false, L"", L"", L"", 0},
        {L"http://host:99999/a", false, L"", L"", L"", 0},
        {L"http://host:8a/a", false, L"", L"", L"", 0},
        {L"http:///a", false, L"", L"", L"", 0},
        {L"   ", false, L"", L"", L"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "url " << testing::PrintToString(std::wstring(c.url)));
        const auto parsed = ParseUrl(c.url);
        ASSERT_EQ(parsed.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(parsed->scheme, c.scheme);
            EXPECT_EQ(parsed->host, c.host);
            EXPECT_EQ(parsed->path, c.path);
            EXPECT_EQ(parsed->port, c.port);
        }
    }
}

TEST(DownloadUrl, ResolvesRedirectTargets) {
    struct Case {
        const wchar_t* current;
        const wchar_t* location;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"http://h/a/c/d.mp3", L"../b/x.mp3", L"http://h/a/b/x.mp3"},
        {L"http://h/a/c/d.mp3", L"x.mp3", L"http://h/a/c/x.mp3"},
        {L"http://h/a/c/d.mp3", L"./x.mp3", L"http://h/a/c/x.mp3"},
        {L"http://h:81/a/c/d.mp3", L"/z/y.mp3", L"http://h:81/z/y.mp3"},
        {L"http://h/a/c/d.mp3", L"\\z\\y.mp3", L"http://h/z/y.mp3"},
        {L"http://h/a/c/d.mp3", L"http://other:8/q", L"http://other:8/q"},
        {L"http://h/a/c/d.mp3?p=/x/y", L"../e", L"http://h/a/e"},
        // More "../" than folders stays on the host, at its root.
        {L"http://h/a/d.mp3", L"../../../../x.mp3", L"http://h/x.mp3"},
        {L"http://h/d.mp3", L"../x.mp3", L"http://h/x.mp3"},
        {L"http://h/a/c/", L"../x", L"http://h/a/x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.location)));
        EXPECT_EQ(ResolveRedirect(*ParseUrl(c.current), c.location), c.expected);
    }
}

TEST(DownloadUrl, NamesLocalFilesWithTheOneSanitiser) {
    EXPECT_EQ(SanitizeFileName(L"a\\b/c:d*e?f\"g<h>i|j.mp3"), L"a_b_c_d_e_f_g_h_i_j.mp3");
    EXPECT_EQ(SanitizeFolder(L"C:/x*y/"), L"C:/x_y/");
    EXPECT_EQ(SanitizeFolder(L"/data/a:b/"), L"/data/a_b/");
    struct Case {
        const wchar_t* name;
        const wchar_t* path;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"12345", L"/mp3/bgmusic_64k/777.mp3", L"/d/12345.mp3"},
        {L"12345.lrc", L"/lyric/x.txt", L"/d/12345.lrc"},
        {L"", L"/pic/icon/9.png?size=2", L"/d/9.png"},
        {L"a*b_1_10.jsn", L"/api/x", L"/d/a_b_1_10.jsn"},
        {L"12345", L"/pic/icon/", L"/d/12345"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TargetPath(L"/d/", c.name, c.path), c.expected);
    }
}

TEST(DownloadUrl, TakesExtensionsFromThePathOnly) {
    EXPECT_EQ(UrlExtension(L"http://127.0.0.1:81/pic/icon/"), L"");
    EXPECT_EQ(UrlExtension(L"http://a.b.c/x"), L"");
    EXPECT_EQ(UrlExtension(L"http://h/x.mp3?v=1.2"), L".mp3");
    EXPECT_EQ(UrlExtension(L"http://h/dir.v2/file"), L"");
    EXPECT_EQ(UrlExtension(L"/lyric/a.LRC"), L".LRC");
}

TEST(DownloadUrl, ParsesHttpDates) {
    // 784111777 = Sun, 06 Nov 1994 08:49:37 GMT.
    EXPECT_EQ(ParseHttpDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sunday, 06-Nov-94 08:49:37 GMT"), 784111777);
    EXPECT_EQ(ParseHttpDate("Sun Nov  6 08:49:37 1994"), 784111777);
    EXPECT_EQ(ParseHttpDate("sun, 06 NOV 1994 08:49:37 GMT"), 784111777);
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Nov 1994 24:00:00 GMT"));
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Nov 1994 08:60:00 GMT"));
    EXPECT_FALSE(ParseHttpDate("Sun, 06 Foo 1994 08:49:37 GMT"));
    EXPECT_FALSE(ParseHttpDate(""));
}

TEST(DownloadUrl, ParsesUnixListingLines) {
    const std::int64_t now = DaysFromCivil(2026, 12, 11) * 86400 + 12 * 3600;
    const auto vs =
        ParseListingLine("-rw-r--r--    1 0        0          300000 Dec 11 11:06 123.mp3\r", now);
    ASSERT_TRUE(vs);
    EXPECT_EQ(vs->size, 300000);
    EXPECT_EQ(vs->name, "123.mp3");
    EXPECT_EQ(vs->modified, DaysFromCivil(2026, 12, 11) * 86400 + 11 * 3600 + 6 * 60);
    // A time later than now belongs to last year.
    const auto old = ParseListingLine("-rw-r--r-- 1 a b 5 Dec 20 10:00 my song.mp3", now);
    ASSERT_TRUE(old);
    EXPECT_EQ(old->name, "my song.mp3");
    EXPECT_EQ(old->modified, DaysFromCivil(2025, 12, 20) * 86400 + 10 * 3600);
    const auto year = ParseListingLine("-rw-r--r-- 1 a b 7 Mar  3  2021 x", now);
    ASSERT_TRUE(year);
    EXPECT_EQ(year->modified, DaysFromCivil(2021, 3, 3) * 86400);
    EXPECT_FALSE(ParseListingLine("total 8", now));
    EXPECT_FALSE(ParseListingLine("-rw-r--r-- 1 a b big Dec 11 11:06 x", now));
}

TEST(DownloadUrl, ParsesPassiveReplies) {
    const auto a = ParsePassiveReply("227 Entering passive mode (127,0,0,1,156,64).");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->host, "127.0.0.1");
    EXPECT_EQ(a->port, 156 * 256 + 64);
    EXPECT_FALSE(ParsePassiveReply("227 Entering passive mode (127,0,0,1,156)"));
    EXPECT_FALSE(ParsePassiveReply("227 (300,0,0,1,1,1)"));
    EXPECT_FALSE(ParsePassiveReply("227 no address"));
}

TEST(DownloadUrl, EncodesBase64) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("user:pa\xffss"), "dXNlcjpwYf9zcw==");
}
