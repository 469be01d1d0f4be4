#pragma once
// A decoded picture (PNG, JPEG, BMP, GIF; animated GIFs with every frame
// and its delay) as premultiplied surfaces.
#include <memory>
#include <string>
#include <vector>

#include "platform/draw/Surface.h"

namespace platform {

class Image {
  public:
    // Null when the file is missing or cannot be decoded.
    static std::shared_ptr<Image> Load(const std::wstring& path);
    static std::shared_ptr<Image> FromBytes(const void* data, std::size_t size);

    int Width() const { return frames_.empty() ? 0 : frames_[0].surface.Width(); }
    int Height() const { return frames_.empty() ? 0 : frames_[0].surface.Height(); }
    int FrameCount() const { return static_cast<int>(frames_.size()); }
    // Frame 0 for an index out of range.
    const Surface& Frame(int index) const;
    // Milliseconds the frame stays; 0 for a still picture.
    int FrameDelayMs(int index) const;

    // Frames to keep of an animation at most; a longer one is cut there.
    static constexpr int kMaxFrames = 1000;
    // Larger files are refused rather than decoded.
    static constexpr std::size_t kMaxFileBytes = 64u << 20;

  private:
    struct Entry {
        Surface surface;
        int delayMs = 0;
    };
    static std::shared_ptr<Image> FromAnimation(void* animation, int frameCount);
    std::vector<Entry> frames_;
};

}  // namespace platform
