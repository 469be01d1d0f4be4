#include "dsp/ReverbConfig.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr float kPi = 3.14159265358979f;

// mB to linear gain, 10^(mB / 2000) by way of the power of two.
float GainOf(float millibels) {
    return std::pow(2.0f, millibels / 2000.0f * 3.321928f);
}

struct FilterSetting {
    float b;  // input gain
    float a;  // feedback coefficient
    float level;
};

// One-pole low-pass that has the level `level` at DC and `level + hf` at the
// reference frequency.
FilterSetting DeriveFilter(float level, float hf, float hfReference, float fs) {
    const float l = std::min(1.0f, GainOf(level));
    const float o = std::min(l, GainOf(level + hf));
    if (l - o < 1e-10f) {
        return FilterSetting{1.0f, 0.0f, 1.0f};
    }
    const float w = std::min(2.0f * kPi * hfReference / fs, kPi);
    const float a = o / l;
    const float b = 2.0f - 2.0f * a * a * std::cos(w);
    const float c = a * a - 1.0f;
    float coefficient = 0.0f;
    if (c != 0.0f) {
        coefficient = (std::sqrt(b * b - 4.0f * c * c) - b) / (2.0f * c);
    }
    return FilterSetting{(1.0f - coefficient) * l, coefficient, l};
}

// Line lengths: 0.5 s in whole frames of 128 with one to spare.
int HalfSecondLine(int fs) {
    return CDynamicFrame::kFrame * (fs / 2 / CDynamicFrame::kFrame + 1);
}

}  // namespace

// clang-format off
const ReverbEnvironment kReverbEnvironments[kReverbEnvironmentCount] = {
    // name               room  roomHF rolloff decay  hfRatio refl   reflDly reverb revDly diff    dens    hfRef
    {"Default",          -10000,     0, 0.0f,  1.00f, 0.50f, -10000, 0.020f, -10000, 0.040f, 100.0f, 100.0f, 5000.0f},
    {"Generic",           -1000,  -100, 0.0f,  1.49f, 0.83f,  -2602, 0.007f,    200, 0.011f, 100.0f, 100.0f, 5000.0f},
    {"Paddedcell",        -1000, -6000, 0.0f,  0.17f, 0.10f,  -1204, 0.001f,    207, 0.002f, 100.0f, 100.0f, 5000.0f},
    {"Room",              -1000,  -454, 0.0f,  0.40f, 0.83f,  -1646, 0.002f,     53, 0.003f, 100.0f, 100.0f, 5000.0f},
    {"Bathroom",          -1000, -1200, 0.0f,  1.49f, 0.54f,   -370, 0.007f,   1030, 0.011f, 100.0f,  60.0f, 5000.0f},
    {"Livingroom",        -1000, -6000, 0.0f,  0.50f, 0.10f,  -1376, 0.003f,  -1104, 0.004f, 100.0f, 100.0f, 5000.0f},
    {"Stoneroom",         -1000,  -300, 0.0f,  2.31f, 0.64f,   -711, 0.012f,     83, 0.017f, 100.0f, 100.0f, 5000.0f},
    {"Auditorium",        -1000,  -476, 0.0f,  4.32f, 0.59f,   -789, 0.020f,   -289, 0.030f, 100.0f, 100.0f, 5000.0f},
    {"Concerthall",       -1000,  -500, 0.0f,  3.92f, 0.70f,  -1230, 0.020f,     -2, 0.029f, 100.0f, 100.0f, 5000.0f},
    {"Cave",              -1000,     0, 0.0f,  2.91f, 1.30f,   -602, 0.015f,   -302, 0.022f, 100.0f, 100.0f, 5000.0f},
    {"Arena",             -1000,  -698, 0.0f,  7.24f, 0.33f,  -1166, 0.020f,     16, 0.030f, 100.0f, 100.0f, 5000.0f},
    {"Hanger",            -1000, -1000, 0.0f, 10.05f, 0.23f,   -602, 0.020f,    198, 0.030f, 100.0f, 100.0f, 5000.0f},
    {"Carpetedhallway",   -1000, -4000, 0.0f,  0.30f, 0.10f,  -1831, 0.002f,  -1630, 0.030f, 100.0f, 100.0f, 5000.0f},
    {"Hallway",           -1000,  -300, 0.0f,  1.49f, 0.59f,  -1219, 0.007f,    441, 0.011f, 100.0f, 100.0f, 5000.0f},
    {"Stonecorridor",     -1000,  -237, 0.0f,  2.70f, 0.79f,  -1214, 0.013f,    395, 0.020f, 100.0f, 100.0f, 5000.0f},
    {"Alley",             -1000,  -270, 0.0f,  1.49f, 0.86f,  -1204, 0.007f,     -4, 0.011f, 100.0f, 100.0f, 5000.0f},
    {"Forest",            -1000, -3300, 0.0f,  1.49f, 0.54f,  -2560, 0.162f,   -613, 0.088f,  79.0f, 100.0f, 5000.0f},
    {"City",              -1000,  -800, 0.0f,  1.49f, 0.67f,  -2273, 0.007f,  -2217, 0.011f,  50.0f, 100.0f, 5000.0f},
    {"Mountains",         -1000, -2500, 0.0f,  1.49f, 0.21f,  -2780, 0.300f,  -2014, 0.100f,  27.0f, 100.0f, 5000.0f},
    {"Quarry",            -1000, -1000, 0.0f,  1.49f, 0.83f, -10000, 0.061f,    500, 0.025f, 100.0f, 100.0f, 5000.0f},
    {"Plain",             -1000, -2000, 0.0f,  1.49f, 0.50f,  -2466, 0.179f,  -2514, 0.100f,  21.0f, 100.0f, 5000.0f},
    {"Parkinglot",        -1000,     0, 0.0f,  1.65f, 1.50f,  -1363, 0.008f,  -1153, 0.012f, 100.0f, 100.0f, 5000.0f},
    {"Sewerpipe",         -1000, -1000, 0.0f,  2.81f, 0.14f,    429, 0.014f,    648, 0.021f,  80.0f,  60.0f, 5000.0f},
    {"Underwater",        -1000, -4000, 0.0f,  1.49f, 0.10f,   -449, 0.007f,   1700, 0.011f, 100.0f, 100.0f, 5000.0f},
    {"KTV",               -2350,  -300, 0.0f,  1.80f, 0.60f,    250, 0.050f,    500, 0.050f, 100.0f, 100.0f, 6000.0f},
};
// clang-format on

// -------------------------------------------------------------- CDynamicFrame

void CDynamicFrame::Process(float* const* buffers, int frames) {
    if (error_ || buffers == nullptr) {
        return;
    }
    const int channels = std::clamp(input_.channels, 1, 2);
    for (int done = 0; done < frames; done += kFrame) {
        const int n = std::min(kFrame, frames - done);
        float* frame[2] = {buffers[0] + done, channels == 2 ? buffers[1] + done : nullptr};
        ProcessFrame(frame, n);
    }
}

// -------------------------------------------------------------- CReverbConfig

CReverbConfig::CReverbConfig() {
    std::random_device device;
    randomState_ = device();
}

CReverbConfig::~CReverbConfig() = default;

int CReverbConfig::BuiltInRandom(void* context) {
    auto* state = static_cast<uint32_t*>(context);
    *state = *state * 214013u + 2531011u;
    return static_cast<int>((*state >> 16) & 0x7FFF);
}

void CReverbConfig::SetRandom(RandomFunction function, void* context) {
    random_ = function;
    randomContext_ = context;
}

int CReverbConfig::Initialize(const AudFormat& format) {
    ready_ = false;
    if (CAudUnitBase2::Initialize(format) != 0) {
        return -1;
    }
    const AudFormat mono{1, format.sampleRate};
    const AudFormat stereo{2, format.sampleRate};
    const int line = HalfSecondLine(format.sampleRate);
    lineA_.SetLength(line);
    lineB_.SetLength(line);
    lineC_.SetLength(line);
    if (m_RoomFilter.Initialize(mono) != 0 || m_pDirectIir.Initialize(mono) != 0 ||
        m_pSourceIir.Initialize(mono) != 0 || lineA_.Initialize(mono) != 0 ||
        lineB_.Initialize(mono) != 0 || lineC_.Initialize(stereo) != 0 ||
        m_EarlyReflections.Initialize(stereo) != 0 || m_ReverbNet.Initialize(mono) != 0) {
        error_ = true;
        return -1;
    }
    SetBlockSize(kFrame);
    environment_ = kReverbEnvironmentKtv;
    dirty_ = kDirtyAll;
    ready_ = true;
    return 0;
}

void CReverbConfig::SetEnvironment(int index) {
    if (index < 0 || index >= kReverbEnvironmentCount) {
        return;
    }
    environment_ = index;
    dirty_ = kDirtyAll;
}

void CReverbConfig::UpdateParameters() {
    if (!ready_ || dirty_ == 0) {
        return;
    }
    const ReverbEnvironment& env = kReverbEnvironments[environment_];
    const int fs = input_.sampleRate;
    const float fsf = static_cast<float>(fs);
    const int line = lineA_.Length();
    if (dirty_ & kDirtyRoom) {
        const FilterSetting room = DeriveFilter(
            static_cast<float>(env.room), static_cast<float>(env.roomHf), env.hfReference, fsf);
        m_RoomFilter.SetCoefficients(room.b, room.a);
        roomLevel_ = room.level;
    }
    if (dirty_ & kDirtyReflectionDelay) {
        m_ReflectionDelay = static_cast<int>(fsf * env.reflectionsDelay);
        m_ReflectionDelay = std::clamp(m_ReflectionDelay, 0, line - 2 * kFrame);
    }
    if (dirty_ & kDirtyNet) {
        RandomFunction random = random_ != nullptr ? random_ : &CReverbConfig::BuiltInRandom;
        void* context = random_ != nullptr ? randomContext_ : &randomState_;
        m_ReverbNet.Configure(env.decayTime, env.decayHfRatio, env.diffusion, env.density,
                              env.hfReference, random, context);
        dirty_ |= kDirtyReverbDelay;  // depends on the shortest line
    }
    if (dirty_ & kDirtyReverbDelay) {
        const float seconds = env.reflectionsDelay + env.reverbDelay;
        reverbBase_ = std::clamp(static_cast<int>(fsf * seconds), 0, line - 528 - kFrame);
        static constexpr int kTapOffsets[4] = {128, 238, 448, 528};
        for (int i = 0; i < 4; ++i) {
            tapDelay_[i] = reverbBase_ + kTapOffsets[i];
        }
        m_ReverbDelay = std::max(0, reverbBase_ - m_ReverbNet.ShortestLine());
    }
    if (dirty_ & kDirtyGains) {
        m_ReflectionGain = GainOf(static_cast<float>(env.reflections));
        m_ReverbNetGain = GainOf(static_cast<float>(env.reverb));
    }
    if (dirty_ & kDirtySource) {
        // The per-source parameters are all zero here: unit gain, no filtering.
        const FilterSetting none = DeriveFilter(0.0f, 0.0f, env.hfReference, fsf);
        m_pDirectIir.SetCoefficients(none.b, none.a);
        m_pSourceIir.SetCoefficients(none.b, none.a);
    }
    dirty_ = 0;
}

void CReverbConfig::ProcessFrame(float* const* buffers, int n) {
    if (!ready_ || error_) {
        return;
    }
    UpdateParameters();
    float* left = buffers[0];
    float* right = buffers[1] != nullptr ? buffers[1] : buffers[0];
    float *o0 = o_[0], *o1 = o_[1], *o2 = o_[2], *o3 = o_[3];
    float *w0 = w_[0], *w1 = w_[1];
    float *e0 = e_[0], *e1 = e_[1];

    if (!reverbOn_) {
        if (!dryPass_) {
            std::fill(left, left + n, 0.0f);
            if (buffers[1] != nullptr) {
                std::fill(right, right + n, 0.0f);
            }
        }
        return;
    }

    // 1-3: dry copy, mono sum through the direct and room filters.
    for (int i = 0; i < n; ++i) {
        o0[i] = left[i];
        o1[i] = right[i];
        o2[i] = 0.0f;
        o3[i] = 0.0f;
        mono_[i] = (left[i] + right[i]) * 0.5f;
    }
    if (directFilterOn_) {
        m_pDirectIir.Process(0, mono_, n);
    }
    m_RoomFilter.Process(0, mono_, n);
    std::copy(mono_, mono_ + n, w0);
    std::copy(mono_, mono_ + n, w1);
    if (!dryPass_) {
        for (int c = 0; c < 4; ++c) {
            std::fill(o_[c], o_[c] + n, 0.0f);
        }
    }

    // 4-5: input lines, early reflections into line C.
    lineA_.Write(0, w0, n);
    lineB_.Write(0, w1, n);
    m_EarlyReflections.Process(w0, w1, e0, e1, n);
    lineC_.Write(0, e0, n);
    lineC_.Write(1, e1, n);

    // 6: reflections.
    if (reflectionsOn_) {
        lineC_.Read(0, e0, n, m_ReflectionDelay + kFrame);
        lineC_.Read(1, e1, n, m_ReflectionDelay + kFrame);
        const float g = m_ReflectionGain * kWetGain;
        for (int i = 0; i < n; ++i) {
            o0[i] += e0[i] * g;
            o1[i] += e1[i] * g;
            o2[i] += e0[i] * g;
            o3[i] += e1[i] * g;
        }
    }

    // 7: late reverberation.
    if (lateOn_) {
        lineC_.Read(0, e0, n, m_ReverbDelay + kFrame);
        lineC_.Read(1, e1, n, m_ReverbDelay + kFrame);
        lineA_.Read(0, w_[0], n, tapDelay_[0] - kFrame);
        lineB_.Read(0, w_[1], n, tapDelay_[1] - kFrame);
        lineA_.Read(0, w_[2], n, tapDelay_[2] - kFrame);
        lineB_.Read(0, w_[3], n, tapDelay_[3] - kFrame);
        for (int i = 0; i < n; ++i) {
            mono_[i] = (e0[i] + e1[i]) * 0.5f;
        }
        const float* taps[4] = {w_[0], w_[1], w_[2], w_[3]};
        float* outs[4] = {e_[0], e_[1], e_[2], e_[3]};
        m_ReverbNet.Process(mono_, taps, outs, n);
        const float g = m_ReverbNetGain * kWetGain;
        for (int c = 0; c < 4; ++c) {
            for (int i = 0; i < n; ++i) {
                o_[c][i] += e_[c][i] * g;
            }
        }
    }

    // 8: output.
    for (int i = 0; i < n; ++i) {
        left[i] = o0[i] + o2[i];
        spare_[i] = o1[i] + o3[i];
    }
    if (buffers[1] != nullptr) {
        std::copy(spare_, spare_ + n, right);
    }
}

// -------------------------------------------------------------------- CProWrap

CProWrap::~CProWrap() = default;
