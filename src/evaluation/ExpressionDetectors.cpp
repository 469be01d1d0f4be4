#include "evaluation/ExpressionDetectors.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "evaluation/ScoringExports.h"

namespace evaluation {

float LoudnessWindowLevel(const float* values, int blockLength, int i) {
    const float* w = values + static_cast<long long>(i) * blockLength;
    float largest = w[0];
    for (int k = 1; k < 2 * blockLength; ++k) {
        largest = std::max(largest, w[k]);
    }
    if (!(largest > 0.0f)) {
        return 0.0f;
    }
    return std::min(20.0f * std::log10(largest), kLoudnessCapDb);
}

int LoudnessWindowCount(int count, int blockLength) {
    if (blockLength <= 0 || count <= 0) {
        return 0;
    }
    return std::max(0, count / blockLength - 2);
}

}  // namespace evaluation

int VibratoTrack(float* values, int count, int& found, int maxCrossings, int minCrossings,
                 float maxDepth, float minDepth) {
    found = 0;
    if (values == nullptr || count < 0) {
        return 0;
    }
    // Only voiced frames (positive positions) take part, in order.
    double sum = 0.0;
    int n = 0;
    for (int k = 0; k < count; ++k) {
        if (values[k] > 0.0f) {
            sum += values[k];
            ++n;
        }
    }
    if (n == 0) {
        return 1;
    }
    const float mean = static_cast<float>(sum / n);
    int crossings = 0;
    double squares = 0.0;
    bool havePrevious = false;
    float previous = 0.0f;
    for (int k = 0; k < count; ++k) {
        if (!(values[k] > 0.0f)) {
            continue;
        }
        const float v = values[k] / mean - 1.0f;
        if (havePrevious && previous * v < 0.0f) {
            ++crossings;
        }
        squares += static_cast<double>(v) * v;
        previous = v;
        havePrevious = true;
    }
    const float depth = static_cast<float>(std::sqrt(squares / n));
    found = (minCrossings <= crossings && crossings < maxCrossings && minDepth < depth &&
             depth < maxDepth)
                ? 1
                : 0;
    return 1;
}

float PortamentoTrack(float* values, int count, int& type, float maxGlide, float minGlide,
                      float maxRiff, float minRiff) {
    type = 0;
    if (values == nullptr || count <= 0) {
        return 0.0f;
    }
    // The tracker passes 16 values; a larger count from another caller takes
    // the heap, which is fine off the capture thread.
    constexpr int kInline = 64;
    float inlineSteps[kInline];
    std::vector<float> heapSteps;
    int j = 0;
    for (int k = 0; k < count; ++k) {
        j += values[k] > 0.0f ? 1 : 0;
    }
    if (j <= 6) {
        return 0.0f;
    }
    float* r = inlineSteps;
    if (j - 1 > kInline) {
        heapSteps.resize(j - 1);
        r = heapSteps.data();
    }
    // Steps in semitones between consecutive voiced values. The divisor
    // 0.0833 (not 1/12) is part of the tuning: a semitone reads 1.0004.
    int steps = 0;
    float previous = 0.0f;
    bool havePrevious = false;
    for (int k = 0; k < count; ++k) {
        const float v = values[k];
        if (!(v > 0.0f)) {
            continue;
        }
        if (havePrevious) {
            const float hi = std::max(v, previous);
            const float lo = std::min(v, previous);
            const float size = std::log10(hi / lo) / std::log10(2.0f) / 0.0833f;
            r[steps++] = v >= previous ? size : -size;
        }
        previous = v;
        havePrevious = true;
    }
    auto steady = [&](int k) { return std::fabs(r[k]) < 1.0f && std::fabs(r[k + 1]) < 1.0f; };
    float size = 0.0f;
    for (int k = 2; k <= j - 7; ++k) {
        const float up = r[k] + r[k + 1];
        const float down = r[k + 2] + r[k + 3];
        if (steady(k - 2) && minRiff < up && up < maxRiff && -maxRiff < down && down < -minRiff &&
            steady(k + 4)) {
            type = 2;
            size = up;
            break;
        }
    }
    // A glide overrides a riff found in the same window.
    for (int k = 2; k <= j - 5; ++k) {
        if (!steady(k - 2) || !steady(k + 2)) {
            continue;
        }
        const float l = r[k] + r[k + 1];
        if (minGlide < l && l < maxGlide) {
            type = 1;
            size = l;
            break;
        }
        if (-maxGlide < l && l < -minGlide) {
            type = -1;
            size = l;
            break;
        }
    }
    return size;
}

int LoudnessTrack(float* values, int count, int blockLength, float& meanLevel, float& variation,
                  float floor, float meanScale, float variationScale) {
    meanLevel = 0.0f;
    variation = 0.0f;
    if (values == nullptr || count < 0 || blockLength <= 0) {
        return 0;
    }
    const int blocks = evaluation::LoudnessWindowCount(count, blockLength);
    if (blocks == 0) {
        return 1;
    }
    float total = 0.0f;
    for (int i = 0; i < blocks; ++i) {
        total += evaluation::LoudnessWindowLevel(values, blockLength, i);
    }
    const float mean = total / blocks;
    auto selected = [&](float level) { return level > floor && std::fabs(mean - level) < 12.0f; };
    float selectedSum = 0.0f;
    int m = 0;
    for (int i = 0; i < blocks; ++i) {
        const float level = evaluation::LoudnessWindowLevel(values, blockLength, i);
        if (selected(level)) {
            selectedSum += level;
            ++m;
        }
    }
    float spread = 0.0f;
    const float avg = m > 0 ? selectedSum / m : 0.0f;
    // No selected window (or a floor that lets silent windows in) gives no
    // measurable variation rather than a division by zero.
    if (m > 0 && avg > 0.0f) {
        double squares = 0.0;
        int changes = 0;
        bool havePrevious = false;
        float previous = 0.0f;
        for (int i = 0; i < blocks; ++i) {
            const float level = evaluation::LoudnessWindowLevel(values, blockLength, i);
            if (!selected(level)) {
                continue;
            }
            const float d = level / avg - 1.0f;
            squares += static_cast<double>(d) * d;
            if (havePrevious && previous * d < 0.0f) {
                ++changes;
            }
            previous = d;
            havePrevious = true;
        }
        spread = static_cast<float>(std::sqrt(squares / m));
        if (changes < 10 || m <= 1) {
            spread *= 0.25f;
        }
    }
    variation = spread * variationScale;
    meanLevel = mean * meanScale;
    return 1;
}
