#include "karaoke/context/HlfContainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "karaoke/TempDir.h"
#include "karaoke/context/CAESCryptor.h"
#include "karaoke/context/LyricFile.h"

namespace {

using hlf::Status;
using testing_support::PatternBytes;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

std::vector<std::uint8_t> Seal(const std::vector<std::uint8_t>& plain, int key = -1) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(hlf::EncipherContainer(plain, out, key), Status::Ok);
    return out;
}

const std::size_t kRoundTripSizes[] = {
    0, 1, 15, 16, 17, 31, 32, (1u << 20) - 1, 1u << 20, (1u << 20) + 17, 3u << 20};

TEST(HlfContainerTest, InMemoryRoundTripAndLayout) {
    for (std::size_t size : kRoundTripSizes) {
        SCOPED_TRACE(size);
        const auto plain = PatternBytes(size, static_cast<unsigned>(size) + 1);
        const auto sealed = Seal(plain);
        ASSERT_EQ(sealed.size(), 16 + size + 16 - size % 16) << "one to sixteen pad bytes";
        EXPECT_EQ(sealed[0], 0xFF);
        EXPECT_EQ(sealed[1], 0xFF);
        EXPECT_EQ(sealed[2], 1);
        EXPECT_LT(sealed[3], 20);
        EXPECT_EQ(std::vector<std::uint8_t>(sealed.begin() + 4, sealed.begin() + 16),
                  std::vector<std::uint8_t>(12, 0));
        EXPECT_TRUE(hlf::IsContainer(sealed));
        if (size >= 16) {
            EXPECT_NE(std::vector<std::uint8_t>(sealed.begin() + 16, sealed.begin() + 32),
                      std::vector<std::uint8_t>(plain.begin(), plain.begin() + 16))
                << "the body is enciphered";
        }
        std::vector<std::uint8_t> back;
        ASSERT_EQ(hlf::DecipherContainer(sealed, back), Status::Ok);
        EXPECT_EQ(back, plain);
    }
}

TEST(HlfContainerTest, EveryKeyIndexRoundTripsAndKeysDiffer) {
    const auto plain = PatternBytes(40);
    std::vector<std::vector<std::uint8_t>> bodies;
    for (int key = 0; key < hlf::kKeyCount; ++key) {
        const auto sealed = Seal(plain, key);
        EXPECT_EQ(sealed[3], key);
        std::vector<std::uint8_t> back;
        ASSERT_EQ(hlf::DecipherContainer(sealed, back), Status::Ok) << key;
        EXPECT_EQ(back, plain);
        bodies.emplace_back(sealed.begin() + 16, sealed.end());
    }
    for (std::size_t i = 0; i < bodies.size(); ++i)
        for (std::size_t j = i + 1; j < bodies.size(); ++j)
            EXPECT_NE(bodies[i], bodies[j]) << i << " " << j;
    std::vector<std::uint8_t> out;
    EXPECT_EQ(hlf::EncipherContainer(plain, out, 20), Status::BadArgument);
}

// A container sealed by an earlier build: the key table must never change,
// or every kept performance and enciphered lyric becomes unreadable.
TEST(HlfContainerTest, ReadsAContainerOfAnEarlierBuild) {
    const std::vector<std::uint8_t> sealed = {
#include "karaoke/HlfGolden.inc"
    };
    std::vector<std::uint8_t> back;
    ASSERT_EQ(hlf::DecipherContainer(sealed, back), Status::Ok);
    EXPECT_EQ(std::string(back.begin(), back.end()), "[00:01.00]Hello container");
}

TEST(HlfContainerTest, DamagedContainersAreRejectedWithTheirReason) {
    const auto good = Seal(PatternBytes(20), 5);  // 16 + 32 bytes, pad 12
    // Rebuilds a container whose last plain block is `block`, so that the
    // padding itself can be damaged.
    auto withLastBlock = [&](std::vector<std::uint8_t> block) {
        std::vector<std::uint8_t> plain = PatternBytes(16);
        plain.insert(plain.end(), block.begin(), block.end());
        // Seal 32 plain bytes, then drop the whole pad block it added.
        auto sealed = Seal(plain, 5);
        sealed.resize(sealed.size() - 16);
        return sealed;
    };
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Status expected;
    };
    std::vector<std::uint8_t> fffe = good;
    fffe[1] = 0xFE;
    std::vector<std::uint8_t> version2 = good;
    version2[2] = 2;
    std::vector<std::uint8_t> key20 = good;
    key20[3] = 20;
    std::vector<std::uint8_t> key255 = good;
    key255[3] = 255;
    std::vector<std::uint8_t> truncated(good.begin(), good.end() - 5);
    std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + 16);
    std::vector<std::uint8_t> pad3Mixed(16, 3);
    pad3Mixed[14] = 4;
    const Case cases[] = {
        {"empty", {}, Status::TooShort},
        {"header only", headerOnly, Status::TooShort},
        {"FF FE", fffe, Status::NotContainer},
        {"version 2", version2, Status::BadVersion},
        {"key index 20", key20, Status::BadKeyIndex},
        {"key index 255", key255, Status::BadKeyIndex},
        {"truncated", truncated, Status::NotWholeBlocks},
        {"pad byte 0", withLastBlock(std::vector<std::uint8_t>(16, 0)), Status::BadPadding},
        {"pad byte 17", withLastBlock(std::vector<std::uint8_t>(16, 17)), Status::BadPadding},
        {"pad bytes differ", withLastBlock(pad3Mixed), Status::BadPadding},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> out{1, 2, 3};
        EXPECT_EQ(hlf::DecipherContainer(c.bytes, out), c.expected) << hlf::StatusText(c.expected);
        EXPECT_TRUE(out.empty());
    }
}

TEST(HlfContainerTest, FileRoundTripMatchesInMemoryFormat) {
    TempDir dir;
    for (std::size_t size : kRoundTripSizes) {
        SCOPED_TRACE(size);
        const auto plain = PatternBytes(size, 7);
        const auto plainPath = dir.Path() / "plain.bin";
        const auto sealedPath = dir.Path() / "sealed.hlf";
        const auto backPath = dir.Path() / "back.bin";
        WriteBytes(plainPath, plain);
        ASSERT_EQ(hlf::EncipherFile(plainPath.string(), sealedPath.string()), Status::Ok);
        const auto sealed = ReadBytes(sealedPath);
        std::vector<std::uint8_t> inMemory;
        ASSERT_EQ(hlf::DecipherContainer(sealed, inMemory), Status::Ok);
        EXPECT_EQ(inMemory, plain);
        ASSERT_EQ(hlf::DecipherFile(sealedPath.string(), backPath.string()), Status::Ok);
        EXPECT_EQ(ReadBytes(backPath), plain);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3)
        << "no temporary files left";
}

TEST(HlfContainerTest, FailedFileDecipherLeavesTheOldOutputAlone) {
    TempDir dir;
    const auto sealedPath = dir.Path() / "bad.hlf";
    const auto outPath = dir.Path() / "out.bin";
    auto sealed = Seal(PatternBytes(100));
    sealed.back() ^= 0x55;  // the last block no longer carries sound padding
    WriteBytes(sealedPath, sealed);
    WriteBytes(outPath, {9, 9, 9});
    EXPECT_EQ(hlf::DecipherFile(sealedPath.string(), outPath.string()), Status::BadPadding);
    EXPECT_EQ(ReadBytes(outPath), (std::vector<std::uint8_t>{9, 9, 9}));
    sealed.resize(sealed.size() - 3);
    WriteBytes(sealedPath, sealed);
    EXPECT_EQ(hlf::DecipherFile(sealedPath.string(), outPath.string()), Status::NotWholeBlocks);
    EXPECT_EQ(hlf::DecipherFile((dir.Path() / "missing").string(), outPath.string()),
              Status::ReadFailure);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

// The first container operations of a process may be the nine sealing
// threads at once; each must see the complete key table.
TEST(HlfContainerTest, ConcurrentFirstUseAgrees) {
    const auto plain = PatternBytes(64);
    std::vector<std::vector<std::uint8_t>> results(9);
    std::vector<std::thread> threads;
    for (auto& r : results)
        threads.emplace_back([&] { hlf::EncipherContainer(plain, r, 11); });
    for (auto& t : threads)
        t.join();
    for (const auto& r : results)
        EXPECT_EQ(r, results[0]);
}

TEST(HlfContainerTest, CryptorChainsOnlyWithANonZeroVector) {
    const std::uint8_t key[16] = {'0', '1', '2', '3', '4', '5', '6', '7',
                                  '8', '9', 'A', 'B', 'C', 'D', 'E', 'F'};
    std::uint8_t twoBlocks[32] = {};  // two equal plain blocks
    std::uint8_t ecb[32], cbc[32];
    CAESCryptor c;
    ASSERT_TRUE(c.SetKey(key, 16, nullptr));
    EXPECT_FALSE(c.IsChaining());
    ASSERT_TRUE(c.Encipher(twoBlocks, ecb, 32));
    EXPECT_EQ(0, std::memcmp(ecb, ecb + 16, 16)) << "no chaining: equal blocks stay equal";
    ASSERT_TRUE(c.SetKey(key, 16, key));
    EXPECT_TRUE(c.IsChaining());
    ASSERT_TRUE(c.Encipher(twoBlocks, cbc, 32));
    EXPECT_NE(0, std::memcmp(cbc, cbc + 16, 16));
    std::uint8_t back[32];
    ASSERT_TRUE(c.Decipher(cbc, back, 32));
    EXPECT_EQ(0, std::memcmp(back, twoBlocks, 32));
    EXPECT_FALSE(c.Encipher(twoBlocks, cbc, 31)) << "whole blocks only";
    EXPECT_FALSE(c.SetKey(key, 15, key));
}

TEST(HlfContainerTest, LyricBytesComeDecipheredOrAsTheyAre) {
    TempDir dir;
    const std::string text = "[00:01.00]Hello";
    const std::vector<std::uint8_t> plain(text.begin(), text.end());
    WriteBytes(dir.Path() / "plain.lrc", plain);
    WriteBytes(dir.Path() / "sealed.lrc", Seal(plain));
    auto version2 = Seal(plain);
    version2[2] = 2;  // not a container: taken as it is
    WriteBytes(dir.Path() / "v2.lrc", version2);
    auto badPad = Seal(plain);
    badPad.back() ^= 1;
    WriteBytes(dir.Path() / "badpad.lrc", badPad);

    std::vector<std::uint8_t> out;
    EXPECT_EQ(ReadLyricBytes(dir.WFolder() + L"plain.lrc", out), Status::Ok);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(ReadLyricBytes(dir.WFolder() + L"sealed.lrc", out), Status::Ok);
    EXPECT_EQ(out, plain);
    EXPECT_EQ(ReadLyricBytes(dir.WFolder() + L"v2.lrc", out), Status::Ok);
    EXPECT_EQ(out, version2);
    EXPECT_EQ(ReadLyricBytes(dir.WFolder() + L"badpad.lrc", out), Status::BadPadding);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadLyricBytes(dir.WFolder() + L"missing.lrc", out), Status::ReadFailure);
}

}  // namespace
