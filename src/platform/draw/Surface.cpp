#include "platform/draw/Surface.h"

#include <cairo.h>

#include <cstring>
#include <utility>

#include "platform/text/Utf.h"

namespace platform {

namespace {
cairo_surface_t* AsCairo(void* p) {
    return static_cast<cairo_surface_t*>(p);
}
}  // namespace

Surface::Surface(int width, int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return;
    }
    native_ = s;
    width_ = width;
    height_ = height;
}

Surface::~Surface() {
    if (native_) {
        cairo_surface_destroy(AsCairo(native_));
    }
}

Surface::Surface(const Surface& other) : Surface(other.width_, other.height_) {
    if (native_ && other.native_) {
        std::memcpy(MutablePixels(), other.Pixels(),
                    static_cast<std::size_t>(StrideBytes()) * static_cast<std::size_t>(height_));
        cairo_surface_mark_dirty(AsCairo(native_));
    }
}

Surface& Surface::operator=(const Surface& other) {
    if (this != &other) {
        Surface copy(other);
        *this = std::move(copy);
    }
    return *this;
}

Surface::Surface(Surface&& other) noexcept
    : native_(std::exchange(other.native_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)) {}

Surface& Surface::operator=(Surface&& other) noexcept {
    if (this != &other) {
        if (native_) {
            cairo_surface_destroy(AsCairo(native_));
        }
        native_ = std::exchange(other.native_, nullptr);
        width_ = std::exchange(other.width_, 0);
        height_ = std::exchange(other.height_, 0);
    }
    return *this;
}

int Surface::StrideBytes() const {
    return native_ ? cairo_image_surface_get_stride(AsCairo(native_)) : 0;
}

const std::uint32_t* Surface::Pixels() const {
    if (!native_) {
        return nullptr;
    }
    cairo_surface_flush(AsCairo(native_));
    return reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(AsCairo(native_)));
}

std::uint32_t* Surface::MutablePixels() {
    if (!native_) {
        return nullptr;
    }
    cairo_surface_flush(AsCairo(native_));
    // The caller writes behind cairo's back: nothing cached may survive.
    cairo_surface_mark_dirty(AsCairo(native_));
    return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(AsCairo(native_)));
}

std::uint32_t Surface::Pixel(int x, int y) const {
    if (!native_ || x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0;
    }
    const auto* row = reinterpret_cast<const unsigned char*>(Pixels()) +
                      static_cast<std::size_t>(y) * static_cast<std::size_t>(StrideBytes());
    return reinterpret_cast<const std::uint32_t*>(row)[x];
}

void Surface::Fill(std::uint32_t premultipliedArgb) {
    if (!native_) {
        return;
    }
    auto* bytes = reinterpret_cast<unsigned char*>(MutablePixels());
    for (int y = 0; y < height_; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(
            bytes + static_cast<std::size_t>(y) * static_cast<std::size_t>(StrideBytes()));
        for (int x = 0; x < width_; ++x) {
            row[x] = premultipliedArgb;
        }
    }
    cairo_surface_mark_dirty(AsCairo(native_));
}

bool Surface::SavePng(const std::wstring& path) const {
    return native_ && cairo_surface_write_to_png(AsCairo(native_), ToUtf8(path).c_str()) ==
                          CAIRO_STATUS_SUCCESS;
}

}  // namespace platform
