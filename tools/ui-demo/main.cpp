// A window on the user-interface layer for a person to look at: text in
// English and Chinese, a PNG and an animated GIF, a dot where the mouse was
// pressed and a line of typed text. Drag the title strip to move the window;
// Escape or the window manager's close button ends it.
//
//   vokari-ui-demo [picture.png] [animation.gif]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/draw/Graphics.h"
#include "platform/draw/Image.h"
#include "platform/draw/Surface.h"
#include "platform/gtk/GtkBackend.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"
#include "platform/ui/UiLoop.h"

using namespace platform;

namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 340;
constexpr int kTitleHeight = 36;
constexpr std::uintptr_t kAnimationTimer = 1;

// Two frames of one pixel each, red then blue, shown 400 ms each.
const unsigned char kBlinkGif[] = {
    'G',  'I',  'F',  '8',  '9',  'a',  1,    0,    1,    0,    0x80, 0,    0,   0xE0, 0x30,
    0x30, 0x30, 0x60, 0xE0, 0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A', 'P',  'E',
    '2',  '.',  '0',  3,    1,    0,    0,    0,    0x21, 0xF9, 4,    0x00, 40,  0,    0,
    0,    0x2C, 0,    0,    0,    0,    1,    0,    1,    0,    0,    2,    2,   0x44, 0x01,
    0,    0x21, 0xF9, 4,    0x00, 40,   0,    0,    0,    0x2C, 0,    0,    0,   0,    1,
    0,    1,    0,    0,    2,    2,    0x4C, 0x01, 0,    0x3B,
};

// A translucent disc with a soft rim, written as a PNG so that the demo
// shows the picture loader at work.
std::wstring MakePicture(const std::filesystem::path& folder) {
    Surface s(96, 96);
    Graphics g(s);
    Path disc;
    disc.AddEllipse({4, 4, 88, 88});
    g.FillPath(disc,
               Brush::Linear({0, 0}, {96, 96}, Color::Argb(0xF0FFC040), Color::Argb(0x60FF4080)));
    g.DrawPath(disc, Pen{Color::Argb(0xFFFFFFFF), 3});
    const std::wstring path = FromUtf8((folder / "vokari-demo.png").string());
    s.SavePng(path);
    return path;
}

class Demo : public WindowHandler {
  public:
    Demo(UiLoop& loop, std::shared_ptr<Image> picture, std::shared_ptr<Image> animation)
        : loop_(loop), picture_(std::move(picture)), animation_(std::move(animation)) {
        WindowDesc desc;
        desc.title = L"Vokari UI demo";
        const Size screen = loop_.ScreenSize();
        desc.rect = {(screen.width - kWidth) / 2, (screen.height - kHeight) / 2,
                     (screen.width + kWidth) / 2, (screen.height + kHeight) / 2};
        window_ = loop_.CreateWindow(desc, this);
        loop_.Show(window_);
        loop_.StartTextInput(window_, {20, 250, 22, 272});
        if (animation_ && animation_->FrameCount() > 1) {
            loop_.SetTimer(window_, kAnimationTimer, Delay());
        }
        Paint();
    }

    std::intptr_t OnMessage(const Message& m) override {
        switch (m.id) {
            case msg::kLButtonDown: {
                const Point p{msg::PointParamX(m.lParam), msg::PointParamY(m.lParam)};
                if (p.y < kTitleHeight) {
                    loop_.BeginDrag(window_);  // move by the title strip
                    return 0;
                }
                dots_.push_back(p);
                status_ = Format(L"Click at {}, {}", p.x, p.y);
                break;
            }
            case msg::kLButtonDblClk:
                status_ = L"Double click";
                break;
            case msg::kRButtonDown:
                dots_.clear();
                status_ = L"Right click: dots cleared";
                break;
            case msg::kMouseWheel:
                status_ = Format(L"Wheel {}", msg::WheelDelta(m.wParam));
                break;
            case msg::kChar:
                if (m.wParam >= 32) {
                    typed_ += static_cast<wchar_t>(m.wParam);
                }
                break;
            case msg::kKeyDown:
                if (m.wParam == vk::kEscape) {
                    loop_.Quit(0);
                    return 0;
                }
                if (m.wParam == vk::kBack && !typed_.empty()) {
                    typed_.pop_back();
                }
                break;
            case msg::kImeComposition:
            case msg::kImeEndComposition:
                break;
            case msg::kTimer:
                frame_ = (frame_ + 1) % animation_->FrameCount();
                loop_.SetTimer(window_, kAnimationTimer, Delay());
                break;
            case msg::kActivate:
                active_ = m.wParam != 0;
                break;
            case msg::kSysCommand:
                if (m.wParam == msg::kScClose) {
                    loop_.Quit(0);
                }
                return 0;
            default:
                return 0;
        }
        Paint();
        return 0;
    }

  private:
    unsigned Delay() const {
        const int d = animation_->FrameDelayMs(frame_);
        return static_cast<unsigned>(d > 20 ? d : 100);
    }

    void Paint() {
        Surface back(kWidth, kHeight);
        Graphics g(back);
        Path shape;
        shape.AddRoundedRect({0, 0, kWidth, kHeight}, 18);
        g.ClipPath(shape);
        g.FillRect(
            {0, 0, kWidth, kHeight},
            Brush::Linear({0, 0}, {0, kHeight}, Color::Argb(0xF0203050), Color::Argb(0xF0101828)));
        g.FillRect({0, 0, kWidth, kTitleHeight},
                   Brush::Solid(Color::Argb(active_ ? 0xFF3060A0 : 0xFF405060)));
        Font title;
        title.sizePx = 16;
        title.bold = true;
        TextFormat middle;
        middle.lineAlign = TextFormat::Align::Center;
        g.DrawText(L"Vokari — 卡拉OK 演示", title, {14, 0, kWidth - 28, kTitleHeight},
                   Brush::Solid(Color::Argb(0xFFFFFFFF)), middle);

        Font body;
        body.sizePx = 15;
        g.DrawText(L"English text in a substitute for Arial.", body, {20, 50, 300, 24},
                   Brush::Solid(Color::Argb(0xFFE0E8F0)));
        Font chinese;
        chinese.family = L"SimHei";
        chinese.sizePx = 18;
        g.DrawText(L"中文歌词：月亮代表我的心", chinese, {20, 80, 300, 28},
                   Brush::Solid(Color::Argb(0xFFFFD060)));

        if (picture_) {
            g.DrawImage(picture_->Frame(0), 330, 50);
        }
        if (animation_) {
            g.SetInterpolation(Interpolation::NearestNeighbor);
            const Surface& f = animation_->Frame(frame_);
            g.DrawImage(f, {440, 60, 48, 48},
                        {0, 0, static_cast<float>(f.Width()), static_cast<float>(f.Height())});
            g.SetInterpolation(Interpolation::Bilinear);
        }
        for (const Point& p : dots_) {
            Path dot;
            dot.AddEllipse({p.x - 5.0f, p.y - 5.0f, 10, 10});
            g.FillPath(dot, Brush::Solid(Color::Argb(0xC0FF6060)));
        }
        g.FillRect({16, 240, kWidth - 32, 34}, Brush::Solid(Color::Argb(0x40FFFFFF)));
        const std::wstring line =
            typed_.empty() ? L"Type here (Backspace deletes, Esc ends)" : typed_ + L"|";
        g.DrawText(line, body, {24, 240, kWidth - 48, 34},
                   Brush::Solid(Color::Argb(typed_.empty() ? 0xFF90A0B0 : 0xFFFFFFFF)), middle);
        g.DrawText(status_, body, {20, 290, kWidth - 40, 30}, Brush::Solid(Color::Argb(0xFFB0C8E0)),
                   middle);
        loop_.Present(window_, back.Pixels(), back.Width(), back.Height(), back.StrideBytes(), 255);
    }

    UiLoop& loop_;
    WindowId window_ = 0;
    std::shared_ptr<Image> picture_;
    std::shared_ptr<Image> animation_;
    int frame_ = 0;
    std::vector<Point> dots_;
    std::wstring typed_;
    std::wstring status_ = L"Click, double-click, right-click, scroll or type.";
    bool active_ = true;
};

}  // namespace

int main(int argc, char** argv) {
    auto backend = GtkBackend::Open();
    if (!backend) {
        std::fprintf(stderr, "vokari-ui-demo: no display to open (is DISPLAY set?)\n");
        return 1;
    }
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    const std::wstring picturePath = argc > 1 ? FromUtf8(argv[1]) : MakePicture(temp);
    auto picture = Image::Load(picturePath);
    std::shared_ptr<Image> animation =
        argc > 2 ? Image::Load(FromUtf8(argv[2])) : Image::FromBytes(kBlinkGif, sizeof kBlinkGif);
    if (!picture || !animation) {
        std::fprintf(stderr, "vokari-ui-demo: a picture could not be read\n");
    }
    UiLoop loop(*backend, SystemClock());
    Demo demo(loop, picture, animation);
    return loop.Run();
}
