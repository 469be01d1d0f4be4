#include "audio/CBufferArrary.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "AudioTestSupport.h"

namespace {

using audiotest::StampedBlock;
using audiotest::StampOf;

TEST(CBufferArrary, PushCopyOverwritesAnUnreadSlotButTryPushKeepsTheOrder) {
    CBufferArrary ring(audiotest::kBlockBytes);
    for (int k = 0; k < CBufferArrary::kSlots; ++k) {
        ASSERT_EQ(ring.TryPushCopy(StampedBlock(k).data(), k), 1);
    }
    EXPECT_EQ(ring.TryPushCopy(StampedBlock(500).data(), 500), 0) << "a full ring refuses";
    std::uint8_t* data = nullptr;
    int time = -1;
    ASSERT_EQ(ring.Pop(&data, &time), 1);
    EXPECT_EQ(StampOf(data), 0);
    EXPECT_EQ(time, 0);

    // PushCopy goes on at the write index whatever the slot holds.
    CBufferArrary raw(audiotest::kBlockBytes);
    for (int k = 0; k <= CBufferArrary::kSlots; ++k) {
        raw.PushCopy(StampedBlock(k).data(), k);
    }
    ASSERT_EQ(raw.Pop(&data, &time), 1);
    EXPECT_EQ(StampOf(data), 100) << "slot 0 was overwritten by the 101st block";
}

TEST(CBufferArrary, CommitRefusesAFullSlotAndPopNeedsADestination) {
    CBufferArrary ring(audiotest::kBlockBytes);
    EXPECT_EQ(ring.Pop(nullptr, nullptr), 0);
    EXPECT_EQ(ring.Commit(7), 1);
    std::uint8_t* data = nullptr;
    EXPECT_EQ(ring.Pop(nullptr, nullptr), 0) << "no data pointer given";
    int time = 0;
    EXPECT_EQ(ring.Pop(&data, &time), 1);
    EXPECT_EQ(time, 7);
    EXPECT_EQ(ring.Pop(&data, &time), 0);
}

TEST(CBufferArrary, FillFromFileZeroesAShortBlockAndReadsItAgainWhenComplete) {
    audiotest::TempFolder tmp;
    const auto path = tmp.Path() / "growing.pcm";
    {
        std::ofstream out(path, std::ios::binary);
        const auto b1 = StampedBlock(1);
        out.write(reinterpret_cast<const char*>(b1.data()), b1.size());
        const auto b2 = StampedBlock(2);
        out.write(reinterpret_cast<const char*>(b2.data()), 1000);  // half-written block
    }
    std::FILE* file = audiotest::OpenForMixer(path);
    ASSERT_NE(file, nullptr);
    CBufferArrary ring(audiotest::kBlockBytes);
    EXPECT_EQ(ring.FillFromFile(file, 0, 3), 1);
    std::uint8_t* data = nullptr;
    int time = 0;
    ASSERT_EQ(ring.Pop(&data, &time), 1);
    EXPECT_EQ(StampOf(data), 1);
    for (int slot = 1; slot <= 3; ++slot) {
        ASSERT_EQ(ring.Pop(&data, &time), 1);
        EXPECT_EQ(StampOf(data), 0) << "slot " << slot << " is silent, not half a block";
    }
    {
        // The writer finishes the block after the reader saw the end.
        std::ofstream out(path, std::ios::binary | std::ios::app);
        const auto b2 = StampedBlock(2);
        out.write(reinterpret_cast<const char*>(b2.data()) + 1000, b2.size() - 1000);
    }
    EXPECT_EQ(ring.FillFromFile(file, 4, 4), 1);
    ASSERT_EQ(ring.Pop(&data, &time), 1);
    EXPECT_EQ(StampOf(data), 2);
    EXPECT_EQ(ring.FillFromFile(file, 5, 4), 0) << "first > last does nothing";
    std::fclose(file);
}

TEST(CBufferArrary, ResetEmptiesEverySlot) {
    CBufferArrary ring(audiotest::kBlockBytes);
    ring.PushCopy(StampedBlock(3).data(), 1);
    ring.PushCopy(StampedBlock(4).data(), 2);
    ring.Reset();
    EXPECT_FALSE(ring.AnyFull());
    EXPECT_EQ(ring.ReadIndex(), 0);
    EXPECT_EQ(ring.WriteIndex(), 0);
    EXPECT_EQ(StampOf(ring.WriteSlotData()), 0);
}

}  // namespace
