#pragma once
// What a windowing backend does: keep native windows in step with the
// layer's records, show presented frames, wait for native events and report
// them as InputEvents. The loop in UiLoop owns messages, timers, modal
// state, activation, capture and dragging; a backend holds no such logic.
#include <functional>
#include <string>

#include "platform/ui/UiTypes.h"

namespace platform {

struct WindowState {
    WindowDesc desc;
    bool visible = false;
    bool enabled = true;
    CursorKind cursor = CursorKind::Arrow;
};

class UiBackend {
  public:
    using EventSink = std::function<void(const InputEvent&)>;
    virtual ~UiBackend() = default;

    // The loop hands itself over before any other call.
    virtual void SetEventSink(EventSink sink) = 0;
    // Blocks until Wake, a native event (reported through the sink before
    // returning) or the time-out; timeoutMs < 0 waits without limit.
    virtual void Wait(int timeoutMs) = 0;
    // Any thread.
    virtual void Wake() = 0;

    virtual void CreateWindow(WindowId id, const WindowState& state) = 0;
    virtual void DestroyWindow(WindowId id) = 0;
    // Rectangle, visibility, topmost, title and cursor changed.
    virtual void UpdateWindow(WindowId id, const WindowState& state) = 0;
    virtual void Present(WindowId id, const Frame& frame) = 0;

    virtual void SetCapture(WindowId id) = 0;  // 0 releases
    virtual void StartTextInput(WindowId id, const Rect& candidate) = 0;
    virtual void StopTextInput(WindowId id) = 0;
    virtual void SetClipboardText(const std::wstring& text) = 0;
    virtual std::wstring ClipboardText() = 0;
    virtual Size ScreenSize() = 0;
    // Horizontal dots per inch; 96 when the display reports none.
    virtual int HorizontalDpi() = 0;
};

}  // namespace platform
