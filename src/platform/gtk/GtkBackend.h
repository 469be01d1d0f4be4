#pragma once
// The windowing backend on GTK 3: undecorated GDK windows on an RGBA visual
// that show presented frames with their per-pixel and constant alpha, GTK's
// main loop, its input method and clipboard. Without a compositor a window
// is cut to the shape of its opaque pixels, so transparency never shows as
// garbage. Only the loop's thread may use it, except Wake.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/UiBackend.h"

namespace platform {

class GtkBackend final : public UiBackend {
  public:
    // Null when no display can be opened (no $DISPLAY, or no server there).
    static std::unique_ptr<GtkBackend> Open();
    ~GtkBackend() override;

    void SetEventSink(EventSink sink) override;
    void Wait(int timeoutMs) override;
    void Wake() override;
    void CreateWindow(WindowId id, const WindowState& state) override;
    void DestroyWindow(WindowId id) override;
    void UpdateWindow(WindowId id, const WindowState& state) override;
    void Present(WindowId id, const Frame& frame) override;
    void SetCapture(WindowId id) override;
    void StartTextInput(WindowId id, const Rect& candidate) override;
    void StopTextInput(WindowId id) override;
    void SetClipboardText(const std::wstring& text) override;
    std::wstring ClipboardText() override;
    Size ScreenSize() override;
    int HorizontalDpi() override;

    // True while a compositing manager runs on the screen.
    bool Composited() const;
    // What the screen shows in area (opaque 0xFFRRGGBB), read back from
    // the server as one image of the root window.
    Frame CaptureScreen(const Rect& area) const;
    // The X window behind a window (0 when it has none yet), for tools.
    std::uint64_t NativeHandle(WindowId id) const;

    struct Impl;

  private:
    GtkBackend();
    std::unique_ptr<Impl> impl_;
};

// The virtual-key code of a GDK key value; 0 for keys without one.
std::uint32_t VirtualKeyFromGdk(unsigned keyval);

}  // namespace platform
