#include "platform/media/PcmResampler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using platform::AudioFormat;
using platform::PcmResampler;

std::vector<std::byte> AsBytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::byte> bytes(samples.size() * 2);
    std::memcpy(bytes.data(), samples.data(), bytes.size());
    return bytes;
}

std::vector<std::int16_t> AsSamples(const std::vector<std::byte>& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

// Fed in pieces and drained, a converter gives the whole duration: the
// filter's delay is not lost at the end.
TEST(MediaResampler, PiecesPlusDrainKeepTheDuration) {
    struct Case {
        std::uint32_t in, out;
    };
    for (const Case c :
         {Case{44100, 48000}, Case{22050, 48000}, Case{96000, 48000}, Case{8000, 48000}}) {
        SCOPED_TRACE(c.in);
        std::unique_ptr<PcmResampler> resampler;
        ASSERT_EQ(
            PcmResampler::Create(AudioFormat{c.in, 2, 16}, AudioFormat{c.out, 2, 16}, &resampler),
            platform::kOk);
        std::vector<std::int16_t> second(c.in * 2);
        for (std::size_t i = 0; i < second.size(); ++i) {
            second[i] =
                static_cast<std::int16_t>(8000 * std::sin(0.01 * static_cast<double>(i / 2)));
        }
        const auto bytes = AsBytes(second);
        std::vector<std::byte> out;
        for (std::size_t at = 0; at < bytes.size(); at += 4 * 1000) {
            const std::size_t n = std::min<std::size_t>(4 * 1000, bytes.size() - at);
            ASSERT_EQ(resampler->Process(std::span(bytes).subspan(at, n), &out), platform::kOk);
        }
        ASSERT_EQ(resampler->Drain(&out), platform::kOk);
        EXPECT_NEAR(static_cast<double>(out.size() / 4), c.out, 2.0);
    }
}

TEST(MediaResampler, SameFormatIsBitExactAndMonoIsCopiedAtFullLevel) {
    std::unique_ptr<PcmResampler> same;
    ASSERT_EQ(PcmResampler::Create(AudioFormat{48000, 2, 16}, AudioFormat{48000, 2, 16}, &same),
              platform::kOk);
    std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 12345, -12345, 7};
    std::vector<std::byte> out;
    ASSERT_EQ(same->Process(AsBytes(samples), &out), platform::kOk);
    ASSERT_EQ(same->Drain(&out), platform::kOk);
    EXPECT_EQ(AsSamples(out), samples);

    std::unique_ptr<PcmResampler> mono;
    ASSERT_EQ(PcmResampler::Create(AudioFormat{48000, 1, 16}, AudioFormat{48000, 2, 16}, &mono),
              platform::kOk);
    out.clear();
    ASSERT_EQ(mono->Process(AsBytes({32767, -32768, 1000}), &out), platform::kOk);
    ASSERT_EQ(mono->Drain(&out), platform::kOk);
    EXPECT_EQ(AsSamples(out),
              (std::vector<std::int16_t>{32767, 32767, -32768, -32768, 1000, 1000}));
}

TEST(MediaResampler, RefusesFormatsAndPartialFrames) {
    std::unique_ptr<PcmResampler> r;
    EXPECT_EQ(PcmResampler::Create(AudioFormat{48000, 2, 8}, AudioFormat{48000, 2, 16}, &r),
              platform::kInvalidArg);
    EXPECT_EQ(PcmResampler::Create(AudioFormat{48000, 0, 16}, AudioFormat{48000, 2, 16}, &r),
              platform::kInvalidArg);
    EXPECT_EQ(PcmResampler::Create(AudioFormat{0, 2, 16}, AudioFormat{48000, 2, 16}, &r),
              platform::kInvalidArg);
    ASSERT_EQ(PcmResampler::Create(AudioFormat{44100, 2, 16}, AudioFormat{48000, 2, 16}, &r),
              platform::kOk);
    std::vector<std::byte> three(3), out;
    EXPECT_EQ(r->Process(three, &out), platform::kInvalidArg);
}

}  // namespace
