#include "dsp/PitchShifter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "dsp/PitchShifterDetail.h"
#include "dsp/SignalTools.h"

namespace {

namespace detail = pitch_shifter_detail;

constexpr int kBlock = 768;
constexpr double kRate = 48000;

// The shifter is process-wide: every test starts from a fresh reset, stereo.
class PitchShifterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetPitchShifterValue(0);
        ASSERT_EQ(InitPitchShifter(2), 1);
        ASSERT_EQ(detail::GetProbe().channels, 2u);
    }

    // A tone with two zero crossings per period: sin x + 0.3 sin 2x + 0.1 sin 3x.
    static std::vector<int16_t> HarmonicTone(size_t frames, double freq) {
        std::vector<int16_t> out(frames * 2);
        for (size_t i = 0; i < frames; ++i) {
            const double x = 2 * M_PI * freq * i / kRate;
            const double v = 7000 * (std::sin(x) + 0.3 * std::sin(2 * x) + 0.1 * std::sin(3 * x));
            out[2 * i] = out[2 * i + 1] = static_cast<int16_t>(std::lround(v));
        }
        return out;
    }

    static void ShiftAll(std::vector<int16_t>& samples, unsigned framesPerCall = kBlock) {
        const size_t frames = samples.size() / 2;
        for (size_t done = 0; done < frames; done += framesPerCall) {
            const unsigned n =
                static_cast<unsigned>(std::min<size_t>(framesPerCall, frames - done));
            ASSERT_EQ(ShiftPitch(samples.data() + done * 2, n), n);
        }
    }
};

TEST_F(PitchShifterTest, KeyZeroDelaysByExactlyTheFixedLatency) {
    auto left = dsp_test::Noise(kBlock * 12, 30000, 1);
    auto right = dsp_test::Noise(kBlock * 12, 30000, 2);
    std::vector<int16_t> in(left.size() * 2);
    for (size_t i = 0; i < left.size(); ++i) {
        in[2 * i] = left[i];
        in[2 * i + 1] = right[i];
    }
    auto out = in;
    ShiftAll(out);
    for (size_t t = 0; t < left.size(); ++t) {
        for (int c = 0; c < 2; ++c) {
            const int16_t expected = t < static_cast<size_t>(kPitchShifterDelayFrames)
                                         ? 0
                                         : in[2 * (t - kPitchShifterDelayFrames) + c];
            ASSERT_EQ(out[2 * t + c], expected) << "frame " << t << " channel " << c;
        }
    }
}

TEST_F(PitchShifterTest, KeyTableIsUsedVerbatimAndClamped) {
    const uint32_t printed[25] = {32768, 34717, 36781,  38968,  41285,  43740,  46341, 49097, 52016,
                                  55109, 58386, 61858,  65536,  69433,  73562,  77936, 82570, 87480,
                                  92682, 98193, 104032, 110218, 116772, 123716, 131072};
    for (int k = -12; k <= 12; ++k) {
        EXPECT_EQ(detail::StepForKey(k), printed[k + 12]) << "key " << k;
        EXPECT_EQ(detail::InverseRatioForKey(k), 0x80000000u / printed[k + 12]) << "key " << k;
    }
    EXPECT_EQ(detail::StepForKey(13), 131072u);
    EXPECT_EQ(detail::StepForKey(-40), 32768u);
    EXPECT_EQ(detail::InverseRatioForKey(1), 30928u);
    EXPECT_EQ(detail::InverseRatioForKey(0), 32768u);
    SetPitchShifterValue(99);
    EXPECT_EQ(GetPitchShifterKey(), 12);
    SetPitchShifterValue(-99);
    EXPECT_EQ(GetPitchShifterKey(), -12);
}

TEST_F(PitchShifterTest, CopyLengthPerKeyAndLag) {
    struct Case {
        int key, lag, length;
    };
    const Case cases[] = {
        {1, 300, 5042}, {1, 600, 10085}, {-1, 300, 5046}, {-1, 600, 10092},
        {6, 300, 724},  {6, 600, 1448},  {-6, 300, 724},  {-6, 600, 1448},
        {12, 300, 300}, {12, 600, 600},  {-12, 300, 300}, {-12, 600, 600},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(detail::CopyLength(c.key, c.lag), c.length) << c.key << "/" << c.lag;
    }
}

TEST_F(PitchShifterTest, LagSearchFindsThePeriodAndPrefersTheShorterOnTies) {
    const auto noise = dsp_test::Noise(600, 20000, 5);
    struct Case {
        int period;
        int expected;
    };
    // A period of 300 also matches at 600 exactly: the shorter lag wins.
    for (const auto& c : {Case{400, 400}, Case{300, 300}, Case{512, 512}, Case{1, 300}}) {
        std::vector<int16_t> samples(1200);
        for (int j = 0; j < 1200; ++j) {
            samples[j] = c.period == 1 ? 1234 : noise[j % c.period];
        }
        EXPECT_EQ(detail::FindLag(samples.data()), c.expected) << "period " << c.period;
    }
}

TEST_F(PitchShifterTest, HarmonicToneComesOutAtTheKeysRatioWithoutGaps) {
    const double freq = 220;
    const size_t frames = static_cast<size_t>(kRate * 30);
    const auto tone = HarmonicTone(frames, freq);
    for (int key = -4; key <= 4; ++key) {
        SCOPED_TRACE("key " + std::to_string(key));
        ASSERT_EQ(InitPitchShifter(2), 1);
        SetPitchShifterValue(key);
        auto out = tone;
        const size_t settle = static_cast<size_t>(kRate);  // one second
        ShiftAll(out);
        // Rising zero crossings of the left channel after the first second.
        size_t crossings = 0;
        size_t first = 0, last = 0;
        for (size_t i = settle + 1; i < frames; ++i) {
            if (out[2 * (i - 1)] < 0 && out[2 * i] >= 0) {
                if (crossings == 0) {
                    first = i;
                }
                last = i;
                ++crossings;
            }
        }
        ASSERT_GT(crossings, 100u);
        const double measured = (crossings - 1) * kRate / static_cast<double>(last - first);
        const double expected = freq * std::pow(2.0, key / 12.0);
        EXPECT_NEAR(measured / expected, 1.0, 0.001) << measured << " Hz";
        // No drop-out and no run-dry: no sample lost to a full output queue,
        // no silent chunk once the music has started.
        EXPECT_EQ(detail::GetProbe().droppedSamples, 0u);
        for (size_t c = settle / 128; c < frames / 128; ++c) {
            bool silent = true;
            for (size_t i = c * 128; i < (c + 1) * 128 && silent; ++i) {
                silent = out[2 * i] == 0;
            }
            ASSERT_FALSE(silent) << "chunk " << c;
        }
        EXPECT_EQ(out.size(), tone.size());
    }
}

TEST_F(PitchShifterTest, OutputQueueNeitherGrowsNorDrainsOverALongStretch) {
    // The spliced sound is as long as the input: the backlog stays bounded.
    const auto tone = HarmonicTone(static_cast<size_t>(kRate * 20), 220);
    for (int key : {-4, -1, 1, 4}) {
        ASSERT_EQ(InitPitchShifter(2), 1);
        SetPitchShifterValue(key);
        auto out = tone;
        int lowest = detail::kOutputSize, highest = 0;
        for (size_t done = 0; done < out.size() / 2; done += kBlock) {
            ShiftPitch(out.data() + done * 2, kBlock);
            if (done > kRate) {
                const auto p = detail::GetProbe();
                lowest = std::min(lowest, p.outputFill);
                highest = std::max(highest, p.outputFill + p.intermediateFill);
            }
        }
        EXPECT_GT(lowest, 0) << "key " << key;
        EXPECT_LT(highest, detail::kOutputSize) << "key " << key;
    }
}

TEST_F(PitchShifterTest, FullOctaveCyclesAreOneLagCopiedAndOneCrossfaded) {
    for (int key : {12, -12}) {
        ASSERT_EQ(InitPitchShifter(2), 1);
        SetPitchShifterValue(key);
        auto block = HarmonicTone(kBlock, 200);
        for (int i = 0; i < 40; ++i) {
            ShiftPitch(block.data(), kBlock);
            const auto p = detail::GetProbe();
            if (p.copyLength != 0) {
                EXPECT_EQ(p.copyLength, p.lag) << "key " << key;
                EXPECT_EQ(p.remaining, 0) << "key " << key;
            }
        }
        EXPECT_NE(detail::GetProbe().copyLength, 0) << "a cycle ran, key " << key;
    }
}

TEST_F(PitchShifterTest, KeyChangeMidCycleFinishesTheCycleWithItsOldLength) {
    SetPitchShifterValue(3);
    const auto tone = HarmonicTone(kRate * 4, 180);
    size_t at = 0;
    auto chunk = [&]() {
        std::vector<int16_t> piece(tone.begin() + at * 2, tone.begin() + (at + 128) * 2);
        ShiftPitch(piece.data(), 128);
        at += 128;
    };
    while (detail::GetProbe().remaining == 0) {
        chunk();
    }
    const auto started = detail::GetProbe();
    ASSERT_EQ(started.copyLength, detail::CopyLength(3, started.lag));
    SetPitchShifterValue(-3);
    // The old cycle keeps copying with its old length: a new lag search only
    // comes once everything it still had to copy was available.
    auto before = detail::GetProbe();
    int chunks = 0;
    while (at < tone.size() / 2 - 128) {
        before = detail::GetProbe();
        chunk();
        ++chunks;
        const auto p = detail::GetProbe();
        if (p.copyLength != before.copyLength || p.lag != before.lag ||
            p.remaining > before.remaining) {
            break;
        }
        EXPECT_EQ(p.copyLength, started.copyLength);
    }
    const auto next = detail::GetProbe();
    EXPECT_GT(chunks, 1) << "the running cycle was not cut short";
    EXPECT_LE(before.remaining, before.intermediateFill + 256);
    EXPECT_EQ(next.copyLength, detail::CopyLength(-3, next.lag)) << "key-down formula";
}

TEST_F(PitchShifterTest, ABlockIsProcessedAsChunksOf128) {
    const auto tone = HarmonicTone(kBlock * 40, 230);
    SetPitchShifterValue(2);
    auto whole = tone;
    ShiftAll(whole, kBlock);
    ASSERT_EQ(InitPitchShifter(2), 1);
    auto chunks = tone;
    ShiftAll(chunks, 128);
    EXPECT_EQ(whole, chunks);
}

TEST_F(PitchShifterTest, SecondInitResetsAndKeepsTheFirstStore) {
    SetPitchShifterValue(5);
    auto block = HarmonicTone(kBlock, 300);
    for (int i = 0; i < 10; ++i) {
        ShiftPitch(block.data(), kBlock);
    }
    ASSERT_EQ(InitPitchShifter(1), 1);
    const auto p = detail::GetProbe();
    EXPECT_EQ(p.channels, 2u);
    EXPECT_EQ(p.outputFill, kPitchShifterDelayFrames);
    EXPECT_EQ(p.intermediateFill, 0);
    EXPECT_EQ(p.lag, 600);
    EXPECT_EQ(p.remaining, 0);
    EXPECT_EQ(GetPitchShifterKey(), 5) << "reset keeps the key";
    // After the reset the output starts with silence again.
    auto again = HarmonicTone(kBlock, 300);
    ShiftPitch(again.data(), kBlock);
    EXPECT_TRUE(std::all_of(again.begin(), again.end(), [](int16_t v) { return v == 0; }));
}

TEST_F(PitchShifterTest, ApplyKeySetsTheOnFlagAndTheKey) {
    ApplyKey(-2);
    EXPECT_TRUE(IsPitchShifterOn());
    EXPECT_EQ(GetPitchShifterKey(), -2);
    SetPitchShifterValue(0);
    EXPECT_TRUE(IsPitchShifterOn()) << "never cleared";
}

TEST(PitchShifterFreshProcessTest, UninitializedShifterLeavesBlocksUnchanged) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // re-run in a fresh process
    EXPECT_EXIT(
        {
            ResetPitchShifter();  // does nothing before initialization
            std::vector<int16_t> block(kBlock * 2);
            for (size_t i = 0; i < block.size(); ++i) {
                block[i] = static_cast<int16_t>(i * 7);
            }
            const auto copy = block;
            const bool same = ShiftPitch(block.data(), kBlock) == kBlock && block == copy &&
                              !detail::GetProbe().initialized && InitPitchShifter(0) == 0 &&
                              InitPitchShifter(7) == 0 && !detail::GetProbe().initialized;
            std::exit(same ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PitchShifterTest, KeySwitchesWhilePlayingNeverClickBeyondOneBlock) {
    // A smooth tone: any jump far above its largest step is a click.
    const auto tone = HarmonicTone(static_cast<size_t>(kRate * 24), 220);
    auto out = tone;
    const int keys[] = {0, 2, -3, 4, 0, -4, 1, -1, 3, 0, -2, 4};
    const size_t blocks = out.size() / 2 / kBlock;
    int clickBlocks = 0;
    int switches = 0;
    int previous = 0;
    for (size_t b = 0; b < blocks; ++b) {
        if (b % 50 == 0) {
            SetPitchShifterValue(keys[(b / 50) % 12]);
            ++switches;
        }
        int16_t* block = out.data() + b * kBlock * 2;
        ShiftPitch(block, kBlock);
        if (b * kBlock < kRate / 2) {
            previous = block[2 * kBlock - 2];
            continue;  // start-up: silence, then the music
        }
        bool click = std::abs(block[0] - previous) > 2000;
        for (int i = 1; i < kBlock && !click; ++i) {
            click = std::abs(block[2 * i] - block[2 * i - 2]) > 2000;
        }
        previous = block[2 * kBlock - 2];
        clickBlocks += click ? 1 : 0;
    }
    EXPECT_LE(clickBlocks, switches);
    EXPECT_EQ(detail::GetProbe().droppedSamples, 0u);
}

TEST_F(PitchShifterTest, KeyButtonsFromAnotherThreadWhileRendering) {
    std::atomic<bool> stop{false};
    std::thread ui([&] {
        int k = -12;
        while (!stop.load()) {
            SetPitchShifterValue(k);
            k = k == 12 ? -12 : k + 1;
            std::this_thread::yield();
        }
    });
    auto block = HarmonicTone(kBlock, 250);
    for (int i = 0; i < 400; ++i) {
        ASSERT_EQ(ShiftPitch(block.data(), kBlock), static_cast<unsigned>(kBlock));
    }
    stop = true;
    ui.join();
    const auto p = detail::GetProbe();
    EXPECT_LE(p.outputFill, detail::kOutputSize);
    EXPECT_LE(p.intermediateFill, detail::kIntermediateSize);
}

}  // namespace
