#pragma once
// A backend without a display, for tests: windows are records that keep
// their last presented frame; tests inject input in screen or window
// coordinates and read back what the windows show.
#include <map>
#include <mutex>
#include <optional>

#include "platform/thread/Event.h"
#include "platform/ui/UiBackend.h"

namespace platform {

class HeadlessBackend final : public UiBackend {
  public:
    HeadlessBackend();

    void SetEventSink(EventSink sink) override;
    void Wait(int timeoutMs) override;
    void Wake() override;
    void CreateWindow(WindowId id, const WindowState& state) override;
    void DestroyWindow(WindowId id) override;
    void UpdateWindow(WindowId id, const WindowState& state) override;
    void Present(WindowId id, const Frame& frame) override;
    void SetCapture(WindowId id) override { capture_ = id; }
    void StartTextInput(WindowId id, const Rect& candidate) override;
    void StopTextInput(WindowId id) override;
    void SetClipboardText(const std::wstring& text) override { clipboard_ = text; }
    std::wstring ClipboardText() override { return clipboard_; }
    Size ScreenSize() override { return screen_; }
    int HorizontalDpi() override { return dpi_; }

    // ---- what tests look at ----
    bool Exists(WindowId id) const { return windows_.count(id) != 0; }
    const WindowState* State(WindowId id) const;
    // The last frame the window presented, if any.
    const Frame* LastFrame(WindowId id) const;
    int PresentCount(WindowId id) const;
    WindowId CaptureWindow() const { return capture_; }
    WindowId TextInputWindow() const { return textInput_; }
    Rect CandidateRect() const { return candidate_; }
    void SetScreen(Size size, int dpi) {
        screen_ = size;
        dpi_ = dpi;
    }

    // ---- input, delivered at once on the calling (loop) thread ----
    void Inject(const InputEvent& event);
    // The topmost visible window at a screen point (0 when none); later
    // shown windows lie above earlier ones, topmost ones above all others.
    WindowId WindowAt(Point screen) const;
    // Press and release at a screen point, on whatever window lies there.
    void Click(Point screen, MouseButton button = MouseButton::Left);
    void Press(Point screen, MouseButton button = MouseButton::Left);
    void Release(Point screen, MouseButton button = MouseButton::Left);
    void Move(Point screen);
    void Wheel(Point screen, int steps);
    void Key(std::uint32_t vk, bool down = true);
    void Type(const std::wstring& text);

  private:
    struct Record {
        WindowState state;
        std::optional<Frame> frame;
        int presents = 0;
        std::uint64_t raised = 0;
    };
    void MouseAt(InputKind kind, Point screen, MouseButton button, int steps);

    EventSink sink_;
    Event wake_;
    std::map<WindowId, Record> windows_;
    std::uint64_t raiseCounter_ = 0;
    WindowId capture_ = 0;
    WindowId textInput_ = 0;
    WindowId hovered_ = 0;
    WindowId grab_ = 0;
    int held_ = 0;
    Rect candidate_;
    std::wstring clipboard_;
    Size screen_{1920, 1080};
    int dpi_ = 96;
};

}  // namespace platform
