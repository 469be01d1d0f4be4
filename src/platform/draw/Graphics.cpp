#include "platform/draw/Graphics.h"

#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/draw/LeakSuppressions.h"
#include "platform/text/Utf.h"

namespace platform {

namespace {

cairo_t* Cr(void* p) {
    return static_cast<cairo_t*>(p);
}

constexpr double kPi = 3.14159265358979323846;

// Faces the skins and the lyric views name, mapped to Debian's fonts: the
// Chinese ones to a face that covers CJK, the Latin ones to faces with the
// same metrics.
constexpr const char* kFontSubstitutes = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <alias binding="same"><family>SimHei</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>SimSun</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>NSimSun</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>Microsoft YaHei</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>微软雅黑</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>黑体</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>宋体</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>Microsoft JhengHei</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>PMingLiU</family><prefer><family>WenQuanYi Micro Hei</family></prefer></alias>
  <alias binding="same"><family>Arial</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Tahoma</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Verdana</family><prefer><family>DejaVu Sans</family></prefer></alias>
  <alias binding="same"><family>Segoe UI</family><prefer><family>Liberation Sans</family></prefer></alias>
  <alias binding="same"><family>Times New Roman</family><prefer><family>Liberation Serif</family></prefer></alias>
  <alias binding="same"><family>Courier New</family><prefer><family>Liberation Mono</family></prefer></alias>
  <alias><family>sans-serif</family><prefer><family>Liberation Sans</family><family>WenQuanYi Micro Hei</family></prefer></alias>
</fontconfig>
)";

void ConfigureFonts() {
    static std::once_flag once;
    std::call_once(once, [] {
        FcInit();
        FcConfigParseAndLoadFromMemory(FcConfigGetCurrent(),
                                       reinterpret_cast<const FcChar8*>(kFontSubstitutes), FcTrue);
    });
}

cairo_filter_t FilterFor(Interpolation i) {
    switch (i) {
        case Interpolation::NearestNeighbor:
            return CAIRO_FILTER_NEAREST;
        case Interpolation::Bilinear:
            return CAIRO_FILTER_BILINEAR;
        case Interpolation::HighQuality:
            return CAIRO_FILTER_BEST;
    }
    return CAIRO_FILTER_BILINEAR;
}

PangoLayout* MakeLayout(cairo_t* cr, const std::wstring& text, const Font& font, float width,
                        const TextFormat& format) {
    ConfigureFonts();
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    pango_cairo_context_set_resolution(context, 96);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_layout_context_changed(layout);

    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, ToUtf8(font.family).c_str());
    pango_font_description_set_absolute_size(desc, std::max(1.0f, font.sizePx) * PANGO_SCALE);
    pango_font_description_set_weight(desc, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(desc, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);

    if (font.underline || font.strikeout) {
        PangoAttrList* attributes = pango_attr_list_new();
        if (font.underline) {
            pango_attr_list_insert(attributes, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
        }
        if (font.strikeout) {
            pango_attr_list_insert(attributes, pango_attr_strikethrough_new(TRUE));
        }
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    const std::string utf8 = ToUtf8(text);
    pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
    if (width > 0) {
        pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
        if (format.wrap) {
            pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        }
        if (format.ellipsis) {
            pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
            if (!format.wrap) {
                pango_layout_set_single_paragraph_mode(layout, TRUE);
            }
        }
    }
    switch (format.align) {
        case TextFormat::Align::Near:
            pango_layout_set_alignment(layout, PANGO_ALIGN_LEFT);
            break;
        case TextFormat::Align::Center:
            pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
            break;
        case TextFormat::Align::Far:
            pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
            break;
    }
    return layout;
}

}  // namespace

// ---- Path ----

void Path::MoveTo(float x, float y) {
    ops_.push_back({Op::Move, {x, y}});
}
void Path::LineTo(float x, float y) {
    ops_.push_back({Op::Line, {x, y}});
}
void Path::BezierTo(float x1, float y1, float x2, float y2, float x3, float y3) {
    ops_.push_back({Op::Curve, {x1, y1, x2, y2, x3, y3}});
}
void Path::ArcTo(const RectF& r, float start, float sweep) {
    ops_.push_back({Op::Arc, {r.x, r.y, r.width, r.height, start, sweep}});
}
void Path::Close() {
    ops_.push_back({Op::ClosePath, {}});
}

void Path::AddRect(const RectF& r) {
    MoveTo(r.x, r.y);
    LineTo(r.x + r.width, r.y);
    LineTo(r.x + r.width, r.y + r.height);
    LineTo(r.x, r.y + r.height);
    Close();
}

void Path::AddRoundedRect(const RectF& r, float radius) {
    const float rad = std::clamp(radius, 0.0f, std::min(r.width, r.height) / 2);
    if (rad <= 0) {
        AddRect(r);
        return;
    }
    const float d = 2 * rad;
    ArcTo({r.x, r.y, d, d}, 180, 90);
    ArcTo({r.x + r.width - d, r.y, d, d}, 270, 90);
    ArcTo({r.x + r.width - d, r.y + r.height - d, d, d}, 0, 90);
    ArcTo({r.x, r.y + r.height - d, d, d}, 90, 90);
    Close();
}

void Path::AddEllipse(const RectF& r) {
    ArcTo(r, 0, 360);
    Close();
}

// ---- Graphics ----

Graphics::Graphics(Surface& target)
    : cr_(cairo_create(static_cast<cairo_surface_t*>(target.Native()))) {
    UseThirdPartyLeakSuppressions();
}

Graphics::~Graphics() {
    cairo_destroy(Cr(cr_));
}

void Graphics::Save() {
    cairo_save(Cr(cr_));
}
void Graphics::Restore() {
    cairo_restore(Cr(cr_));
}
void Graphics::Translate(float dx, float dy) {
    cairo_translate(Cr(cr_), dx, dy);
}
void Graphics::Scale(float sx, float sy) {
    cairo_scale(Cr(cr_), sx, sy);
}
void Graphics::Rotate(float degrees) {
    cairo_rotate(Cr(cr_), degrees * kPi / 180);
}
void Graphics::ResetTransform() {
    cairo_identity_matrix(Cr(cr_));
}

void Graphics::ClipRect(const RectF& r) {
    cairo_new_path(Cr(cr_));
    cairo_rectangle(Cr(cr_), r.x, r.y, r.width, r.height);
    cairo_clip(Cr(cr_));
}

void Graphics::ClipPath(const Path& path) {
    AppendPath(path);
    cairo_clip(Cr(cr_));
}

void Graphics::ResetClip() {
    cairo_reset_clip(Cr(cr_));
}

void Graphics::SetSmoothing(Smoothing smoothing) {
    cairo_set_antialias(
        Cr(cr_), smoothing == Smoothing::None ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_DEFAULT);
}

void Graphics::SetInterpolation(Interpolation interpolation) {
    interpolation_ = interpolation;
}

void Graphics::AppendPath(const Path& path) {
    cairo_t* cr = Cr(cr_);
    cairo_new_path(cr);
    for (const Path::Op& op : path.ops_) {
        const float* v = op.v;
        switch (op.kind) {
            case Path::Op::Move:
                cairo_move_to(cr, v[0], v[1]);
                break;
            case Path::Op::Line:
                cairo_line_to(cr, v[0], v[1]);
                break;
            case Path::Op::Curve:
                cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]);
                break;
            case Path::Op::Arc: {
                if (v[2] <= 0 || v[3] <= 0) {
                    break;
                }
                cairo_save(cr);
                cairo_translate(cr, v[0] + v[2] / 2, v[1] + v[3] / 2);
                cairo_scale(cr, v[2] / 2, v[3] / 2);
                const double a0 = v[4] * kPi / 180;
                const double a1 = (v[4] + v[5]) * kPi / 180;
                if (v[5] >= 0) {
                    cairo_arc(cr, 0, 0, 1, a0, a1);
                } else {
                    cairo_arc_negative(cr, 0, 0, 1, a0, a1);
                }
                cairo_restore(cr);
                break;
            }
            case Path::Op::ClosePath:
                cairo_close_path(cr);
                break;
        }
    }
}

void Graphics::SetSource(const Brush& brush) {
    cairo_t* cr = Cr(cr_);
    if (brush.kind == Brush::Kind::Solid) {
        const Color& c = brush.color;
        cairo_set_source_rgba(cr, c.R(), c.G(), c.B(), c.A());
        return;
    }
    cairo_pattern_t* p =
        cairo_pattern_create_linear(brush.from.x, brush.from.y, brush.to.x, brush.to.y);
    cairo_pattern_add_color_stop_rgba(p, 0, brush.color.R(), brush.color.G(), brush.color.B(),
                                      brush.color.A());
    cairo_pattern_add_color_stop_rgba(p, 1, brush.toColor.R(), brush.toColor.G(), brush.toColor.B(),
                                      brush.toColor.A());
    cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    cairo_set_source(cr, p);
    cairo_pattern_destroy(p);
}

void Graphics::Clear(Color color) {
    cairo_t* cr = Cr(cr_);
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, color.R(), color.G(), color.B(), color.A());
    cairo_paint(cr);
    cairo_restore(cr);
}

void Graphics::FillRect(const RectF& r, const Brush& brush) {
    Path p;
    p.AddRect(r);
    FillPath(p, brush);
}

void Graphics::FillPath(const Path& path, const Brush& brush) {
    AppendPath(path);
    SetSource(brush);
    cairo_fill(Cr(cr_));
}

void Graphics::DrawPath(const Path& path, const Pen& pen) {
    AppendPath(path);
    SetSource(Brush::Solid(pen.color));
    cairo_set_line_width(Cr(cr_), pen.width);
    cairo_stroke(Cr(cr_));
}

void Graphics::DrawLine(PointF from, PointF to, const Pen& pen) {
    Path p;
    p.MoveTo(from.x, from.y);
    p.LineTo(to.x, to.y);
    DrawPath(p, pen);
}

void Graphics::DrawImage(const Surface& image, const RectF& dest, const RectF& src, float opacity) {
    if (!image.Valid() || src.width <= 0 || src.height <= 0 || dest.width <= 0 ||
        dest.height <= 0) {
        return;
    }
    cairo_t* cr = Cr(cr_);
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, dest.x, dest.y, dest.width, dest.height);
    cairo_clip(cr);
    cairo_translate(cr, dest.x, dest.y);
    cairo_scale(cr, dest.width / src.width, dest.height / src.height);
    cairo_set_source_surface(cr, static_cast<cairo_surface_t*>(image.Native()), -src.x, -src.y);
    cairo_pattern_t* pattern = cairo_get_source(cr);
    cairo_pattern_set_filter(pattern, FilterFor(interpolation_));
    // Edge pixels repeat instead of fading into transparency when scaled.
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_paint_with_alpha(cr, std::clamp(opacity, 0.0f, 1.0f));
    cairo_restore(cr);
}

void Graphics::DrawImage(const Surface& image, float x, float y, float opacity) {
    const auto w = static_cast<float>(image.Width());
    const auto h = static_cast<float>(image.Height());
    DrawImage(image, {x, y, w, h}, {0, 0, w, h}, opacity);
}

void Graphics::CopyFrom(const Surface& source, const RectF& area) {
    if (!source.Valid()) {
        return;
    }
    cairo_t* cr = Cr(cr_);
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, area.x, area.y, area.width, area.height);
    cairo_clip(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, static_cast<cairo_surface_t*>(source.Native()), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void Graphics::DrawText(const std::wstring& text, const Font& font, const RectF& layoutRect,
                        const Brush& brush, const TextFormat& format) {
    if (text.empty()) {
        return;
    }
    cairo_t* cr = Cr(cr_);
    PangoLayout* layout = MakeLayout(cr, text, font, layoutRect.width, format);
    int w = 0;
    int h = 0;
    pango_layout_get_pixel_size(layout, &w, &h);
    float y = layoutRect.y;
    if (format.lineAlign == TextFormat::Align::Center) {
        y += (layoutRect.height - static_cast<float>(h)) / 2;
    } else if (format.lineAlign == TextFormat::Align::Far) {
        y += layoutRect.height - static_cast<float>(h);
    }
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_rectangle(cr, layoutRect.x, layoutRect.y, layoutRect.width, layoutRect.height);
    cairo_clip(cr);
    SetSource(brush);
    cairo_move_to(cr, layoutRect.x, y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
    g_object_unref(layout);
}

SizeF Graphics::MeasureText(const std::wstring& text, const Font& font, float maxWidth,
                            const TextFormat& format) {
    PangoLayout* layout = MakeLayout(Cr(cr_), text, font, maxWidth, format);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, nullptr, &logical);
    g_object_unref(layout);
    return {static_cast<float>(logical.width), static_cast<float>(logical.height)};
}

std::wstring ResolveFontFamily(const std::wstring& family) {
    ConfigureFonts();
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY,
                       reinterpret_cast<const FcChar8*>(ToUtf8(family).c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    std::wstring resolved;
    FcChar8* name = nullptr;
    if (match && FcPatternGetString(match, FC_FAMILY, 0, &name) == FcResultMatch) {
        resolved = FromUtf8(reinterpret_cast<const char*>(name));
    }
    if (match) {
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return resolved;
}

}  // namespace platform
