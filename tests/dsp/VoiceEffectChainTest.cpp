#include "dsp/VoiceEffectChain.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <map>
#include <thread>

#include "dsp/SignalTools.h"

namespace {

constexpr int kRate = 16000;
constexpr int kBlock = CVoiceEffectChain::kBlockFrames;

// Runs `blocks` hops of a two-channel chain over a mono input signal (both
// channels fed the same) and keeps voice and effect of both channels.
struct ChainRun {
    std::vector<float> voice[2];
    std::vector<float> effect[2];
};

ChainRun Process(CVoiceEffectChain& chain, const std::vector<float>& input, bool withEffect = true) {
    ChainRun run;
    const size_t blocks = (input.size() + kBlock - 1) / kBlock;
    for (int c = 0; c < 2; ++c) {
        run.voice[c].assign(blocks * kBlock, 0.0f);
        run.effect[c].assign(blocks * kBlock, 0.0f);
    }
    std::copy(input.begin(), input.end(), run.voice[0].begin());
    std::copy(input.begin(), input.end(), run.voice[1].begin());
    for (size_t b = 0; b < blocks; ++b) {
        float* v[2] = {run.voice[0].data() + b * kBlock, run.voice[1].data() + b * kBlock};
        float* e[2] = {run.effect[0].data() + b * kBlock, run.effect[1].data() + b * kBlock};
        if (withEffect) {
            chain.Process(v, e, kBlock);
        } else {
            chain.Process(v, kBlock);
        }
    }
    return run;
}

std::vector<float> Impulse(size_t length, float value = 10000.0f) {
    std::vector<float> x(length, 0.0f);
    x[0] = value;
    return x;
}

int FixedRandom(void* context) {
    auto* values = static_cast<std::vector<int>*>(context);
    const int v = values->front();
    values->erase(values->begin());
    values->push_back(v);
    return v;
}

TEST(VoiceEffectChainTest, EchoAloneGivesTheImpulseAndItsUndampedTaps) {
    CVoiceEffectChain chain;
    ASSERT_EQ(chain.Configure(kRate, 2), 0);
    chain.SetEchoOn(true);
    chain.SetReverbOn(false);
    const auto run = Process(chain, Impulse(7168));
    // 0.18 x 10000 written 1760 samples earlier; the damped loop (x 0.45,
    // low-pass b = 0.5) comes back every 2560 samples through the tap.
    const std::map<size_t, float> taps = {{1760, 1800.0f}, {4320, 405.0f},  {4321, 405.0f},
                                          {6880, 91.125f}, {6881, 182.25f}, {6882, 91.125f}};
    for (int c = 0; c < 2; ++c) {
        for (size_t t = 0; t < 7168; ++t) {
            const auto it = taps.find(t);
            const float tap = it == taps.end() ? 0.0f : it->second;
            ASSERT_NEAR(run.effect[c][t], tap, 1e-3) << "effect, channel " << c << " t " << t;
            const float dry = t == 0 ? 10000.0f : 0.0f;
            ASSERT_NEAR(run.voice[c][t], dry + tap, 1e-3) << "voice, channel " << c << " t " << t;
        }
    }
}

TEST(VoiceEffectChainTest, ReverbImpulseResponseStartsWhereTheParametersSay) {
    CVoiceEffectChain chain;
    ASSERT_EQ(chain.Configure(kRate, 2), 0);
    chain.SetEchoOn(false);
    chain.SetReverbOn(true);
    const auto run = Process(chain, Impulse(2304));
    const auto& left = run.effect[0];
    const auto& right = run.effect[1];
    // Room filter (x 0.054079), first left/right reflection tap (64 / 80
    // samples) behind the reflection delay (800 + 128), reflections x 1.333521.
    for (size_t t = 0; t < 992; ++t) {
        ASSERT_EQ(left[t], 0.0f) << t;
    }
    for (size_t t = 0; t < 1008; ++t) {
        ASSERT_EQ(right[t], 0.0f) << t;
    }
    EXPECT_NEAR(left[992], 721.15f, 0.1f);
    EXPECT_NEAR(right[1008], 721.15f, 0.1f);
    EXPECT_NEAR(left[993] / left[992], 0.190854f, 1e-5f) << "room filter tail";
    // The reflections end; the late part begins with the input taps at
    // 1600 (left, line A) and 1710 (right, line B).
    for (size_t t = 1200; t < 1600; ++t) {
        ASSERT_EQ(left[t], 0.0f) << t;
    }
    EXPECT_NEAR(left[1600], 0.5f * 540.79f * 1.778279f * 0.5f, 0.1f);
    EXPECT_EQ(right[1600], 0.0f);
    EXPECT_NEAR(right[1710], 0.5f * 540.79f * 1.778279f * 0.5f, 0.1f);
    // Dry voice plus reverberation in the voice buffer.
    EXPECT_EQ(run.voice[0][0], 10000.0f);
    EXPECT_EQ(run.voice[0][992], left[992]);
}

TEST(VoiceEffectChainTest, KtvParameterDerivation) {
    CReverbWrap reverb;
    std::vector<int> draws = {0, 12345, 32767, 16384};
    reverb.Config().SetRandom(&FixedRandom, &draws);
    ASSERT_EQ(reverb.Initialize(AudFormat{2, kRate}), 0);
    const CReverbConfig& cfg = reverb.Config();
    EXPECT_EQ(cfg.Environment(), kReverbEnvironmentKtv);
    reverb.Config().UpdateParameters();
    struct Value {
        const char* name;
        double actual;
        double expected;
    };
    const auto& net = cfg.ReverbNet();
    const Value values[] = {
        {"room level", cfg.RoomLevel(), 0.066834},
        {"room filter coefficient", cfg.RoomFilter().A(), 0.190854},
        {"room filter input gain", cfg.RoomFilter().B(), 0.054079},
        {"reflection gain", cfg.ReflectionGain(), 1.333521},
        {"reverb gain", cfg.ReverbNetGain(), 1.778279},
        {"line 1 gain", net.LineGain(1), 0.801793},
        {"line 1 damping", net.Damping(1), 0.083304},
        {"line 1 output gain", net.OutputGain(1), 0.735001},
    };
    for (const auto& v : values) {
        EXPECT_NEAR(v.actual, v.expected, std::fabs(v.expected) * 1e-5) << v.name;
    }
    struct Count {
        const char* name;
        int actual;
        int expected;
    };
    const Count counts[] = {
        {"reflection delay", cfg.ReflectionDelay(), 800},
        {"reverb delay", cfg.ReverbDelay(), 679},
        {"tap A", cfg.InputTap(0), 1728},
        {"tap B", cfg.InputTap(1), 1838},
        {"tap A'", cfg.InputTap(2), 2048},
        {"tap B'", cfg.InputTap(3), 2128},
        {"line 0 (jitter -5 %)", net.LineLength(0), 1574},
        {"line 1 (no jitter)", net.LineLength(1), 921},
        {"line 2 (jitter +5 %)", net.LineLength(2), 1185},
        {"line 3 (no jitter)", net.LineLength(3), 1508},
        {"network line capacity", net.Capacity(), 19328},
    };
    for (const auto& c : counts) {
        EXPECT_EQ(c.actual, c.expected) << c.name;
    }
    const int left[] = {64, 88, 128, 156, 187, 217};
    const int right[] = {80, 123, 144, 176, 214, 240};
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(cfg.EarlyReflections().Left().Delay(k), left[k]) << k;
        EXPECT_EQ(cfg.EarlyReflections().Right().Delay(k), right[k]) << k;
        EXPECT_NEAR(cfg.EarlyReflections().Left().Gain(k), 1.0 - (left[k] - 64) * 0.5 / 153, 1e-6);
        EXPECT_NEAR(cfg.EarlyReflections().Right().Gain(k), 1.0 - (right[k] - 80) * 0.5 / 160,
                    1e-6);
    }
}

TEST(VoiceEffectChainTest, EnvironmentTableHoldsTheNamedRecords) {
    EXPECT_STREQ(kReverbEnvironments[0].name, "Default");
    EXPECT_EQ(kReverbEnvironments[0].room, -10000);
    EXPECT_EQ(kReverbEnvironments[0].reverb, -10000);
    EXPECT_STREQ(kReverbEnvironments[23].name, "Underwater");
    const ReverbEnvironment& ktv = kReverbEnvironments[kReverbEnvironmentKtv];
    EXPECT_STREQ(ktv.name, "KTV");
    EXPECT_EQ(ktv.room, -2350);
    EXPECT_EQ(ktv.roomHf, -300);
    EXPECT_EQ(ktv.reflections, 250);
    EXPECT_EQ(ktv.reverb, 500);
    EXPECT_FLOAT_EQ(ktv.decayTime, 1.8f);
    EXPECT_FLOAT_EQ(ktv.decayHfRatio, 0.6f);
    EXPECT_FLOAT_EQ(ktv.reflectionsDelay, 0.05f);
    EXPECT_FLOAT_EQ(ktv.reverbDelay, 0.05f);
    EXPECT_FLOAT_EQ(ktv.hfReference, 6000.0f);
    // Every environment runs and stays finite on an impulse.
    for (int i = 0; i < kReverbEnvironmentCount; ++i) {
        CReverbWrap reverb;
        ASSERT_EQ(reverb.Initialize(AudFormat{2, kRate}), 0);
        reverb.Config().SetEnvironment(i);
        std::vector<float> l(kBlock, 0.0f), r(kBlock, 0.0f);
        l[0] = r[0] = 10000.0f;
        float peak = 0.0f;
        for (int b = 0; b < 200; ++b) {
            float* bufs[2] = {l.data(), r.data()};
            reverb.Process(bufs, kBlock);
            for (int k = 0; k < kBlock; ++k) {
                ASSERT_TRUE(std::isfinite(l[k]) && std::isfinite(r[k]))
                    << kReverbEnvironments[i].name;
                peak = std::max({peak, std::fabs(l[k]), std::fabs(r[k])});
            }
            std::fill(l.begin(), l.end(), 0.0f);
            std::fill(r.begin(), r.end(), 0.0f);
        }
        EXPECT_LT(peak, 1e5f) << kReverbEnvironments[i].name;
    }
}

TEST(VoiceEffectChainTest, SilenceGivesExactSilence) {
    for (bool withEffect : {true, false}) {
        CVoiceEffectChain chain;
        ASSERT_EQ(chain.Configure(kRate, 2), 0);
        chain.SetEchoOn(true);
        chain.SetReverbOn(true);
        const auto run = Process(chain, std::vector<float>(kRate * 3, 0.0f), withEffect);
        for (int c = 0; c < 2; ++c) {
            for (size_t t = 0; t < run.voice[c].size(); ++t) {
                ASSERT_EQ(run.voice[c][t], 0.0f);
                ASSERT_EQ(run.effect[c][t], 0.0f);
            }
        }
    }
}

TEST(VoiceEffectChainTest, StereoVoiceBecomesTheLeftChannel) {
    // Whatever the right channel holds, the output is that of the left one.
    const auto noise = dsp_test::Noise(kBlock * 40, 8000, 11);
    std::vector<float> out[2][4];
    for (int pass = 0; pass < 2; ++pass) {
        CVoiceEffectChain chain;
        std::vector<int> draws = {100, 200, 300, 400};
        chain.Reverb()->Config().SetRandom(&FixedRandom, &draws);
        ASSERT_EQ(chain.Configure(kRate, 2), 0);
        chain.SetEchoOn(true);
        chain.SetReverbOn(true);
        std::vector<float> left(noise.begin(), noise.end());
        std::vector<float> right(left.size(), pass == 0 ? 12345.0f : -3.0f);
        if (pass == 1) {
            std::reverse(right.begin(), right.end());
        }
        std::vector<float> effL(left.size()), effR(left.size());
        for (size_t b = 0; b < left.size() / kBlock; ++b) {
            float* v[2] = {left.data() + b * kBlock, right.data() + b * kBlock};
            float* e[2] = {effL.data() + b * kBlock, effR.data() + b * kBlock};
            chain.Process(v, e, kBlock);
        }
        out[pass][0] = left;
        out[pass][1] = right;
        out[pass][2] = effL;
        out[pass][3] = effR;
    }
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(out[0][k], out[1][k]) << "buffer " << k;
    }
    EXPECT_NE(out[0][2], out[0][3]) << "the reverberation itself is stereo";
}

TEST(VoiceEffectChainTest, BothOffPassesTheVoiceAndNoEffect) {
    CVoiceEffectChain chain;
    ASSERT_EQ(chain.Configure(kRate, 1), 0);
    const auto noise = dsp_test::Noise(kBlock * 4, 8000, 3);
    std::vector<float> voice(noise.begin(), noise.end());
    const auto dry = voice;
    std::vector<float> effect(voice.size(), 7.0f);
    for (size_t b = 0; b < 4; ++b) {
        float* v[2] = {voice.data() + b * kBlock, nullptr};
        float* e[2] = {effect.data() + b * kBlock, nullptr};
        chain.Process(v, e, kBlock);
    }
    EXPECT_EQ(voice, dry);
    EXPECT_TRUE(std::all_of(effect.begin(), effect.end(), [](float v) { return v == 0.0f; }));
}

TEST(VoiceEffectChainTest, WithoutEffectBuffersTheVoiceKeepsItsDrySignal) {
    ChainRun runs[2];
    for (int echo = 0; echo < 2; ++echo) {
        CVoiceEffectChain chain;
        std::vector<int> draws = {1, 2, 3, 4};
        chain.Reverb()->Config().SetRandom(&FixedRandom, &draws);
        ASSERT_EQ(chain.Configure(kRate, 2), 0);
        chain.SetEchoOn(echo == 1);
        chain.SetReverbOn(true);
        runs[echo] = Process(chain, Impulse(2816), false);
    }
    for (const auto& run : runs) {
        EXPECT_EQ(run.voice[0][0], 10000.0f);
        EXPECT_NEAR(run.voice[0][992], 721.15f, 0.1f) << "first reflection";
    }
    // The echo's damped return (0.4 x 2250 at 2560 and 2561) is written into
    // the voice itself; its reverberation comes later.
    for (size_t t : {2560u, 2561u}) {
        EXPECT_NEAR(runs[1].voice[0][t] - runs[0].voice[0][t], 900.0f, 0.01f) << t;
    }
    EXPECT_EQ(runs[1].voice[0][2559], runs[0].voice[0][2559]);
}

TEST(VoiceEffectChainTest, LongNoiseThenSilenceDecaysToExactZeroWithoutDenormals) {
    CVoiceEffectChain chain;
    ASSERT_EQ(chain.Configure(kRate, 2), 0);
    chain.SetEchoOn(true);
    chain.SetReverbOn(true);
    const auto noise = dsp_test::Noise(kRate * 30, 10000, 17);
    std::vector<float> input(noise.begin(), noise.end());
    input.resize(input.size() + kRate * 20, 0.0f);
    const auto run = Process(chain, input);
    double noisePower = 0, tailPower = 0;
    const size_t tail = input.size() - kRate;  // the last second
    for (int c = 0; c < 2; ++c) {
        for (size_t t = 0; t < run.voice[c].size(); ++t) {
            const float v = run.voice[c][t];
            const float e = run.effect[c][t];
            ASSERT_TRUE(std::isfinite(v) && std::isfinite(e)) << t;
            ASSERT_NE(std::fpclassify(v), FP_SUBNORMAL) << t;
            ASSERT_NE(std::fpclassify(e), FP_SUBNORMAL) << t;
            if (t < static_cast<size_t>(kRate * 30)) {
                noisePower += double(e) * e;
            } else if (t >= tail) {
                tailPower += double(v) * v + double(e) * e;
            }
        }
    }
    noisePower /= 2.0 * kRate * 30;
    tailPower /= 4.0 * kRate;
    ASSERT_GT(noisePower, 1e6);
    EXPECT_LT(10 * std::log10(tailPower / noisePower + 1e-300), -100.0);
    EXPECT_EQ(tailPower, 0.0) << "the tail ends in exact zeros";
}

TEST(VoiceEffectChainTest, ConfigureRejectsWhatItCannotServe) {
    CVoiceEffectChain chain;
    EXPECT_EQ(chain.Configure(kRate, 3), -1);
    EXPECT_EQ(chain.Configure(0, 2), -1);
    EXPECT_EQ(chain.Configure(kRate, 2), 0);
    EXPECT_EQ(chain.Echo()->Delay(), 2560);
    EXPECT_EQ(chain.Echo()->TapOffset(), 800);
    EXPECT_EQ(chain.Echo()->DampingA(), 0.0f);
    EXPECT_EQ(chain.Echo()->DampingB(), 0.5f);
    // A block of any length is processed without touching memory past it.
    std::vector<float> v(100, 1.0f), e(100, 0.0f);
    float* vv[2] = {v.data(), v.data()};
    float* ee[2] = {e.data(), e.data()};
    chain.SetEchoOn(true);
    chain.SetReverbOn(true);
    chain.Process(vv, ee, 100);
    EXPECT_TRUE(std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); }));
}

}  // namespace

namespace {

TEST(VoiceEffectChainTest, EffectButtonFromAnotherThreadWhileProcessing) {
    CVoiceEffectChain chain;
    ASSERT_EQ(chain.Configure(kRate, 2), 0);
    std::atomic<bool> stop{false};
    std::thread ui([&] {
        bool on = false;
        while (!stop.load()) {
            chain.SetEchoOn(on);
            chain.SetReverbOn(!on);
            on = !on;
            std::this_thread::yield();
        }
    });
    const auto noise = dsp_test::Noise(kBlock, 8000, 5);
    std::vector<float> v0(kBlock), v1(kBlock), e0(kBlock), e1(kBlock);
    for (int b = 0; b < 300; ++b) {
        std::copy(noise.begin(), noise.end(), v0.begin());
        float* v[2] = {v0.data(), v1.data()};
        float* e[2] = {e0.data(), e1.data()};
        chain.Process(v, e, kBlock);
        ASSERT_TRUE(std::all_of(v0.begin(), v0.end(), [](float x) { return std::isfinite(x); }));
    }
    stop = true;
    ui.join();
}

}  // namespace
