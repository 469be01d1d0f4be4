#include "platform/draw/Image.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>
#include <gio/gio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/draw/LeakSuppressions.h"
#include "platform/text/Utf.h"

namespace platform {

namespace {

Surface FromPixbuf(GdkPixbuf* pixbuf) {
    Surface surface(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf));
    if (!surface.Valid()) {
        return surface;
    }
    cairo_t* cr = cairo_create(static_cast<cairo_surface_t*>(surface.Native()));
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    return surface;
}

// The number of images in a GIF, by walking its blocks; 0 for anything
// that is not a well-formed GIF. The animation iterator composes every
// frame into one buffer and cannot say when it has gone round once.
int CountGifFrames(const unsigned char* data, std::size_t size) {
    if (size < 13 || std::memcmp(data, "GIF8", 4) != 0) {
        return 0;
    }
    std::size_t p = 13;
    if (data[10] & 0x80) {
        p += 3u * (1u << ((data[10] & 7) + 1));
    }
    const auto skipSubBlocks = [&]() {
        while (p < size && data[p] != 0) {
            p += 1u + data[p];
        }
        ++p;  // the terminator
    };
    int frames = 0;
    while (p < size) {
        const unsigned char block = data[p++];
        if (block == 0x3B) {
            break;
        }
        if (block == 0x21) {
            ++p;  // label
            skipSubBlocks();
        } else if (block == 0x2C) {
            if (p + 9 > size) {
                break;
            }
            const unsigned char packed = data[p + 8];
            p += 9;
            if (packed & 0x80) {
                p += 3u * (1u << ((packed & 7) + 1));
            }
            ++p;  // LZW minimum code size
            skipSubBlocks();
            ++frames;
        } else {
            break;
        }
    }
    return frames;
}

}  // namespace

std::shared_ptr<Image> Image::FromAnimation(void* p, int frameCount) {
    auto* animation = static_cast<GdkPixbufAnimation*>(p);
    auto image = std::make_shared<Image>();
    if (gdk_pixbuf_animation_is_static_image(animation)) {
        GdkPixbuf* still = gdk_pixbuf_animation_get_static_image(animation);
        if (still) {
            image->frames_.push_back({FromPixbuf(still), 0});
        }
    } else {
        // Walk the animation on a clock of our own, one frame delay at a
        // time, until it would loop.
        // The iterator's interface counts time in GTimeVal.
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GTimeVal time{0, 0};
        GdkPixbufAnimationIter* it = gdk_pixbuf_animation_get_iter(animation, &time);
        const int frames = std::clamp(frameCount, 1, kMaxFrames);
        for (int i = 0; i < frames; ++i) {
            GdkPixbuf* frame = gdk_pixbuf_animation_iter_get_pixbuf(it);
            const int delay = gdk_pixbuf_animation_iter_get_delay_time(it);
            image->frames_.push_back({FromPixbuf(frame), delay < 0 ? 0 : delay});
            if (delay < 0) {
                break;  // the last frame stays for ever
            }
            const glong micros = time.tv_usec + static_cast<glong>(delay > 0 ? delay : 1) * 1000;
            time.tv_sec += micros / 1000000;
            time.tv_usec = micros % 1000000;
            gdk_pixbuf_animation_iter_advance(it, &time);
        }
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_object_unref(it);
    }
    if (image->frames_.empty() || !image->frames_[0].surface.Valid()) {
        return nullptr;
    }
    return image;
}

std::shared_ptr<Image> Image::Load(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(ToUtf8(path)), std::ios::binary);
    if (!in) {
        return nullptr;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || bytes.size() > kMaxFileBytes) {
        return nullptr;
    }
    return FromBytes(bytes.data(), bytes.size());
}

std::shared_ptr<Image> Image::FromBytes(const void* data, std::size_t size) {
    UseThirdPartyLeakSuppressions();
    if (!data || size == 0) {
        return nullptr;
    }
    GInputStream* stream =
        g_memory_input_stream_new_from_data(data, static_cast<gssize>(size), nullptr);
    GError* error = nullptr;
    GdkPixbufAnimation* animation = gdk_pixbuf_animation_new_from_stream(stream, nullptr, &error);
    g_object_unref(stream);
    if (!animation) {
        if (error) {
            g_error_free(error);
        }
        return nullptr;
    }
    auto image =
        FromAnimation(animation, CountGifFrames(static_cast<const unsigned char*>(data), size));
    g_object_unref(animation);
    return image;
}

const Surface& Image::Frame(int index) const {
    if (index < 0 || index >= FrameCount()) {
        index = 0;
    }
    return frames_[static_cast<std::size_t>(index)].surface;
}

int Image::FrameDelayMs(int index) const {
    if (index < 0 || index >= FrameCount()) {
        return 0;
    }
    return frames_[static_cast<std::size_t>(index)].delayMs;
}

}  // namespace platform
