#include "evaluation/PitchDetector.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

namespace {

constexpr double kHighestHarmonicHz = 1800.0;
constexpr double kReferenceHz = 110.0;
constexpr double kHarmonicDecay = 0.88;

// Hands out pieces of one allocation; the first pass only measures.
class Carver {
  public:
    explicit Carver(unsigned char* base) : base_(base) {}
    template <typename T>
    T* Take(int n) {
        offset_ = (offset_ + alignof(T) - 1) / alignof(T) * alignof(T);
        T* p = base_ ? reinterpret_cast<T*>(base_ + offset_) : nullptr;
        offset_ += sizeof(T) * static_cast<size_t>(std::max(n, 1));
        return p;
    }
    size_t Size() const { return offset_; }

  private:
    unsigned char* base_;
    size_t offset_ = 0;
};

}  // namespace

CPitchDetector::CPitchDetector(float hopMs, float fullScale, int sampleRate, unsigned options)
    : fft_(((sampleRate == 8000) ? 256 : 512) << ((options >> 1) & 1)) {
    try {
        Configure(hopMs, fullScale, sampleRate, options);
    } catch (const std::bad_alloc&) {
        usable_ = false;
    }
}

CPitchDetector::~CPitchDetector() = default;

void CPitchDetector::Configure(float hopMs, float fullScale, int sampleRate, unsigned options) {
    if (sampleRate <= 0 || !(hopMs > 0.0f) || !fft_.Valid()) {
        return;
    }
    rate_ = sampleRate;
    hop_ = static_cast<int>(rate_ * static_cast<double>(hopMs) / 1000.0 + 0.5);
    size_ = fft_.Size();
    if (hop_ <= 0 || hop_ > size_) {
        return;
    }
    carried_ = size_ - hop_;
    binsPerHz_ = static_cast<double>(size_) / rate_;

    twoHop_ = (options & 1) != 0;
    const bool fine = (options & 4) != 0;
    const int t = static_cast<int>((options >> 3) & 0xF);
    const int u = static_cast<int>((options >> 7) & 0xF);
    jump_ = static_cast<int>((options >> 11) & 0x3) + 1;
    pathLength_ = static_cast<int>((options >> 13) & 0xF) + 1;

    count_ = fine ? 2 * t + 96 : (t | 48);
    const double ratio = std::pow(2.0, fine ? 1.0 / 24.0 : 1.0 / 12.0);
    const double lowest = kReferenceHz / std::pow(2.0, 2.0 * u / 24.0);
    std::vector<double> freq(count_);
    for (int k = 0; k < count_; ++k) {
        freq[k] = lowest * std::pow(ratio, k);
    }
    while (count_ > 0 && freq[count_ - 1] > kHighestHarmonicHz) {
        --count_;
    }
    if (count_ <= 0) {
        return;
    }
    harmonics_ = static_cast<int>(kHighestHarmonicHz / lowest);
    corrWindow_ = static_cast<int>(rate_ * 20 / 1000.0 + 0.5);
    corrFloor_ = fullScale * 0.00001f;
    if (rate_ == 16000) {
        attack_ = 0.93941301f;
        release_ = 0.99376899f;
    } else if (rate_ == 8000) {
        attack_ = 0.88249701f;
        release_ = 0.98757797f;
    } else {
        // 1 ms attack and 10 ms release, as the two fixed pairs are.
        attack_ = static_cast<float>(std::exp(-1000.0 / rate_));
        release_ = static_cast<float>(std::exp(-100.0 / rate_));
    }
    smoothing_ = 1.0f - hopMs / 2000.0f;

    // Candidate groups by transform bin. A bin that no candidate falls into
    // closes no group, so the grid in use gives 49 groups.
    std::vector<int> bounds{0};
    int edge = static_cast<int>(lowest * binsPerHz_ + 0.5) + 1;
    for (int k = 0; k < count_; ++k) {
        if (freq[k] > edge / binsPerHz_) {
            if (k > 0) {
                bounds.push_back(k - 1);
            }
            while (freq[k] > edge / binsPerHz_) {
                ++edge;
            }
        }
    }
    bounds.push_back(count_ - 1);
    groups_ = static_cast<int>(bounds.size()) - 1;

    // The bins every sum reads, so that each one is turned into a magnitude
    // (the highest harmonics round up to one bin past 1800 Hz).
    magnitudeBins_ = 0;
    for (int k = 0; k < count_; ++k) {
        const int h = static_cast<int>(kHighestHarmonicHz / freq[k]);
        for (int m = 1; m <= h; ++m) {
            magnitudeBins_ =
                std::max(magnitudeBins_, static_cast<int>(m * freq[k] * binsPerHz_ + 0.5) + 1);
        }
    }
    magnitudeBins_ = std::min(magnitudeBins_, size_ / 2 + 1);

    const int rows = pathLength_;
    auto carve = [&](Carver& c) {
        overlap_ = c.Take<float>(carried_);
        frame_ = c.Take<float>(size_);
        imag_ = c.Take<float>(size_);
        raw_ = c.Take<float>(size_);
        window_ = c.Take<float>(size_);
        weights_ = c.Take<float>(harmonics_);
        candidates_ = c.Take<float>(count_);
        binIndex_ = c.Take<int>(count_ * harmonics_);
        bounds_ = c.Take<int>(groups_ + 1);
        middles_ = c.Take<int>(groups_);
        groupScore_ = c.Take<float>(groups_);
        groupChoice_ = c.Take<int>(groups_);
        prevScore_ = c.Take<float>(groups_);
        prevChoice_ = c.Take<int>(groups_);
        prevBack_ = c.Take<int>(groups_);
        pathScore_ = c.Take<float>(groups_);
        pathBack_ = c.Take<int>(rows * groups_);
        pathChoice_ = c.Take<int>(rows * groups_);
        scratch_ = c.Take<float>(groups_);
        combined_ = c.Take<float>(groups_);
    };
    Carver measure(nullptr);
    carve(measure);
    block_.reset(new (std::nothrow) unsigned char[measure.Size()]());
    if (!block_) {
        return;
    }
    Carver real(block_.get());
    carve(real);

    for (int i = 0; i < size_; ++i) {
        window_[i] = static_cast<float>(0.54 - 0.46 * std::cos(2.0 * M_PI * i / size_));
    }
    for (int m = 0; m < harmonics_; ++m) {
        weights_[m] = static_cast<float>(std::pow(kHarmonicDecay, m));
    }
    for (int k = 0; k < count_; ++k) {
        candidates_[k] = static_cast<float>(freq[k]);
        const int h = static_cast<int>(kHighestHarmonicHz / freq[k]);
        for (int m = 1; m <= harmonics_; ++m) {
            const int bin = static_cast<int>(m * freq[k] * binsPerHz_ + 0.5);
            binIndex_[k * harmonics_ + m - 1] = (m <= h && bin < magnitudeBins_) ? bin : -1;
        }
    }
    for (int g = 0; g <= groups_; ++g) {
        bounds_[g] = bounds[g];
    }
    for (int g = 0; g < groups_; ++g) {
        middles_[g] = (bounds_[g] + bounds_[g + 1] + 1) / 2;
        prevChoice_[g] = middles_[g];
        pathChoice_[g] = middles_[g];  // row 0
    }
    lastPitch_ = candidates_[0];
    usable_ = true;
}

float CPitchDetector::CandidateFrequency(int index) const {
    if (!usable_ || index < 0 || index >= count_) {
        return 0.0f;
    }
    return candidates_[index];
}

void CPitchDetector::Step(float* scores, const float* hop, int* back, float* scratch) const {
    std::copy(scores, scores + groups_, scratch);
    for (int i = 0; i < groups_; ++i) {
        const int lo = std::max(0, i - jump_);
        const int hi = std::min(groups_ - 1, i + jump_);
        int best = lo;
        for (int j = lo + 1; j <= hi; ++j) {
            if (scratch[j] > scratch[best]) {
                best = j;
            }
        }
        back[i] = best;
        scores[i] = scratch[best] + hop[i];
    }
}

void CPitchDetector::ProcessHop(const float* samples, float& pitchHz, float& voicing) {
    if (!usable_ || samples == nullptr) {
        return;
    }
    // 1-2. Frame of carried-over and new samples; keep an unwindowed copy.
    std::copy(overlap_, overlap_ + carried_, frame_);
    std::copy(samples, samples + hop_, frame_ + carried_);
    std::copy(frame_ + size_ - carried_, frame_ + size_, overlap_);
    std::copy(frame_, frame_ + size_, raw_);
    for (int i = 0; i < size_; ++i) {
        frame_[i] *= window_[i];
        imag_[i] = 0.0f;
    }
    // 3-4. Transform and the magnitudes of every bin the sums read.
    fft_.Transform(frame_, imag_);
    for (int k = 0; k < magnitudeBins_; ++k) {
        frame_[k] = std::sqrt(frame_[k] * frame_[k] + imag_[k] * imag_[k]);
    }
    // 5-6. Subharmonic sums and the maximum of each group.
    for (int g = 0; g < groups_; ++g) {
        const int first = g == 0 ? bounds_[0] : bounds_[g] + 1;
        const int last = bounds_[g + 1];
        int choice = first;
        float best = 0.0f;
        for (int k = first; k <= last; ++k) {
            const int* bins = binIndex_ + k * harmonics_;
            float sum = 0.0f;
            for (int m = 0; m < harmonics_ && bins[m] >= 0; ++m) {
                sum += frame_[bins[m]] * weights_[m];
            }
            if (sum > best) {
                best = sum;
                choice = k;
            }
        }
        groupChoice_[g] = choice;
        groupScore_[g] = best;
    }
    // 7. Path over the block of hops.
    Step(pathScore_, groupScore_, pathBack_ + (fill_ - 1) * groups_, scratch_);
    if (fill_ == pathLength_) {
        int group = 0;
        for (int g = 1; g < groups_; ++g) {
            if (pathScore_[g] > pathScore_[group]) {
                group = g;
            }
        }
        for (int row = pathLength_ - 1; row >= 0; --row) {
            group = pathBack_[row * groups_ + group];
            path_[row] = pathChoice_[row * groups_ + group];
        }
        std::copy(groupScore_, groupScore_ + groups_, pathScore_);
        std::copy(groupChoice_, groupChoice_ + groups_, pathChoice_);
        fill_ = 0;
    } else {
        std::copy(groupChoice_, groupChoice_ + groups_, pathChoice_ + fill_ * groups_);
    }
    ++fill_;
    // 8-9. Two-hop choice: the pitch belongs to the previous hop.
    int candidate;
    if (twoHop_) {
        std::copy(prevScore_, prevScore_ + groups_, combined_);
        Step(combined_, groupScore_, prevBack_, scratch_);
        int best = 0;
        for (int g = 1; g < groups_; ++g) {
            if (combined_[g] > combined_[best]) {
                best = g;
            }
        }
        candidate = prevChoice_[prevBack_[best]];
        std::copy(groupChoice_, groupChoice_ + groups_, prevChoice_);
        std::copy(groupScore_, groupScore_ + groups_, prevScore_);
    } else {
        int best = 0;
        for (int g = 1; g < groups_; ++g) {
            if (groupScore_[g] > groupScore_[best]) {
                best = g;
            }
        }
        candidate = groupChoice_[best];
    }
    float pitch = candidates_[candidate];

    // 10. Voicing: normalized correlation of the raw frame at one period.
    const int lag = static_cast<int>(rate_ / pitch + 0.5f);
    const int width = std::max(0, std::min(corrWindow_, size_ - lag));
    double xy = 0.0;
    double xx = 0.0;
    double yy = 0.0;
    for (int i = 0; i < width; ++i) {
        const double x = raw_[i];
        const double y = raw_[lag + i];
        xy += x * y;
        xx += x * x;
        yy += y * y;
    }
    const double norm = std::sqrt(xx * yy);
    const float r = norm < corrFloor_ ? 0.0f : static_cast<float>(xy / norm);

    // 11. Envelope over the older half of the frame (the hop the pitch is for).
    float peak = 0.0f;
    for (int i = 0; i < hop_; ++i) {
        const float a = std::fabs(raw_[i]);
        const float c = a > envelope_ ? attack_ : release_;
        envelope_ = (1.0f - c) * a + c * envelope_;
        peak = std::max(peak, envelope_);
    }
    envelopePeak_ = peak;

    // 12. Level estimates and the voicing decision.
    if (r < 0.5f) {
        noiseFloor_ = (1.0f - smoothing_) * peak + smoothing_ * noiseFloor_;
    }
    if (r >= 0.8f) {
        if (firstVoiced_) {
            voicedLevel_ = peak;
            firstVoiced_ = false;
        } else {
            voicedLevel_ = (1.0f - smoothing_) * peak + smoothing_ * voicedLevel_;
        }
    }
    if (r < 0.8f && noiseFloor_ > voicedLevel_) {
        voicedLevel_ = noiseFloor_;
    }
    if (noiseFloor_ < 0.25f * voicedLevel_) {
        noiseFloor_ = 0.25f * voicedLevel_;
    }
    const bool unvoiced = r < 0.5f || noiseFloor_ * 1.414f > peak || (r < 0.8f && voicedRun_ < 2);
    // Only "fewer than two" matters, so the run count stops growing there.
    voicedRun_ = r > 0.8f ? std::min(voicedRun_ + 1, 1 << 20) : 0;
    lastVoiced_ = !unvoiced;
    if (unvoiced) {
        pitch = lastPitch_;
    }
    lastPitch_ = pitch;

    pitchHz = pitch;
    voicing = r;
}
