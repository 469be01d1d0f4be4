// The GTK backend on a real X server: a virtual one (Xvfb) that this test
// starts itself, with a compositor (xcompmgr) for the alpha tests and input
// injected through XTest with xdotool. The screen is read back as one image
// of the root window; xwd, which rebuilds its picture window by window from
// their own contents, shows what a window holds, alpha included.
#include "platform/gtk/GtkBackend.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/draw/Graphics.h"
#include "platform/draw/Surface.h"
#include "platform/ui/UiLoop.h"

namespace {

using namespace platform;

std::filesystem::path WorkDir() {
    static const std::filesystem::path dir = [] {
        // One folder per test program: ctest runs several side by side.
        auto d = std::filesystem::path(VOKARI_BINARY_DIR) / "tmp" /
                 ("UiGtkGui-" + std::to_string(std::random_device{}()));
        std::filesystem::remove_all(d);
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Shell(const std::string& command) {
    return std::system(command.c_str());
}

// Starts a process in the background and returns its pid file. A watcher
// ends it when this test program ends, however that happens.
std::filesystem::path Spawn(const std::string& name, const std::string& command) {
    const auto pidFile = WorkDir() / (name + ".pid");
    const auto log = WorkDir() / (name + ".log");
    Shell("(parent=$PPID; " + command + " >'" + log.string() + "' 2>&1 & child=$!; echo $child >'" +
          pidFile.string() +
          "'; while kill -0 $parent 2>/dev/null && kill -0 $child 2>/dev/null; " +
          "do sleep 1; done; kill $child 2>/dev/null) >/dev/null 2>&1 &");
    const std::uint64_t deadline = MonotonicMs() + 10000;
    while (!std::filesystem::exists(pidFile) && MonotonicMs() < deadline) {
        SleepMs(20);
    }
    return pidFile;
}

void Kill(const std::filesystem::path& pidFile) {
    if (std::filesystem::exists(pidFile)) {
        Shell("kill $(cat '" + pidFile.string() + "') 2>/dev/null");
        std::filesystem::remove(pidFile);
    }
}

// One virtual X server for the whole program: GTK opens its display once.
class XServer : public ::testing::Environment {
  public:
    void SetUp() override {
        ASSERT_EQ(Shell("command -v Xvfb >/dev/null && command -v xwd >/dev/null && "
                        "command -v xdotool >/dev/null && command -v xcompmgr >/dev/null"),
                  0)
            << "the display tests need xvfb, x11-apps, xdotool and xcompmgr";
        const auto displayFile = WorkDir() / "display";
        pid_ = Spawn("xvfb", "Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -wr 3>'" +
                                 displayFile.string() + "'");
        const std::uint64_t deadline = MonotonicMs() + 30000;
        std::string display;
        while (MonotonicMs() < deadline) {
            display = ReadFile(displayFile);
            if (!display.empty() && display.back() == '\n') {
                break;
            }
            SleepMs(50);
        }
        ASSERT_FALSE(display.empty()) << "Xvfb did not start";
        display.pop_back();
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        ::setenv("GDK_BACKEND", "x11", 1);
        ::unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        Kill(pid_);
        std::error_code ec;
        std::filesystem::remove_all(WorkDir(), ec);
    }

  private:
    std::filesystem::path pid_;
};

const auto* const kServer = ::testing::AddGlobalTestEnvironment(new XServer);

// A window's own contents through xwd.
class Screenshot {
  public:
    bool Take(std::uint64_t window = 0) {
        const auto file = WorkDir() / "screen.xwd";
        const std::string which = window ? "-id " + std::to_string(window) : std::string("-root");
        if (Shell("xwd " + which + " -silent -out '" + file.string() + "'") != 0) {
            return false;
        }
        data_ = ReadFile(file);
        if (data_.size() < 100) {
            return false;
        }
        const auto field = [&](int i) { return Be32(static_cast<std::size_t>(i) * 4); };
        const std::uint32_t headerSize = field(0);
        width_ = field(4);
        height_ = field(5);
        byteOrder_ = field(7);
        bitsPerPixel_ = field(11);
        bytesPerLine_ = field(12);
        const std::uint32_t colours = field(19);
        offset_ = headerSize + colours * 12;
        // Pixels of 3 or 4 bytes, lines of bytesPerLine_ each.
        return (bitsPerPixel_ == 24 || bitsPerPixel_ == 32) && width_ > 0 &&
               bytesPerLine_ >= width_ * (bitsPerPixel_ / 8) &&
               data_.size() >= offset_ + static_cast<std::size_t>(bytesPerLine_) * height_;
    }
    // All four bytes of a 32-bit pixel (a depth-32 window: alpha on top).
    std::uint32_t Argb(int x, int y) const {
        const std::size_t p =
            offset_ + static_cast<std::size_t>(y) * bytesPerLine_ + static_cast<std::size_t>(x) * 4;
        const auto b = [&](std::size_t i) {
            return static_cast<std::uint32_t>(static_cast<std::uint8_t>(data_[p + i]));
        };
        return byteOrder_ == 0 ? (b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24)
                               : (b(3) | b(2) << 8 | b(1) << 16 | b(0) << 24);
    }

  private:
    std::uint32_t Be32(std::size_t at) const {
        const auto b = [&](std::size_t i) { return static_cast<std::uint8_t>(data_[at + i]); };
        return std::uint32_t{b(0)} << 24 | b(1) << 16 | b(2) << 8 | b(3);
    }
    std::string data_;
    std::uint32_t width_ = 0, height_ = 0, byteOrder_ = 0, bitsPerPixel_ = 0, bytesPerLine_ = 0;
    std::size_t offset_ = 0;
};

std::string Hex(std::uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << v;
    return s.str();
}

::testing::AssertionResult Near(std::uint32_t actual, std::uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = static_cast<int>((actual >> shift) & 0xFF);
        const int e = static_cast<int>((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) {
            return ::testing::AssertionFailure()
                   << "screen " << Hex(actual) << ", expected " << Hex(expected);
        }
    }
    return ::testing::AssertionSuccess();
}

class Recorder : public WindowHandler {
  public:
    std::intptr_t OnMessage(const Message& m) override {
        messages.push_back(m);
        return 0;
    }
    std::vector<Message> messages;
};

class Gtk : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        backend_ = GtkBackend::Open().release();
        loop_ = backend_ ? new UiLoop(*backend_, SystemClock()) : nullptr;
    }
    static void TearDownTestSuite() {
        delete loop_;
        delete backend_;
        loop_ = nullptr;
        backend_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(backend_, nullptr) << "no display"; }
    void TearDown() override {
        // Windows go before the handlers the test body owned.
        for (WindowId w : windows_) {
            loop_->DestroyWindow(w);
        }
        windows_.clear();
        if (loop_) {
            Pump(100);
        }
    }

    // Runs the loop for a while so that GTK maps, draws and delivers.
    static void Pump(unsigned ms) {
        const std::uint64_t end = MonotonicMs() + ms;
        while (MonotonicMs() < end) {
            loop_->RunPending();
            backend_->Wait(10);
        }
    }
    template <typename Done>
    static bool PumpUntil(Done done, unsigned ms = 10000) {
        const std::uint64_t end = MonotonicMs() + ms;
        while (!done()) {
            if (MonotonicMs() >= end) {
                return false;
            }
            loop_->RunPending();
            backend_->Wait(10);
        }
        return true;
    }
    WindowId Show(Recorder& r, Rect rect, const Surface& frame, std::uint8_t alpha) {
        WindowDesc desc;
        desc.rect = rect;
        desc.title = L"Vokari test";
        const WindowId w = loop_->CreateWindow(desc, &r);
        windows_.push_back(w);
        loop_->Show(w);
        Pump(300);
        loop_->Present(w, frame.Pixels(), frame.Width(), frame.Height(), frame.StrideBytes(),
                       alpha);
        Pump(500);
        return w;
    }

    std::vector<WindowId> windows_;
    static GtkBackend* backend_;
    static UiLoop* loop_;
};

GtkBackend* Gtk::backend_ = nullptr;
UiLoop* Gtk::loop_ = nullptr;

TEST_F(Gtk, WithoutACompositorTransparentPixelsShowWhatLiesBelow) {
    ASSERT_FALSE(backend_->Composited());
    Surface frame(100, 100);
    Graphics(frame).FillRect({0, 0, 50, 100}, Brush::Solid(Color::Argb(0xFFFF0000)));
    Recorder r;
    Show(r, {50, 50, 150, 150}, frame, 255);
    const Frame screen = backend_->CaptureScreen({0, 0, 640, 480});
    ASSERT_EQ(screen.width, 640);
    EXPECT_TRUE(Near(screen.At(60, 60), 0xFF0000, 0)) << "the opaque half";
    EXPECT_TRUE(Near(screen.At(130, 60), 0xFFFFFF, 0))
        << "the transparent half is cut away: the white root shows, not black";
}

// Under a compositor the screen shows the frame blended over what lies
// below, per pixel and with the window's constant alpha; the window itself
// holds the premultiplied pixels the compositor blends.
TEST_F(Gtk, ACompositorBlendsPerPixelAndConstantAlpha) {
    const auto compositor = Spawn("xcompmgr", "xcompmgr -n");
    struct Stop {
        std::filesystem::path pid;
        ~Stop() { Kill(pid); }
    } stop{compositor};
    ASSERT_TRUE(PumpUntil([] { return backend_->Composited(); })) << "xcompmgr did not start";
    Surface frame(100, 100);
    {
        Graphics g(frame);
        g.FillRect({0, 0, 50, 100}, Brush::Solid(Color::Argb(0x80FF0000)));
        g.FillRect({50, 0, 50, 100}, Brush::Solid(Color::Argb(0xFFFFFFFF)));
    }
    Recorder a, b;
    const WindowId wa = Show(a, {50, 50, 150, 150}, frame, 255);
    const WindowId wb = Show(b, {300, 50, 400, 150}, frame, ConstantAlphaForTransparency(30));
    Pump(300);

    const Frame screen = backend_->CaptureScreen({0, 0, 640, 480});
    ASSERT_EQ(screen.width, 640);
    const std::uint32_t ground = screen.At(250, 300) & 0xFFFFFF;
    ASSERT_EQ(ground, 0x808080u) << "the compositor's own ground";
    // Premultiplied source over the ground: s + g * (1 - a).
    const auto over = [&](std::uint32_t premultiplied) {
        const int a = static_cast<int>(premultiplied >> 24);
        std::uint32_t out = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            const int s = static_cast<int>((premultiplied >> shift) & 0xFF);
            const int g = static_cast<int>((ground >> shift) & 0xFF);
            out |= static_cast<std::uint32_t>(s + g * (255 - a) / 255) << shift;
        }
        return out;
    };
    const struct {
        WindowId window;
        Point screenPoint;
        int x;
        std::uint32_t argb;  // what the window holds
    } cases[] = {
        {wa, {60, 90}, 10, 0x80800000},   // half red, premultiplied
        {wa, {120, 90}, 70, 0xFFFFFFFF},  // opaque white
        {wb, {310, 90}, 10, 0x59590000},  // half red at constant alpha 178
        {wb, {370, 90}, 70, 0xB2B2B2B2},  // white at constant alpha 178
    };
    for (const auto& c : cases) {
        EXPECT_TRUE(Near(screen.At(c.screenPoint.x, c.screenPoint.y) & 0xFFFFFF, over(c.argb), 2))
            << "on the screen at " << c.screenPoint.x;
        Screenshot window;
        ASSERT_TRUE(window.Take(backend_->NativeHandle(c.window)));
        EXPECT_EQ(Hex(window.Argb(c.x, 40)), Hex(c.argb)) << "in the window at " << c.x;
    }
    EXPECT_EQ(Hex(screen.At(60, 90) & 0xFFFFFF), "0xc04040") << "half red over grey";
}

TEST_F(Gtk, AnInjectedClickArrivesAsTheButtonMessagesAtThePoint) {
    Surface frame(120, 80);
    Graphics(frame).Clear(Color::Argb(0xFF2040A0));
    Recorder r;
    const WindowId w = Show(r, {200, 150, 320, 230}, frame, 255);
    ASSERT_EQ(Shell("xdotool mousemove 230 170 click 1"), 0);
    ASSERT_TRUE(PumpUntil([&] {
        for (const Message& m : r.messages) {
            if (m.id == msg::kLButtonUp) {
                return true;
            }
        }
        return false;
    }));
    bool down = false;
    for (const Message& m : r.messages) {
        if (m.id == msg::kLButtonDown) {
            down = true;
            EXPECT_EQ(msg::PointParamX(m.lParam), 30);
            EXPECT_EQ(msg::PointParamY(m.lParam), 20);
            EXPECT_EQ(m.wParam & msg::kMkLButton, msg::kMkLButton);
        }
    }
    EXPECT_TRUE(down);
    EXPECT_EQ(loop_->ActiveWindow(), w);
    EXPECT_EQ(loop_->HorizontalDpi() > 0, true);
    EXPECT_EQ(loop_->ScreenSize(), (Size{640, 480}));
}

}  // namespace
