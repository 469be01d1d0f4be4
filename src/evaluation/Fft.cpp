#include "evaluation/Fft.h"

#include <cmath>
#include <new>
#include <utility>

namespace evaluation {

CFft::CFft(int size) {
    if (!IsPowerOfTwo(size)) {
        return;
    }
    cos_.reset(new (std::nothrow) float[size / 2]);
    sin_.reset(new (std::nothrow) float[size / 2]);
    reversed_.reset(new (std::nothrow) int[size]);
    if (!cos_ || !sin_ || !reversed_) {
        return;
    }
    const double step = 2.0 * M_PI / size;
    for (int k = 0; k < size / 2; ++k) {
        cos_[k] = static_cast<float>(std::cos(step * k));
        sin_[k] = static_cast<float>(std::sin(step * k));
    }
    int bits = 0;
    while ((1 << bits) < size) {
        ++bits;
    }
    for (int i = 0; i < size; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b) {
            r |= ((i >> b) & 1) << (bits - 1 - b);
        }
        reversed_[i] = r;
    }
    size_ = size;
}

void CFft::Transform(float* re, float* im) const {
    const int n = size_;
    for (int i = 0; i < n; ++i) {
        const int j = reversed_[i];
        if (j > i) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int half = 1; half < n; half *= 2) {
        const int stride = n / (2 * half);
        for (int start = 0; start < n; start += 2 * half) {
            for (int k = 0; k < half; ++k) {
                const float wr = cos_[k * stride];
                const float wi = -sin_[k * stride];
                const int a = start + k;
                const int b = a + half;
                const float tr = wr * re[b] - wi * im[b];
                const float ti = wr * im[b] + wi * re[b];
                re[b] = re[a] - tr;
                im[b] = im[a] - ti;
                re[a] += tr;
                im[a] += ti;
            }
        }
    }
}

}  // namespace evaluation
