#pragma once
// The user-interface thread's message loop: windows addressed by handles,
// messages posted from any thread or sent synchronously, closures run on
// the loop's thread, per-window timers on the layer's clock, nested modal
// loops, activation, mouse capture and dragging. Everything but Post, Send,
// PostTask, Wake and IsWindow must be called on the loop's own thread.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/ui/UiBackend.h"
#include "platform/ui/UiMessages.h"
#include "platform/ui/UiTypes.h"

namespace platform {

struct Message {
    WindowId window = 0;
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The code behind one window.
class WindowHandler {
  public:
    virtual ~WindowHandler() = default;
    virtual std::intptr_t OnMessage(const Message& message) = 0;
};

class UiLoop {
  public:
    // Modal result when a loop is unwound without a result of its own.
    static constexpr int kModalCancel = 2;
    static constexpr unsigned kDoubleClickMs = 500;
    static constexpr int kDoubleClickDistance = 4;

    UiLoop(UiBackend& backend, Clock& clock);
    ~UiLoop();
    UiLoop(const UiLoop&) = delete;
    UiLoop& operator=(const UiLoop&) = delete;

    // ---- windows ----
    WindowId CreateWindow(const WindowDesc& desc, WindowHandler* handler);
    // Safe from inside the window's own handler; pending messages and
    // timers of the window are dropped.
    void DestroyWindow(WindowId window);
    bool IsWindow(WindowId window) const;  // any thread
    void SetRect(WindowId window, const Rect& rect);
    Rect GetRect(WindowId window) const;
    void Show(WindowId window, bool activate = true);
    void Hide(WindowId window);
    bool IsVisible(WindowId window) const;
    void SetTopmost(WindowId window, bool topmost);
    void SetTitle(WindowId window, const std::wstring& title);
    void Enable(WindowId window, bool enabled);
    bool IsEnabled(WindowId window) const;
    WindowId Owner(WindowId window) const;
    WindowKind Kind(WindowId window) const;
    void SetCursor(WindowId window, CursorKind cursor);
    CursorKind Cursor(WindowId window) const;
    // Shows pixels (premultiplied ARGB32, top-down) with a constant alpha.
    void Present(WindowId window, const std::uint32_t* pixels, int width, int height,
                 int strideBytes, std::uint8_t constantAlpha);

    // ---- activation ----
    WindowId ActiveWindow() const { return active_; }
    void Activate(WindowId window);

    // ---- mouse ----
    void SetCapture(WindowId window);
    void ReleaseCapture();
    WindowId Capture() const { return capture_; }
    // Moves the window with the pointer until the left button goes up.
    void BeginDrag(WindowId window);
    bool Dragging() const { return drag_.window != 0; }
    Point CursorScreenPosition() const { return pointer_; }

    // ---- text input, clipboard, screen ----
    void StartTextInput(WindowId window, const Rect& candidate);
    void StopTextInput(WindowId window);
    const std::wstring& CompositionText() const { return composition_; }
    void SetClipboardText(const std::wstring& text);
    std::wstring ClipboardText();
    Size ScreenSize();
    int HorizontalDpi();

    // ---- messages (any thread) ----
    // False when the window is gone; the message is then dropped.
    bool Post(WindowId window, std::uint32_t id, std::uintptr_t wParam = 0,
              std::intptr_t lParam = 0);
    // Calls the handler and returns its result; from another thread it
    // waits until the loop has handled the message. 0 for a dead window,
    // and when the loop ends before handling it.
    std::intptr_t Send(WindowId window, std::uint32_t id, std::uintptr_t wParam = 0,
                       std::intptr_t lParam = 0);
    void PostTask(std::function<void()> task);
    void Wake();

    // ---- timers (clock of the loop) ----
    void SetTimer(WindowId window, std::uintptr_t id, unsigned intervalMs);
    void KillTimer(WindowId window, std::uintptr_t id);

    // ---- loops ----
    // Runs a nested loop until EndModal(window) or Quit. While it runs the
    // window's owner is disabled (input to it is dropped; posted messages
    // and timers still reach it); the owner is enabled again on return.
    int RunModal(WindowId window);
    // Ends the loop of window; loops nested inside it end too, with
    // kModalCancel unless they were given a result of their own.
    void EndModal(WindowId window, int result);
    bool InModal(WindowId window) const;
    int ModalDepth() const { return static_cast<int>(modal_.size()); }
    // Ends every loop (Run and all modal loops); they return innermost first.
    void Quit(int code = 0);
    bool Quitting() const { return quitting_; }
    int Run();
    // Handles everything that is due now without waiting; true if anything
    // was handled.
    bool RunPending();

    // ---- input from the backend ----
    void DispatchInput(const InputEvent& event);

    Clock& GetClock() const { return clock_; }
    bool OnLoopThread() const { return std::this_thread::get_id() == thread_; }

  private:
    struct Window {
        WindowState state;
        WindowHandler* handler = nullptr;
        int disableCount = 0;
    };
    struct Timer {
        WindowId window;
        std::uintptr_t id;
        unsigned interval;
        std::uint64_t due;
    };
    struct Pending {
        Message message;
        std::function<void()> task;
        std::shared_ptr<struct SendState> send;
    };
    struct ModalFrame {
        WindowId window;
        bool ended = false;
        int result = kModalCancel;
    };
    struct Press {
        WindowId window = 0;
        MouseButton button = MouseButton::Left;
        Point position;
        std::uint64_t time = 0;
        bool wasDouble = false;
    };
    struct Drag {
        WindowId window = 0;
        Point start;
        Rect startRect;
    };

    Window* Find(WindowId window);
    const Window* Find(WindowId window) const;
    std::intptr_t Deliver(const Message& message);
    bool RunOne(bool wait, const std::function<bool()>& stop);
    bool FireDueTimers();
    int NextTimeoutMs() const;
    void SendActivate(WindowId window, bool active);
    std::uintptr_t ButtonState() const;
    void DispatchMouse(const InputEvent& event);
    void UpdateBackend(WindowId window);

    UiBackend& backend_;
    Clock& clock_;
    std::thread::id thread_;

    std::map<WindowId, Window> windows_;
    WindowId nextId_ = 1;
    mutable std::mutex mutex_;  // guards queue_, live_ and send states
    std::deque<Pending> queue_;
    std::map<WindowId, bool> live_;

    std::vector<Timer> timers_;
    std::vector<ModalFrame> modal_;
    bool quitting_ = false;
    int quitCode_ = 0;

    WindowId active_ = 0;
    WindowId capture_ = 0;
    WindowId hover_ = 0;
    Point pointer_;
    Press lastPress_;
    std::uint32_t buttons_ = 0;
    std::uint32_t modifiers_ = 0;
    Drag drag_;
    std::wstring composition_;
    bool composing_ = false;
};

}  // namespace platform
