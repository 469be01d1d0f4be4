#include "platform/draw/Graphics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/draw/Image.h"
#include "platform/draw/Surface.h"
#include "platform/text/Utf.h"
#include "platform/ui/HeadlessBackend.h"
#include "platform/ui/UiLoop.h"

namespace {

using namespace platform;

int Channel(std::uint32_t p, int shift) {
    return static_cast<int>((p >> shift) & 0xFF);
}

// Each channel within tolerance: blending rounds differently by a unit.
::testing::AssertionResult Near(std::uint32_t actual, std::uint32_t expected, int tolerance = 1) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(Channel(actual, shift) - Channel(expected, shift)) > tolerance) {
            return ::testing::AssertionFailure()
                   << std::hex << "0x" << actual << " is not near 0x" << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

class Draw : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::path(VOKARI_BINARY_DIR) / "tmp" /
               ("Draw_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::wstring PathOf(const std::string& name) const { return FromUtf8((dir_ / name).string()); }
    std::filesystem::path dir_;
};

TEST_F(Draw, PngWithAlphaDrawnAtAnOffsetBlendsOverTheBackground) {
    // A 4x3 picture: opaque red left half, half-transparent green right half.
    Surface picture(4, 3);
    {
        Graphics g(picture);
        g.FillRect({0, 0, 2, 3}, Brush::Solid(Color::Argb(0xFFFF0000)));
        g.FillRect({2, 0, 2, 3}, Brush::Solid(Color::Argb(0x8000FF00)));
    }
    ASSERT_TRUE(picture.SavePng(PathOf("picture.png")));
    const auto image = Image::Load(PathOf("picture.png"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 4);
    EXPECT_EQ(image->FrameCount(), 1);
    EXPECT_TRUE(Near(image->Frame(0).Pixel(3, 0), 0x80008000)) << "premultiplied after loading";

    Surface back(16, 16);
    Graphics g(back);
    g.Clear(Color::Argb(0xFF0000FF));
    g.DrawImage(image->Frame(0), 10, 5);
    EXPECT_EQ(back.Pixel(9, 5), 0xFF0000FFu) << "left of the picture";
    EXPECT_EQ(back.Pixel(10, 5), 0xFFFF0000u);
    EXPECT_EQ(back.Pixel(11, 7), 0xFFFF0000u);
    EXPECT_TRUE(Near(back.Pixel(12, 5), 0xFF00807F)) << "green at half over blue";
    EXPECT_EQ(back.Pixel(10, 8), 0xFF0000FFu) << "below the picture";

    g.DrawImage(image->Frame(0), {0, 0, 4, 3}, {0, 0, 4, 3}, 0.5f);
    EXPECT_TRUE(Near(back.Pixel(0, 0), 0xFF7F0080)) << "opacity 0.5";
}

TEST_F(Draw, RoundedClipCutsTheCornersOnly) {
    Surface s(32, 32);
    Graphics g(s);
    g.SetSmoothing(Smoothing::None);
    Path rounded;
    rounded.AddRoundedRect({0, 0, 32, 32}, 8);
    g.ClipPath(rounded);
    g.Clear(Color::Argb(0xFFFFFFFF));
    const struct {
        int x, y;
        std::uint32_t pixel;
    } cases[] = {
        {0, 0, 0},           {1, 1, 0},           {31, 0, 0},
        {0, 31, 0},          {31, 31, 0},         {16, 16, 0xFFFFFFFF},
        {16, 0, 0xFFFFFFFF}, {0, 16, 0xFFFFFFFF}, {31, 16, 0xFFFFFFFF},
        {6, 6, 0xFFFFFFFF},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(s.Pixel(c.x, c.y), c.pixel) << c.x << "," << c.y;
    }
}

TEST_F(Draw, WindowTransparencyOf30PercentPresentsConstantAlpha178) {
    FakeClock clock;
    HeadlessBackend backend;
    UiLoop loop(backend, clock);
    WindowDesc desc;
    desc.rect = {0, 0, 8, 8};
    const WindowId w = loop.CreateWindow(desc, nullptr);
    Surface frame(8, 8);
    {
        Graphics g(frame);
        g.Clear(Color::Argb(0xFFFFFFFF));
        g.FillRect({0, 0, 4, 8}, Brush::Solid(Color::Argb(0x80000000)));
    }
    loop.Present(w, frame.Pixels(), frame.Width(), frame.Height(), frame.StrideBytes(),
                 ConstantAlphaForTransparency(30));
    const Frame* shown = backend.LastFrame(w);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->constantAlpha, 178);
    EXPECT_EQ(shown->At(6, 0), 0xFFFFFFFFu) << "the frame is kept as drawn";
    EXPECT_EQ(shown->Composed(6, 0), 0xB2B2B2B2u);
    EXPECT_TRUE(Near(shown->Composed(0, 0), 0xB2595959)) << "per-pixel alpha times constant alpha";
}

TEST_F(Draw, GradientTransformsAndInterpolation) {
    Surface s(64, 8);
    Graphics g(s);
    g.FillRect({0, 0, 64, 8},
               Brush::Linear({0, 0}, {64, 0}, Color::Argb(0xFF000000), Color::Argb(0xFFFFFFFF)));
    int previous = -1;
    for (int x = 0; x < 64; x += 8) {
        const int red = Channel(s.Pixel(x, 4), 16);
        EXPECT_GT(red, previous) << "brightens left to right at " << x;
        previous = red;
    }
    EXPECT_LT(Channel(s.Pixel(0, 0), 16), 8);
    EXPECT_GT(Channel(s.Pixel(63, 0), 16), 247);

    Surface t(16, 16);
    Graphics h(t);
    h.SetSmoothing(Smoothing::None);
    h.Translate(4, 4);
    h.Scale(2, 2);
    h.FillRect({0, 0, 1, 1}, Brush::Solid(Color::Argb(0xFFFF0000)));
    h.ResetTransform();
    EXPECT_EQ(t.Pixel(4, 4), 0xFFFF0000u);
    EXPECT_EQ(t.Pixel(5, 5), 0xFFFF0000u);
    EXPECT_EQ(t.Pixel(6, 6), 0u);
    EXPECT_EQ(t.Pixel(3, 4), 0u);

    // A 2x1 black-and-white picture scaled to 8x1.
    Surface two(2, 1);
    two.MutablePixels()[0] = 0xFF000000;
    two.MutablePixels()[1] = 0xFFFFFFFF;
    Surface nearest(8, 1);
    Graphics n(nearest);
    n.SetInterpolation(Interpolation::NearestNeighbor);
    n.DrawImage(two, {0, 0, 8, 1}, {0, 0, 2, 1});
    EXPECT_EQ(nearest.Pixel(3, 0), 0xFF000000u);
    EXPECT_EQ(nearest.Pixel(4, 0), 0xFFFFFFFFu);
    Surface smooth(8, 1);
    Graphics b(smooth);
    b.SetInterpolation(Interpolation::Bilinear);
    b.DrawImage(two, {0, 0, 8, 1}, {0, 0, 2, 1});
    const int middle = Channel(smooth.Pixel(4, 0), 16);
    EXPECT_GT(middle, 20);
    EXPECT_LT(middle, 235) << "bilinear gives a blend at the seam";
}

TEST_F(Draw, AnimatedGifKeepsEveryFrameAndItsDelay) {
    // 1x1 pixels, two frames (red for 100 ms, blue for 200 ms), looping.
    const unsigned char gif[] = {
        'G',  'I',  'F',  '8',  '9',  'a',  1,    0,    1,    0,    0x80, 0,    0,   0xFF, 0x00,
        0x00, 0x00, 0x00, 0xFF, 0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A', 'P',  'E',
        '2',  '.',  '0',  3,    1,    0,    0,    0,    0x21, 0xF9, 4,    0x00, 10,  0,    0,
        0,    0x2C, 0,    0,    0,    0,    1,    0,    1,    0,    0,    2,    2,   0x44, 0x01,
        0,    0x21, 0xF9, 4,    0x00, 20,   0,    0,    0,    0x2C, 0,    0,    0,   0,    1,
        0,    1,    0,    0,    2,    2,    0x4C, 0x01, 0,    0x3B,
    };
    std::ofstream(dir_ / "two.gif", std::ios::binary)
        .write(reinterpret_cast<const char*>(gif), sizeof gif);
    const auto image = Image::Load(PathOf("two.gif"));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->FrameCount(), 2);
    EXPECT_EQ(image->FrameDelayMs(0), 100);
    EXPECT_EQ(image->FrameDelayMs(1), 200);
    EXPECT_EQ(image->Frame(0).Pixel(0, 0), 0xFFFF0000u);
    EXPECT_EQ(image->Frame(1).Pixel(0, 0), 0xFF0000FFu);
    const auto fromBytes = Image::FromBytes(gif, sizeof gif);
    ASSERT_NE(fromBytes, nullptr);
    EXPECT_EQ(fromBytes->FrameCount(), 2);
}

TEST_F(Draw, PicturesThatCannotBeReadGiveNothing) {
    EXPECT_EQ(Image::Load(PathOf("missing.png")), nullptr);
    std::ofstream(dir_ / "junk.png", std::ios::binary) << "not a picture at all";
    EXPECT_EQ(Image::Load(PathOf("junk.png")), nullptr);
    EXPECT_EQ(Image::FromBytes("x", 1), nullptr);
}

TEST_F(Draw, NamedFacesResolveToInstalledFonts) {
    EXPECT_EQ(ResolveFontFamily(L"SimHei"), L"WenQuanYi Micro Hei");
    EXPECT_EQ(ResolveFontFamily(L"Microsoft YaHei"), L"WenQuanYi Micro Hei");
    EXPECT_EQ(ResolveFontFamily(L"Arial"), L"Liberation Sans");
}

// Counts the pixels with ink, and fails if any lies outside the rectangle.
int InkInside(const Surface& s, const RectF& r) {
    int ink = 0;
    for (int y = 0; y < s.Height(); ++y) {
        for (int x = 0; x < s.Width(); ++x) {
            if (s.Pixel(x, y) == 0) {
                continue;
            }
            const bool inside = x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
            if (!inside) {
                ADD_FAILURE() << "ink outside the layout at " << x << "," << y;
                return -1;
            }
            ++ink;
        }
    }
    return ink;
}

TEST_F(Draw, TextInEnglishAndChineseIsDrawnInsideItsLayout) {
    for (const auto& [text, family] :
         {std::pair{L"Karaoke", L"Arial"}, std::pair{L"卡拉OK 中文", L"SimHei"}}) {
        Surface s(120, 40);
        Graphics g(s);
        Font font;
        font.family = family;
        font.sizePx = 16;
        const RectF layout{10, 5, 100, 30};
        TextFormat format;
        format.align = TextFormat::Align::Center;
        format.lineAlign = TextFormat::Align::Center;
        g.DrawText(text, font, layout, Brush::Solid(Color::Argb(0xFFFFFFFF)), format);
        EXPECT_GT(InkInside(s, layout), 40) << ToUtf8(family);
        const SizeF size = g.MeasureText(text, font, 0);
        EXPECT_GT(size.width, 30) << ToUtf8(family);
        EXPECT_GE(size.height, 16) << ToUtf8(family);
    }
    Surface s(60, 20);
    Graphics g(s);
    Font font;
    font.sizePx = 14;
    const SizeF wide = g.MeasureText(L"a long line of text that needs wrapping", font, 0);
    const SizeF wrapped = g.MeasureText(L"a long line of text that needs wrapping", font, 60);
    EXPECT_GT(wide.width, 60);
    EXPECT_LE(wrapped.width, 60);
    EXPECT_GT(wrapped.height, wide.height) << "wrapped onto several lines";
    TextFormat cut;
    cut.wrap = false;
    cut.ellipsis = true;
    EXPECT_LE(g.MeasureText(L"a long line of text that needs cutting", font, 60, cut).width, 60);
}

}  // namespace
