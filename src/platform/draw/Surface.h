#pragma once
// A premultiplied ARGB32 picture in memory, rows top-down: the back buffer
// windows present and the target every Graphics draws on.
#include <cstdint>
#include <string>

namespace platform {

class Surface {
  public:
    Surface() = default;
    // Cleared to transparent; an empty surface for sizes below 1.
    Surface(int width, int height);
    ~Surface();
    Surface(const Surface& other);
    Surface& operator=(const Surface& other);
    Surface(Surface&& other) noexcept;
    Surface& operator=(Surface&& other) noexcept;

    bool Valid() const { return native_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int StrideBytes() const;
    // Finished pixels: drawing is flushed before they are handed out.
    const std::uint32_t* Pixels() const;
    std::uint32_t* MutablePixels();
    std::uint32_t Pixel(int x, int y) const;
    void Fill(std::uint32_t premultipliedArgb);
    bool SavePng(const std::wstring& path) const;

    // The backing cairo_surface_t, for the drawing and window layers.
    void* Native() const { return native_; }

  private:
    void* native_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace platform
