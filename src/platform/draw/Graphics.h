#pragma once
// Drawing on a Surface: paths, solid and gradient brushes, pens, clipping,
// transforms, pictures with opacity and interpolation, and text laid out
// at 96 dpi with the faces the skins name mapped to installed fonts.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw/Surface.h"

namespace platform {

// A straight (not premultiplied) colour, 0xAARRGGBB.
struct Color {
    std::uint32_t argb = 0xFF000000;
    static Color Argb(std::uint32_t value) { return Color{value}; }
    double A() const { return ((argb >> 24) & 0xFF) / 255.0; }
    double R() const { return ((argb >> 16) & 0xFF) / 255.0; }
    double G() const { return ((argb >> 8) & 0xFF) / 255.0; }
    double B() const { return (argb & 0xFF) / 255.0; }
};

struct PointF {
    float x = 0;
    float y = 0;
};

struct RectF {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
};

struct SizeF {
    float width = 0;
    float height = 0;
};

class Path {
  public:
    void MoveTo(float x, float y);
    void LineTo(float x, float y);
    void BezierTo(float x1, float y1, float x2, float y2, float x3, float y3);
    // An arc of the ellipse inscribed in rect, angles in degrees clockwise
    // from the positive x axis.
    void ArcTo(const RectF& rect, float startDegrees, float sweepDegrees);
    void Close();
    void AddRect(const RectF& rect);
    // Corners of the given radius (clamped to half the shorter side).
    void AddRoundedRect(const RectF& rect, float radius);
    void AddEllipse(const RectF& rect);
    bool Empty() const { return ops_.empty(); }

  private:
    friend class Graphics;
    struct Op {
        enum Kind { Move, Line, Curve, Arc, ClosePath } kind;
        float v[6];
    };
    std::vector<Op> ops_;
};

struct Brush {
    enum class Kind { Solid, Linear };
    Kind kind = Kind::Solid;
    Color color;
    PointF from;
    PointF to;
    Color toColor;
    static Brush Solid(Color c) { return Brush{Kind::Solid, c, {}, {}, {}}; }
    static Brush Linear(PointF from, PointF to, Color fromColor, Color toColor) {
        return Brush{Kind::Linear, fromColor, from, to, toColor};
    }
};

struct Pen {
    Color color;
    float width = 1;
};

enum class Interpolation { NearestNeighbor, Bilinear, HighQuality };
enum class Smoothing { None, AntiAlias };

struct Font {
    std::wstring family = L"Arial";
    float sizePx = 12;  // character height in pixels
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    // A size in points at the fixed 96 dpi.
    static float PointsToPx(float points) { return points * 96.0f / 72.0f; }
};

struct TextFormat {
    enum class Align { Near, Center, Far };
    Align align = Align::Near;      // horizontal
    Align lineAlign = Align::Near;  // vertical
    bool wrap = true;
    bool ellipsis = false;  // cut with "…" where the text does not fit
};

// The installed family fontconfig picks for a face name.
std::wstring ResolveFontFamily(const std::wstring& family);

class Graphics {
  public:
    explicit Graphics(Surface& target);
    ~Graphics();
    Graphics(const Graphics&) = delete;
    Graphics& operator=(const Graphics&) = delete;

    void Save();
    void Restore();
    void Translate(float dx, float dy);
    void Scale(float sx, float sy);
    void Rotate(float degrees);
    void ResetTransform();

    void ClipRect(const RectF& rect);
    void ClipPath(const Path& path);
    void ResetClip();

    void SetSmoothing(Smoothing smoothing);
    void SetInterpolation(Interpolation interpolation);

    // Replaces the pixels inside the clip, alpha included.
    void Clear(Color color);
    void FillRect(const RectF& rect, const Brush& brush);
    void FillPath(const Path& path, const Brush& brush);
    void DrawPath(const Path& path, const Pen& pen);
    void DrawLine(PointF from, PointF to, const Pen& pen);
    // Source rectangle src of image into dest, blended over what is there.
    void DrawImage(const Surface& image, const RectF& dest, const RectF& src, float opacity = 1);
    void DrawImage(const Surface& image, float x, float y, float opacity = 1);
    // Copies the pixels of area from source (same coordinates), replacing.
    void CopyFrom(const Surface& source, const RectF& area);

    void DrawText(const std::wstring& text, const Font& font, const RectF& layout,
                  const Brush& brush, const TextFormat& format = {});
    // The size the text takes; maxWidth <= 0 lays it out on one line.
    SizeF MeasureText(const std::wstring& text, const Font& font, float maxWidth,
                      const TextFormat& format = {});

  private:
    void SetSource(const Brush& brush);
    void AppendPath(const Path& path);
    void* cr_;
    Interpolation interpolation_ = Interpolation::Bilinear;
};

}  // namespace platform
