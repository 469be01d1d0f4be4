#include "dsp/SampleRateConverter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <typeinfo>

#include "dsp/SignalTools.h"

namespace {

using dsp_test::FitTone;
using dsp_test::Tone;

SrcWaveFormat Pcm(int channels, int rate, int bits) {
    SrcWaveFormat f;
    f.channels = static_cast<uint16_t>(channels);
    f.samplesPerSec = static_cast<uint32_t>(rate);
    f.bitsPerSample = static_cast<uint16_t>(bits);
    f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
    f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
    return f;
}

// A converter with its own ring of `ringFrames` output frames; Run() collects
// everything the converter appends, call after call.
struct Harness {
    Harness(int inRate, int outRate, int channels, int ringFrames, int inBits = 16,
            int outBits = 16)
        : channels(channels), outBits(outBits) {
        storage.assign(static_cast<size_t>(ringFrames) * channels * (outBits / 8), 0);
        ring.buffer = storage.data();
        ring.size = static_cast<int>(storage.size());
        ring.format = Pcm(channels, outRate, outBits);
        result = src.Init({&ring, Pcm(channels, inRate, inBits), 0});
    }

    // Converts one call's frames and returns the 16-bit samples it appended.
    std::vector<int16_t> Call(const void* input, int frames) {
        const int before = ring.writeOffset;
        src.Convert(input, frames);
        std::vector<int16_t> out;
        const int frameBytes = channels * 2;
        int at = before;
        // The ring is never lapped within one call in these tests.
        for (int k = 0; k < src.LastOutputFrames(); ++k) {
            int16_t v[2];
            std::memcpy(v, storage.data() + at, frameBytes);
            out.insert(out.end(), v, v + channels);
            at += frameBytes;
            if (at >= ring.size) {
                at = 0;
            }
        }
        return out;
    }

    std::vector<int16_t> Run(const std::vector<int16_t>& in, int framesPerCall) {
        std::vector<int16_t> all;
        const int total = static_cast<int>(in.size()) / channels;
        for (int done = 0; done < total; done += framesPerCall) {
            const int n = std::min(framesPerCall, total - done);
            auto out = Call(in.data() + static_cast<size_t>(done) * channels, n);
            all.insert(all.end(), out.begin(), out.end());
        }
        return all;
    }

    int channels;
    int outBits;
    std::vector<uint8_t> storage;
    SrcOutputRing ring;
    CSampleRateConverter src;
    int result;
};

TEST(SampleRateConverterTest, EngineBlocksConvertToExactFrameCountsCallAfterCall) {
    Harness down(48000, 16000, 2, 256);
    Harness up(16000, 48000, 2, 768);
    ASSERT_EQ(down.result, 0);
    ASSERT_EQ(up.result, 0);
    EXPECT_EQ(down.src.InputCapacity(), 768);
    EXPECT_EQ(up.src.InputCapacity(), 256);
    const auto in48 = Tone(768, 2, 440, 48000, 8000);
    const auto in16 = Tone(256, 2, 440, 16000, 8000);
    for (int call = 0; call < 20; ++call) {
        EXPECT_EQ(down.Call(in48.data(), 768).size(), 256u * 2) << "call " << call;
        EXPECT_EQ(down.ring.writeOffset, 0);
        EXPECT_EQ(up.Call(in16.data(), 256).size(), 768u * 2) << "call " << call;
        EXPECT_EQ(up.ring.writeOffset, 0);
    }
}

TEST(SampleRateConverterTest, ConstantInputKeepsItsLevelBothWays) {
    for (const auto& [inRate, outRate, ringFrames] :
         {std::tuple{48000, 16000, 256}, std::tuple{16000, 48000, 768}}) {
        Harness h(inRate, outRate, 2, ringFrames);
        ASSERT_EQ(h.result, 0);
        std::vector<int16_t> in(static_cast<size_t>(h.src.InputCapacity()) * 2, 1000);
        std::vector<int16_t> out;
        for (int call = 0; call < 4; ++call) {
            out = h.Call(in.data(), h.src.InputCapacity());
        }
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_NEAR(out[i], 1000, 1) << inRate << " -> " << outRate << " sample " << i;
        }
    }
}

TEST(SampleRateConverterTest, ThirdInterpolatedPhaseIsTheInputElevenSamplesEarlier) {
    Harness up(16000, 48000, 1, 768);
    ASSERT_EQ(up.result, 0);
    const auto in = dsp_test::Noise(256 * 8, 20000, 7);
    const auto out = up.Run(in, 256);
    ASSERT_EQ(out.size(), in.size() * 3);
    for (size_t i = 11; i < in.size(); ++i) {
        ASSERT_EQ(out[3 * i + 2], in[i - 11]) << "input sample " << i - 11;
    }
    for (size_t i = 0; i < 11; ++i) {
        EXPECT_EQ(out[3 * i + 2], 0) << "history starts silent";
    }
}

TEST(SampleRateConverterTest, ThirdBandTableHasItsDocumentedShape) {
    const float* h = CSrc3x::kFilter;
    EXPECT_EQ(h[35], 1.0f);
    EXPECT_EQ(h[71], 0.0f);
    for (int k = 1; k <= 35; ++k) {
        EXPECT_EQ(h[35 + k], h[35 - k]) << k;
    }
    for (int j = 1; 35 - 3 * j >= 0; ++j) {
        EXPECT_EQ(h[35 - 3 * j], 0.0f) << j;
        EXPECT_EQ(h[35 + 3 * j], 0.0f) << j;
    }
    // Each interpolation phase has unit DC gain within 0.001.
    for (int r = 0; r < 3; ++r) {
        double sum = 0;
        for (int m = 0; m < 24; ++m) {
            sum += h[3 * m + r];
        }
        EXPECT_NEAR(sum, 1.0, 0.001) << "phase " << r;
    }
}

TEST(SampleRateConverterTest, DecimatorImpulseResponseIsTheFoldedFilter) {
    // An impulse at input 3q comes out as 0.25 x (first half of h, then the
    // same 36 coefficients reversed), read every third tap.
    Harness down(48000, 16000, 1, 256);
    ASSERT_EQ(down.result, 0);
    std::vector<int16_t> in(768 * 2, 0);
    in[30] = 20000;  // q = 10
    const auto out = down.Run(in, 768);
    const float* h = CSrc3x::kFilter;
    for (int m = 0; m < 60; ++m) {
        const int k = 3 * m - 30;
        float expected = 0.0f;
        if (k >= 0 && k < 72) {
            const float tap = k <= 35 ? h[k] : h[71 - k];
            expected = 0.25f * (tap * 20000.0f);
        }
        EXPECT_EQ(out[m], SrcQuantizeSample(expected, 16)) << "output " << m;
    }
}

TEST(SampleRateConverterTest, InputDepthsScaleToTheSameSixteenBitUnits) {
    const auto base = dsp_test::Noise(768 * 2, 30000, 9);
    std::vector<int16_t> outputs[3];
    int idx = 0;
    for (int bits : {16, 24, 32}) {
        Harness h(48000, 16000, 2, 256, bits, 16);
        ASSERT_EQ(h.result, 0);
        std::vector<uint8_t> bytes(base.size() * (bits / 8));
        for (size_t i = 0; i < base.size(); ++i) {
            const int32_t v = static_cast<int32_t>(base[i]) * (bits == 16   ? 1
                                                               : bits == 24 ? 256
                                                                            : 65536);
            std::memcpy(bytes.data() + i * (bits / 8), &v, bits / 8);
        }
        outputs[idx++] = h.Call(bytes.data(), 768);
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[0], outputs[2]);
}

TEST(SampleRateConverterTest, DecimatorPassesOneKilohertzWithItsDocumentedGainAndDelay) {
    Harness down(48000, 16000, 2, 256);
    ASSERT_EQ(down.result, 0);
    const auto in = Tone(48000 * 2, 2, 1000, 48000, 10000);
    const auto out = down.Run(in, 768);
    ASSERT_EQ(out.size(), 32000u * 2);
    // Skip the first half second; 16000 output samples are 1000 whole periods.
    for (int channel = 0; channel < 2; ++channel) {
        const auto fit = FitTone(out, 8000, 16000, 1000, 16000, 2, channel);
        EXPECT_NEAR(fit.amplitude, 9942, 3);
        // Output m sits at input 3m; the phase lag is 35.5 input samples.
        // (One period is 48 input samples.)
        const double delay = std::fmod(-fit.phase / (2 * M_PI * 1000 / 48000) + 96, 48.0);
        EXPECT_NEAR(delay, 35.5, 0.05);
    }
}

TEST(SampleRateConverterTest, DecimatorStopBandMatchesItsWeakDesign) {
    // 12 kHz folds to 4 kHz at 16 kHz and is only 26.7 dB down.
    Harness down(48000, 16000, 1, 256);
    ASSERT_EQ(down.result, 0);
    const auto out = down.Run(Tone(48000 * 2, 1, 12000, 48000, 10000), 768);
    const auto fit = FitTone(out, 8000, 16000, 4000, 16000);
    EXPECT_NEAR(fit.amplitude / 10000, 0.0463, 0.0005);
}

TEST(SampleRateConverterTest, InterpolatorPassesOneKilohertzAndSuppressesItsImages) {
    Harness up(16000, 48000, 1, 768);
    ASSERT_EQ(up.result, 0);
    const auto out = up.Run(Tone(16000 * 2, 1, 1000, 16000, 10000), 256);
    ASSERT_EQ(out.size(), 96000u);
    const auto pass = FitTone(out, 24000, 48000, 1000, 48000);
    EXPECT_NEAR(pass.amplitude / 10000, 0.99995, 0.0002);
    for (double image : {15000.0, 17000.0}) {
        const auto fit = FitTone(out, 24000, 48000, image, 48000);
        EXPECT_LT(20 * std::log10(fit.amplitude / 10000), -75) << image << " Hz";
    }
}

TEST(SampleRateConverterTest, OutputQuantisationLimitsAndRounding) {
    struct Case {
        float value;
        int bits;
        int32_t stored;
    };
    const Case cases[] = {
        {40000.0f, 16, 32767},
        {32767.0f, 16, 32767},
        {-32768.4f, 16, -32768},
        {-40000.0f, 16, -32768},
        {2.5f, 16, 3},
        {-2.5f, 16, -3},
        {2.49f, 16, 2},
        {-0.4f, 16, 0},
        {32768.0f, 24, 0x7FFFFF},
        {-32768.0f, 24, -0x800000},
        {1.5f, 24, 384},
        {-1.999f, 24, -511},
        {32768.0f, 32, 0x7FFFFFFF},
        {-32768.0f, 32, -0x7FFFFFFF},
        {-1.5f, 32, -98304},
        {32767.5f, 32, 2147450880},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SrcQuantizeSample(c.value, c.bits), c.stored) << c.value << " at " << c.bits;
    }
}

TEST(SampleRateConverterTest, WiderDepthsRoundTripThroughTheExactInterpolatorPhase) {
    // 32-bit input carries fractions (x 2^-16); the third phase passes them
    // unchanged, so the writer's rounding shows: 2.5 -> 3 at 16 bits.
    for (int outBits : {16, 24, 32}) {
        Harness up(16000, 48000, 1, 768, 32, outBits);
        ASSERT_EQ(up.result, 0);
        std::vector<int32_t> in(256, 0);
        in[0] = 163840;      // 2.5
        in[1] = -163840;     // -2.5
        in[2] = 0x7FFFFFFF;  // just below 32768
        up.src.Convert(in.data(), 256);
        const int bytes = outBits / 8;
        auto stored = [&](int frame) {
            int32_t v = 0;
            std::memcpy(&v, up.storage.data() + frame * bytes, bytes);
            if (bytes == 2) {
                v = static_cast<int16_t>(v);
            } else if (bytes == 3 && (v & 0x800000)) {
                v -= 0x1000000;
            }
            return v;
        };
        const int third = 3 * 11 + 2;  // output of input 0
        EXPECT_EQ(stored(third), SrcQuantizeSample(2.5f, outBits)) << outBits;
        EXPECT_EQ(stored(third + 3), SrcQuantizeSample(-2.5f, outBits)) << outBits;
        EXPECT_EQ(stored(third + 6), SrcQuantizeSample(0x7FFFFFFF / 65536.0f, outBits)) << outBits;
    }
}

TEST(SampleRateConverterTest, StageTableChoosesTheDocumentedStages) {
    struct Case {
        int in, out;
        const std::type_info* first;
        int firstDirection;
        const std::type_info* second;
        int secondDirection;
    };
    const Case cases[] = {
        {192000, 96000, &typeid(CSrc2x), 0, nullptr, 0},
        {192000, 48000, &typeid(CSrc4x), 0, nullptr, 0},
        {192000, 44100, &typeid(CSrc4x), 0, &typeid(CSrc44_48), 0},
        {96000, 192000, &typeid(CSrc2x), 1, nullptr, 0},
        {96000, 48000, &typeid(CSrc2x), 0, nullptr, 0},
        {96000, 44100, &typeid(CSrc2x), 0, &typeid(CSrc44_48), 0},
        {48000, 16000, &typeid(CSrc3x), 0, nullptr, 0},
        {48000, 32000, &typeid(CSrc32_48), 0, nullptr, 0},
        {48000, 44100, &typeid(CSrc44_48), 0, nullptr, 0},
        {48000, 96000, &typeid(CSrc2x), 1, nullptr, 0},
        {48000, 192000, &typeid(CSrc4x), 1, nullptr, 0},
        {44100, 16000, &typeid(CSrc44_48), 1, &typeid(CSrc3x), 0},
        {44100, 48000, &typeid(CSrc44_48), 1, nullptr, 0},
        {44100, 96000, &typeid(CSrc44_48), 1, &typeid(CSrc2x), 1},
        {44100, 192000, &typeid(CSrc44_48), 1, &typeid(CSrc4x), 1},
        {32000, 48000, &typeid(CSrc32_48), 1, nullptr, 0},
        {24000, 48000, &typeid(CSrc2x), 1, nullptr, 0},
        {24000, 16000, &typeid(CSrc2x), 1, &typeid(CSrc3x), 0},
        {22050, 44100, &typeid(CSrc2x), 1, nullptr, 0},
        {16000, 48000, &typeid(CSrc3x), 1, nullptr, 0},
        {8000, 48000, &typeid(CSrc6x), 1, nullptr, 0},
        {8000, 44100, &typeid(CSrc6x), 1, &typeid(CSrc44_48), 0},
        {22050, 48000, &typeid(CSrcAny), 1, nullptr, 0},
        {48000, 11025, &typeid(CSrcAny), 0, nullptr, 0},
    };
    for (const auto& c : cases) {
        Harness h(c.in, c.out, 2, 512);
        ASSERT_EQ(h.result, 0) << c.in << " -> " << c.out;
        const CSrcCommon* first = h.src.FirstStage();
        const CSrcCommon* second = h.src.SecondStage();
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(typeid(*first), *c.first) << c.in << " -> " << c.out;
        EXPECT_EQ(first->Direction(), c.firstDirection) << c.in << " -> " << c.out;
        if (c.second == nullptr) {
            EXPECT_EQ(second, nullptr) << c.in << " -> " << c.out;
            EXPECT_EQ(first->Block(), 512);
        } else {
            ASSERT_NE(second, nullptr) << c.in << " -> " << c.out;
            EXPECT_EQ(typeid(*second), *c.second) << c.in << " -> " << c.out;
            EXPECT_EQ(second->Direction(), c.secondDirection);
            // The first stage writes straight into the second's input.
            EXPECT_EQ(first->Block(), second->InputCapacity());
        }
    }
    Harness any(22050, 48000, 2, 768);
    ASSERT_EQ(any.result, 0);
    EXPECT_EQ(static_cast<const CSrcAny*>(any.src.FirstStage())->Step(), 30105);
}

TEST(SampleRateConverterTest, EveryRatePairKeepsDcAndAOneKilohertzTone) {
    const std::pair<int, int> pairs[] = {
        {192000, 96000}, {192000, 48000}, {192000, 44100}, {96000, 192000}, {96000, 48000},
        {96000, 44100},  {48000, 32000},  {48000, 44100},  {48000, 96000},  {48000, 192000},
        {44100, 16000},  {44100, 48000},  {44100, 96000},  {44100, 192000}, {32000, 48000},
        {24000, 48000},  {24000, 16000},  {22050, 44100},  {8000, 48000},   {8000, 44100},
        {22050, 48000},  {48000, 11025},
    };
    for (const auto& [inRate, outRate] : pairs) {
        SCOPED_TRACE(std::to_string(inRate) + " -> " + std::to_string(outRate));
        {
            Harness h(inRate, outRate, 1, 1024);
            ASSERT_EQ(h.result, 0);
            std::vector<int16_t> dc(static_cast<size_t>(inRate) / 2, 1000);
            const auto out = h.Run(dc, h.src.InputCapacity() / 2);
            ASSERT_GT(out.size(), static_cast<size_t>(outRate) / 4);
            for (size_t i = out.size() / 2; i < out.size(); ++i) {
                ASSERT_NEAR(out[i], 1000, 2) << "sample " << i;
            }
        }
        {
            Harness h(inRate, outRate, 1, 1024);
            const auto out = h.Run(Tone(static_cast<size_t>(inRate), 1, 1000, inRate, 10000),
                                   h.src.InputCapacity() / 2);
            // Whole periods: outRate / 1000 samples each (11025 Hz: 441 per 40 ms).
            const size_t window = outRate == 11025 ? 4410 : static_cast<size_t>(outRate) / 4;
            ASSERT_GT(out.size(), window + outRate / 2);
            const auto fit = FitTone(out, out.size() - window - 8, window, 1000, outRate);
            EXPECT_NEAR(fit.amplitude / 10000, 1.0, 0.03);
        }
    }
}

TEST(SampleRateConverterTest, BlockByBlockEqualsOneShot) {
    const int pairs[][2] = {{48000, 16000}, {16000, 48000}, {44100, 48000},
                            {44100, 16000}, {22050, 48000}, {48000, 44100}};
    for (const auto& p : pairs) {
        SCOPED_TRACE(std::to_string(p[0]) + " -> " + std::to_string(p[1]));
        Harness once(p[0], p[1], 2, p[1] / 2);  // half a second per call
        ASSERT_EQ(once.result, 0);
        const int frames = std::min(once.src.InputCapacity(), p[0] / 2);
        const auto in = dsp_test::Noise(static_cast<size_t>(frames) * 2, 12000, 3);
        const auto whole = once.Call(in.data(), frames);

        Harness blocks(p[0], p[1], 2, 256);
        ASSERT_EQ(blocks.result, 0);
        // Uneven call sizes, never above the capacity.
        std::vector<int16_t> pieces;
        const int sizes[] = {1, 7, 100, blocks.src.InputCapacity(), 33};
        int done = 0;
        for (int k = 0; done < frames; ++k) {
            const int n = std::min({sizes[k % 5], frames - done, blocks.src.InputCapacity()});
            auto out = blocks.Call(in.data() + static_cast<size_t>(done) * 2, n);
            pieces.insert(pieces.end(), out.begin(), out.end());
            done += n;
        }
        ASSERT_GT(whole.size(), 1000u);
        const size_t common = std::min(whole.size(), pieces.size());
        EXPECT_GE(common + 16, whole.size());
        for (size_t i = 0; i < common; ++i) {
            ASSERT_EQ(pieces[i], whole[i]) << "sample " << i;
        }
    }
}

TEST(SampleRateConverterTest, InitRejectsWhatItCannotConvert) {
    std::vector<uint8_t> buffer(3072, 0xAB);
    struct Case {
        const char* what;
        int channels, inBits, outBits, inRate, outRate, size, offset;
        bool nullBuffer;
    };
    const Case cases[] = {
        {"no channels", 0, 16, 16, 48000, 16000, 1024, 0, false},
        {"three channels", 3, 16, 16, 48000, 16000, 1024, 0, false},
        {"8-bit input", 2, 8, 16, 48000, 16000, 1024, 0, false},
        {"20-bit output", 2, 16, 20, 48000, 16000, 1024, 0, false},
        {"zero input rate", 2, 16, 16, 0, 16000, 1024, 0, false},
        {"zero output rate", 2, 16, 16, 48000, 0, 1024, 0, false},
        {"ring smaller than a frame", 2, 16, 16, 48000, 16000, 2, 0, false},
        {"ring not whole frames", 2, 16, 16, 48000, 16000, 1026, 0, false},
        {"offset off a frame", 2, 16, 16, 48000, 16000, 1024, 2, false},
        {"offset past the end", 2, 16, 16, 48000, 16000, 1024, 1024, false},
        {"no buffer", 2, 16, 16, 48000, 16000, 1024, 0, true},
    };
    for (const auto& c : cases) {
        SrcOutputRing ring;
        ring.buffer = c.nullBuffer ? nullptr : buffer.data();
        ring.size = c.size;
        ring.writeOffset = c.offset;
        ring.format = Pcm(2, c.outRate, c.outBits);
        CSampleRateConverter src;
        EXPECT_EQ(src.Init({&ring, Pcm(c.channels, c.inRate, c.inBits), 0}),
                  CSampleRateConverter::kError)
            << c.what;
        EXPECT_FALSE(src.IsInitialized()) << c.what;
        const auto in = Tone(768, 2, 440, 48000, 5000);
        EXPECT_EQ(src.Convert(in.data(), 768), 0);
        EXPECT_EQ(ring.writeOffset, c.offset) << c.what;
    }
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xAB), 3072) << "nothing written";
    CSampleRateConverter src;
    EXPECT_EQ(src.Init({nullptr, Pcm(2, 48000, 16), 0}), CSampleRateConverter::kError);
}

TEST(SampleRateConverterTest, SecondInitChangesNothing) {
    Harness h(48000, 16000, 2, 256);
    ASSERT_EQ(h.result, 0);
    SrcOutputRing other = h.ring;
    other.format = Pcm(2, 48000, 16);
    EXPECT_EQ(h.src.Init({&other, Pcm(1, 16000, 32), 0}), 0);
    EXPECT_EQ(h.src.InputCapacity(), 768);
    const auto in = Tone(768, 2, 440, 48000, 5000);
    EXPECT_EQ(h.Call(in.data(), 768).size(), 512u) << "still 48000 -> 16000 stereo";
}

TEST(SampleRateConverterTest, LongInputIsCutToItsLastCapacityFrames) {
    Harness h(48000, 16000, 1, 256);
    Harness ref(48000, 16000, 1, 256);
    std::vector<int16_t> in(1000, 0);
    for (int i = 0; i < 1000; ++i) {
        in[i] = static_cast<int16_t>(i * 30 - 15000);
    }
    const auto cut = h.Call(in.data(), 1000);
    const auto last = ref.Call(in.data() + 1000 - 768, 768);
    EXPECT_EQ(cut, last);
}

TEST(SampleRateConverterTest, EqualRatesCopyWithDepthConversionAndWrap) {
    Harness h(48000, 48000, 2, 3, 16, 24);  // 3-frame ring: the copy wraps
    ASSERT_EQ(h.result, 0);
    const int16_t in[] = {1, -1, 0x7FFF, -0x8000, 256, -256, 5, 6};
    h.src.Convert(in, 4);
    EXPECT_EQ(h.ring.writeOffset, 6);  // one frame past the wrap
    auto at = [&](int sample) {
        const uint8_t* p = h.storage.data() + sample * 3;
        int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
        return (v & 0x800000) ? v - 0x1000000 : v;
    };
    EXPECT_EQ(at(0), 5 * 256);  // frame 3 wrapped over frame 0
    EXPECT_EQ(at(1), 6 * 256);
    EXPECT_EQ(at(2), 0x7FFF * 256);
    EXPECT_EQ(at(3), -0x8000 * 256);
    EXPECT_EQ(at(4), 256 * 256);
    EXPECT_EQ(at(5), -256 * 256);
}

}  // namespace
