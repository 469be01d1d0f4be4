#include "evaluation/VocalFeatureTracker.h"

#include <algorithm>
#include <new>

#include "evaluation/ExpressionDetectors.h"
#include "evaluation/ScoringExports.h"

namespace {

constexpr int kMaxCrossings = 8;
constexpr int kMinCrossings = 5;
constexpr float kMaxDepth = 7 / 100.0f;
constexpr float kMinDepth = 2 / 100.0f;
constexpr float kMaxGlide = 12.0f;
constexpr float kMinGlide = 4.0f;
constexpr float kMaxRiff = 8.0f;
constexpr float kMinRiff = 2.0f;
constexpr float kLevelFloor = 0.0f;
constexpr float kMeanScale = 10 / 10.0f;
constexpr float kVariationScale = 10 / 10.0f;
// The longest melody the reader accepts (one hour) plus the frame table's
// margin, at 16 kHz: keeps the one allocation bounded (about 240 MB).
constexpr long long kMaxCapacity = 16000LL * 3700;

// Average note score over [a, b) ms of the entries whose span touches it;
// unscored entries (-1) are skipped; 0 when none is left.
float AverageNoteScore(const MelodyEntry* melody, const float* scores, int count, int a, int b) {
    float sum = 0.0f;
    int n = 0;
    for (int e = 0; e + 1 < count; ++e) {
        const int t0 = evaluation::MelodyTime(melody[e]);
        const int t1 = evaluation::MelodyTime(melody[e + 1]);
        const bool touches = (t0 >= a && t0 < b) || (t1 > a && t1 <= b) || (t0 <= a && t1 >= b);
        if (!touches || scores[e] == -1.0f) {
            continue;
        }
        sum += scores[e];
        ++n;
    }
    return n > 0 ? sum / n : 0.0f;
}

}  // namespace

CVocalFeatureTracker::CVocalFeatureTracker(int channels, long long capacitySamples)
    : analyzer_(kFrameLength) {
    if ((channels != 1 && channels != 2) || capacitySamples <= 0 ||
        capacitySamples > kMaxCapacity || !analyzer_.Usable()) {
        return;
    }
    channels_ = channels;
    capacity_ = capacitySamples;
    frameCapacity_ = static_cast<int>(capacity_ / kFrameHop);
    blockCapacity_ = frameCapacity_ / kVibratoBlock;
    const size_t total = static_cast<size_t>(capacity_) + 3 * static_cast<size_t>(frameCapacity_) +
                         3 * static_cast<size_t>(blockCapacity_);
    store_.reset(new (std::nothrow) float[total]());
    if (!store_) {
        return;
    }
    samples_ = store_.get();
    fundamental_ = samples_ + capacity_;
    second_ = fundamental_ + frameCapacity_;
    magnitude_ = second_ + frameCapacity_;
    vibratoFlags_ = magnitude_ + frameCapacity_;
    portamentoTypes_ = vibratoFlags_ + blockCapacity_;
    portamentoSizes_ = portamentoTypes_ + blockCapacity_;
    usable_ = true;
}

int CVocalFeatureTracker::ProcessBlock(const short* input, unsigned& event) {
    if (!usable_ || input == nullptr) {
        return -1;
    }
    event = evaluation::kEventNone;
    if (received_ >= capacity_) {
        return 0;  // the buffer is full: nothing more is analysed
    }
    const int take = static_cast<int>(std::min<long long>(kBlockFrames, capacity_ - received_));
    for (int i = 0; i < take; ++i) {
        samples_[received_ + i] = input[i * channels_] / 32768.0f;
    }
    received_ += take;
    if (received_ < kFrameLength || received_ % kFrameHop != 0 || frames_ >= frameCapacity_) {
        return 0;
    }
    const int f = frames_;
    evaluation::HarmonicFrame frame;
    analyzer_.Analyze(samples_ + frameStart_, kSampleRate, frame);
    frameStart_ += kFrameHop;
    fundamental_[f] = frame.fundamentalPos;
    second_[f] = frame.secondPos;
    magnitude_[f] = frame.magnitudeSum;

    if ((f + 1) % kVibratoBlock == 0) {
        const int block = (f + 1) / kVibratoBlock - 1;
        int found = 0;
        VibratoTrack(second_ + vibratoStart_, kVibratoBlock, found, kMaxCrossings, kMinCrossings,
                     kMaxDepth, kMinDepth);
        if (found != 0 && block < blockCapacity_) {
            vibratoFlags_[block] = 1.0f;
            event = evaluation::kEventVibrato;
            ++vibratoCount_;
        }
        vibratoStart_ += kVibratoBlock;
    }
    if ((f + 1) % kPortamentoStep == 0 && f >= kPortamentoWindow) {
        const int block = (f + 1) / kPortamentoStep - 1;
        int type = 0;
        const float size = PortamentoTrack(fundamental_ + portamentoStart_, kPortamentoWindow, type,
                                           kMaxGlide, kMinGlide, kMaxRiff, kMinRiff);
        portamentoStart_ += kPortamentoStep;
        if (block < blockCapacity_) {
            if (previousType_ != 0 && previousType_ == type) {
                // The same movement seen again in the overlapping window.
                portamentoTypes_[block] = 0.0f;
                portamentoSizes_[block] = 0.0f;
            } else if (type != 0) {
                portamentoTypes_[block] = static_cast<float>(type);
                portamentoSizes_[block] = size;
                if (type == 1) {
                    ++upCount_;
                    event = evaluation::kEventUpPortamento;
                } else if (type == -1) {
                    ++downCount_;
                    event = evaluation::kEventDownPortamento;
                } else {
                    ++riffCount_;
                    event = evaluation::kEventRiff;
                }
            }
        }
        previousType_ = type;
    }
    ++frames_;
    return 0;
}

int CVocalFeatureTracker::Finish(const MelodyEntry* melody, const float* noteScores, int count,
                                 float pitchScore, float stability,
                                 evaluation::FeatureReport& report) const {
    report = evaluation::FeatureReport{};
    if (!usable_) {
        return -1;
    }
    LoudnessTrack(magnitude_, frameCapacity_, kLoudnessBlock, report.meanLevel, report.variation,
                  kLevelFloor, kMeanScale, kVariationScale);
    report.performance = report.meanLevel * report.variation;
    const int windows = evaluation::LoudnessWindowCount(frameCapacity_, kLoudnessBlock);
    report.loudnessChart.reserve(windows);
    for (int k = 0; k < windows; ++k) {
        report.loudnessChart.push_back(
            evaluation::LoudnessWindowLevel(magnitude_, kLoudnessBlock, k));
    }

    report.vibratoDetected = vibratoCount_;
    report.upDetected = upCount_;
    report.downDetected = downCount_;
    report.riffs = riffCount_;
    int vibrato = vibratoCount_;
    int up = upCount_;
    int down = downCount_;
    const bool haveScores = melody != nullptr && noteScores != nullptr && count > 0;
    auto average = [&](int t) {
        return haveScores ? AverageNoteScore(melody, noteScores, count, t, t + 512) : 0.0f;
    };
    for (int i = 0; i + 1 < blockCapacity_; ++i) {
        const int t = 512 * i;
        const int type = static_cast<int>(portamentoTypes_[i]);
        if (type == 1 || type == -1) {
            evaluation::FeatureEventLine line;
            line.timeMs = t;
            line.kind =
                type == 1 ? evaluation::FeatureEventLine::kUp : evaluation::FeatureEventLine::kDown;
            line.size = portamentoSizes_[i];
            line.struckOff = average(t) < kLeastValidScore;
            if (line.struckOff) {
                if (type == 1) {
                    --up;
                    ++report.upStruck;
                } else {
                    --down;
                    ++report.downStruck;
                }
            }
            report.events.push_back(line);
        }
        if (vibratoFlags_[i] != 0.0f) {
            evaluation::FeatureEventLine line;
            line.timeMs = t;
            line.kind = evaluation::FeatureEventLine::kVibrato;
            line.struckOff = average(t) < kLeastValidScore;
            if (line.struckOff) {
                --vibrato;
                ++report.vibratoStruck;
            }
            report.events.push_back(line);
        }
    }
    report.vibratoCount = vibrato;
    report.upCount = up;
    report.downCount = down;
    report.radar =
        evaluation::ComputeRadar(pitchScore, vibrato, up + down, report.performance, stability);
    return 0;
}
