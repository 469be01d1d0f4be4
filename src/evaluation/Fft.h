#pragma once
// In-place radix-2 decimation-in-time complex transform, unnormalized. The
// twiddles and the bit-reversal table are built once, so Transform never
// allocates and may run on the capture thread.
#include <cstddef>
#include <memory>

namespace evaluation {

class CFft {
  public:
    // size must be a power of two of at least 2; Valid() tells whether the
    // tables could be built.
    explicit CFft(int size);

    bool Valid() const { return size_ > 0; }
    int Size() const { return size_; }

    // re and im hold Size() values each.
    void Transform(float* re, float* im) const;

    static bool IsPowerOfTwo(long long n) { return n >= 2 && (n & (n - 1)) == 0; }

  private:
    int size_ = 0;
    std::unique_ptr<float[]> cos_;
    std::unique_ptr<float[]> sin_;
    std::unique_ptr<int[]> reversed_;
};

}  // namespace evaluation
