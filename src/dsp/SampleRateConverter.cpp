#include "dsp/SampleRateConverter.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

enum class StageKind { k2x, k3x, k4x, k6x, k32_48, k44_48, kNone };

struct StageChoice {
    int inputRate;
    int outputRate;
    StageKind first;
    int firstDirection;
    StageKind second;
    int secondDirection;
};

constexpr StageChoice kStageTable[] = {
    {192000, 96000, StageKind::k2x, 0, StageKind::kNone, 0},
    {192000, 48000, StageKind::k4x, 0, StageKind::kNone, 0},
    {192000, 44100, StageKind::k4x, 0, StageKind::k44_48, 0},
    {96000, 192000, StageKind::k2x, 1, StageKind::kNone, 0},
    {96000, 48000, StageKind::k2x, 0, StageKind::kNone, 0},
    {96000, 44100, StageKind::k2x, 0, StageKind::k44_48, 0},
    {48000, 16000, StageKind::k3x, 0, StageKind::kNone, 0},
    {48000, 32000, StageKind::k32_48, 0, StageKind::kNone, 0},
    {48000, 44100, StageKind::k44_48, 0, StageKind::kNone, 0},
    {48000, 96000, StageKind::k2x, 1, StageKind::kNone, 0},
    {48000, 192000, StageKind::k4x, 1, StageKind::kNone, 0},
    {44100, 16000, StageKind::k44_48, 1, StageKind::k3x, 0},
    {44100, 48000, StageKind::k44_48, 1, StageKind::kNone, 0},
    {44100, 96000, StageKind::k44_48, 1, StageKind::k2x, 1},
    {44100, 192000, StageKind::k44_48, 1, StageKind::k4x, 1},
    {32000, 48000, StageKind::k32_48, 1, StageKind::kNone, 0},
    {24000, 48000, StageKind::k2x, 1, StageKind::kNone, 0},
    {24000, 16000, StageKind::k2x, 1, StageKind::k3x, 0},
    {22050, 44100, StageKind::k2x, 1, StageKind::kNone, 0},
    {16000, 48000, StageKind::k3x, 1, StageKind::kNone, 0},
    {8000, 48000, StageKind::k6x, 1, StageKind::kNone, 0},
    {8000, 44100, StageKind::k6x, 1, StageKind::k44_48, 0},
};

std::unique_ptr<CSrcCommon> MakeStage(StageKind kind) {
    switch (kind) {
        case StageKind::k2x:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc2x);
        case StageKind::k3x:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc3x);
        case StageKind::k4x:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc4x);
        case StageKind::k6x:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc6x);
        case StageKind::k32_48:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc32_48);
        case StageKind::k44_48:
            return std::unique_ptr<CSrcCommon>(new (std::nothrow) CSrc44_48);
        case StageKind::kNone:
            break;
    }
    return nullptr;
}

bool SupportedBits(int bits) {
    return bits == 16 || bits == 24 || bits == 32;
}

// Reads one input sample as a float in 16-bit units.
float ReadSample(const uint8_t* p, int bits) {
    switch (bits) {
        case 16: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return static_cast<float>(v);
        }
        case 24: {
            int32_t v = static_cast<int32_t>(static_cast<uint32_t>(p[0]) |
                                             (static_cast<uint32_t>(p[1]) << 8) |
                                             (static_cast<uint32_t>(p[2]) << 16));
            if (v & 0x800000) {
                v -= 0x1000000;
            }
            return static_cast<float>(v) * (1.0f / 256.0f);
        }
        default: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return static_cast<float>(v) * (1.0f / 65536.0f);
        }
    }
}

// Reads one input sample as a 32-bit left-aligned integer.
int32_t ReadAligned(const uint8_t* p, int bits) {
    switch (bits) {
        case 16: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int32_t>(v)) << 16);
        }
        case 24:
            return static_cast<int32_t>((static_cast<uint32_t>(p[0]) << 8) |
                                        (static_cast<uint32_t>(p[1]) << 16) |
                                        (static_cast<uint32_t>(p[2]) << 24));
        default: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
    }
}

void WriteAligned(uint8_t* p, int bits, int32_t v) {
    switch (bits) {
        case 16: {
            const int16_t s = static_cast<int16_t>(v >> 16);
            std::memcpy(p, &s, 2);
            break;
        }
        case 24: {
            const uint32_t u = static_cast<uint32_t>(v);
            p[0] = static_cast<uint8_t>(u >> 8);
            p[1] = static_cast<uint8_t>(u >> 16);
            p[2] = static_cast<uint8_t>(u >> 24);
            break;
        }
        default:
            std::memcpy(p, &v, 4);
            break;
    }
}

void WriteSample(uint8_t* p, int bits, float v) {
    const int32_t s = SrcQuantizeSample(v, bits);
    switch (bits) {
        case 16: {
            const int16_t s16 = static_cast<int16_t>(s);
            std::memcpy(p, &s16, 2);
            break;
        }
        case 24: {
            const uint32_t u = static_cast<uint32_t>(s);
            p[0] = static_cast<uint8_t>(u);
            p[1] = static_cast<uint8_t>(u >> 8);
            p[2] = static_cast<uint8_t>(u >> 16);
            break;
        }
        default:
            std::memcpy(p, &s, 4);
            break;
    }
}

}  // namespace

int32_t SrcQuantizeSample(float v, int bits) {
    if (v != v) {  // never produced from integer input; keeps the casts defined
        v = 0.0f;
    }
    if (bits == 16) {
        if (v >= 32767.0f) {
            return 32767;
        }
        if (v <= -32768.0f) {
            return -32768;
        }
        return v >= 0.0f ? static_cast<int32_t>(v + 0.5f) : static_cast<int32_t>(v - 0.5f);
    }
    if (bits == 24) {
        if (v >= 32768.0f) {
            return 0x7FFFFF;
        }
        if (v <= -32768.0f) {
            return -0x800000;
        }
        return static_cast<int32_t>(v * 256.0f);
    }
    if (v >= 32768.0f) {
        return 0x7FFFFFFF;
    }
    if (v <= -32768.0f) {
        return -0x7FFFFFFF;
    }
    return static_cast<int32_t>(v * 65536.0f);
}

CSampleRateConverter::CSampleRateConverter() = default;
CSampleRateConverter::~CSampleRateConverter() = default;

int CSampleRateConverter::Init(const SrcConvertParams& params) {
    if (initialized_) {
        return kOk;
    }
    SrcOutputRing* ring = params.output;
    const SrcWaveFormat& in = params.input;
    if (ring == nullptr || ring->buffer == nullptr) {
        return kError;
    }
    if (in.channels < 1 || in.channels > 2 || !SupportedBits(in.bitsPerSample) ||
        !SupportedBits(ring->format.bitsPerSample) || in.samplesPerSec == 0 ||
        ring->format.samplesPerSec == 0 || in.samplesPerSec > 0x7FFFFFFF ||
        ring->format.samplesPerSec > 0x7FFFFFFF) {
        return kError;
    }
    const int frameBytes = (ring->format.bitsPerSample / 8) * in.channels;
    if (ring->size < frameBytes || ring->size % frameBytes != 0 || ring->writeOffset < 0 ||
        ring->writeOffset >= ring->size || ring->writeOffset % frameBytes != 0) {
        return kError;
    }

    output_ = ring;
    inputFormat_ = in;
    channels_ = in.channels;
    block_ = ring->size / frameBytes;
    const int inRate = static_cast<int>(in.samplesPerSec);
    const int outRate = static_cast<int>(ring->format.samplesPerSec);

    first_.reset();
    second_.reset();
    stageInput_[0] = stageInput_[1] = nullptr;
    inputCapacity_ = 0;
    if (inRate == outRate) {
        initialized_ = true;
        return kOk;
    }

    try {
        outputFloat_.assign(static_cast<size_t>(channels_) * block_, 0.0f);
    } catch (const std::bad_alloc&) {
        return kError;
    }
    outLeft_ = outputFloat_.data();
    outRight_ = channels_ == 2 ? outLeft_ + block_ : nullptr;

    const StageChoice* choice = nullptr;
    for (const auto& c : kStageTable) {
        if (c.inputRate == inRate && c.outputRate == outRate) {
            choice = &c;
            break;
        }
    }
    bool ok = false;
    if (choice == nullptr) {
        first_.reset(new (std::nothrow) CSrcAny);
        ok = first_ && first_->InitRates(inRate, outRate, block_, outLeft_, outRight_);
    } else if (choice->second == StageKind::kNone) {
        first_ = MakeStage(choice->first);
        ok = first_ && first_->InitDirection(choice->firstDirection, block_, outLeft_, outRight_);
    } else {
        first_ = MakeStage(choice->first);
        second_ = MakeStage(choice->second);
        ok = first_ && second_ &&
             second_->InitDirection(choice->secondDirection, block_, outLeft_, outRight_) &&
             first_->InitDirection(choice->firstDirection, second_->InputCapacity(),
                                   second_->InputLeft(), second_->InputRight());
    }
    if (!ok) {
        first_.reset();
        second_.reset();
        return kError;
    }
    stageInput_[0] = first_->InputLeft();
    stageInput_[1] = first_->InputRight();
    inputCapacity_ = first_->InputCapacity();
    first_->Clear();
    if (second_) {
        second_->Clear();
    }
    initialized_ = true;
    return kOk;
}

int CSampleRateConverter::Convert(const void* input, int frames) {
    lastOutput_ = 0;
    if (!initialized_ || input == nullptr || frames <= 0) {
        return kOk;
    }
    const uint8_t* src = static_cast<const uint8_t*>(input);
    const int inBytes = inputFormat_.bitsPerSample / 8;
    const int inFrameBytes = inBytes * channels_;
    if (!first_) {
        CopyEqualRate(src, frames);
        lastOutput_ = frames;
        return kOk;
    }
    if (frames > inputCapacity_) {
        src += static_cast<size_t>(frames - inputCapacity_) * inFrameBytes;
        frames = inputCapacity_;
    }
    const int bits = inputFormat_.bitsPerSample;
    if (bits == 16) {
        for (int c = 0; c < channels_; ++c) {
            float* dst = stageInput_[c];
            const uint8_t* p = src + c * 2;
            for (int i = 0; i < frames; ++i) {
                int16_t v;
                std::memcpy(&v, p + static_cast<size_t>(i) * inFrameBytes, 2);
                dst[i] = static_cast<float>(v);
            }
        }
    } else {
        for (int i = 0; i < frames; ++i) {
            const uint8_t* f = src + static_cast<size_t>(i) * inFrameBytes;
            for (int c = 0; c < channels_; ++c) {
                stageInput_[c][i] = ReadSample(f + c * inBytes, bits);
            }
        }
    }
    int n = first_->Process(frames);
    if (second_) {
        n = second_->Process(n);
    }
    WriteOutput(n);
    lastOutput_ = n;
    return kOk;
}

void CSampleRateConverter::WriteOutput(int frames) {
    SrcOutputRing& ring = *output_;
    const int bits = ring.format.bitsPerSample;
    const int bytes = bits / 8;
    const int frameBytes = bytes * channels_;
    if (ring.writeOffset < 0 || ring.writeOffset >= ring.size || ring.writeOffset % frameBytes) {
        ring.writeOffset = 0;  // the caller moved it off a frame; never write outside
    }
    const float* planes[2] = {outLeft_, outRight_};
    if (bits == 16 && ring.writeOffset + frames * frameBytes <= ring.size) {
        // The usual case: the whole call fits before the ring's end.
        uint8_t* base = ring.buffer + ring.writeOffset;
        for (int c = 0; c < channels_; ++c) {
            const float* plane = planes[c];
            for (int i = 0; i < frames; ++i) {
                const int16_t v = static_cast<int16_t>(SrcQuantizeSample(plane[i], 16));
                std::memcpy(base + static_cast<size_t>(i) * frameBytes + c * 2, &v, 2);
            }
        }
        ring.writeOffset += frames * frameBytes;
        if (ring.writeOffset >= ring.size) {
            ring.writeOffset = 0;
        }
        return;
    }
    for (int i = 0; i < frames; ++i) {
        uint8_t* p = ring.buffer + ring.writeOffset;
        for (int c = 0; c < channels_; ++c) {
            WriteSample(p + c * bytes, bits, planes[c][i]);
        }
        ring.writeOffset += frameBytes;
        if (ring.writeOffset >= ring.size) {
            ring.writeOffset = 0;
        }
    }
}

void CSampleRateConverter::CopyEqualRate(const uint8_t* input, int frames) {
    SrcOutputRing& ring = *output_;
    const int inBits = inputFormat_.bitsPerSample;
    const int outBits = ring.format.bitsPerSample;
    const int inBytes = inBits / 8;
    const int outBytes = outBits / 8;
    const int outFrameBytes = outBytes * channels_;
    if (ring.writeOffset < 0 || ring.writeOffset >= ring.size || ring.writeOffset % outFrameBytes) {
        ring.writeOffset = 0;
    }
    for (int i = 0; i < frames; ++i) {
        const uint8_t* f = input + static_cast<size_t>(i) * inBytes * channels_;
        uint8_t* p = ring.buffer + ring.writeOffset;
        for (int c = 0; c < channels_; ++c) {
            if (inBits == outBits) {
                std::memcpy(p + c * outBytes, f + c * inBytes, static_cast<size_t>(inBytes));
            } else {
                WriteAligned(p + c * outBytes, outBits, ReadAligned(f + c * inBytes, inBits));
            }
        }
        ring.writeOffset += outFrameBytes;
        if (ring.writeOffset >= ring.size) {
            ring.writeOffset = 0;
        }
    }
}
