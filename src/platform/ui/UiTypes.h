#pragma once
// Plain types of the user-interface layer: window handles, geometry, the
// input events a backend reports and the frames a window presents.
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A window handle: never reused within a process, so a handle that outlives
// its window names nothing (messages to it are dropped). 0 is no window.
using WindowId = std::uint64_t;

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(Point p) const {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }
    bool operator==(const Rect&) const = default;
};

enum class WindowKind {
    TopLevel,  // a skinned dialog; takes activation
    Popup,     // drop-downs and menus: activates, hidden by its host when deactivated
    ToolTip,   // never activates, never takes input focus
};

enum class CursorKind {
    Arrow,
    Hand,
    IBeam,
    Wait,
    Cross,
    SizeAll,
    SizeWE,
    SizeNS,
    UpArrow,
    No,
    None
};

struct WindowDesc {
    WindowKind kind = WindowKind::TopLevel;
    WindowId owner = 0;
    Rect rect{0, 0, 100, 100};  // screen coordinates
    std::wstring title;
    bool topmost = false;
};

// Mouse buttons as the message numbers count them.
enum class MouseButton { Left, Right, Middle };

enum class InputKind {
    MouseMove,
    ButtonDown,
    ButtonUp,
    Wheel,
    MouseLeave,
    KeyDown,
    KeyUp,
    Text,         // committed text (one character message each)
    Composition,  // input-method pre-edit text and cursor
    CompositionEnd,
    AppFocusIn,    // our application became the active one
    AppFocusOut,   // another application became active
    CloseRequest,  // the window manager asks the window to close
    Moved,         // the window manager moved the window
};

// What a backend reports. Positions are in the window's own coordinates;
// screen positions come from the window's rectangle.
struct InputEvent {
    InputKind kind = InputKind::MouseMove;
    WindowId window = 0;
    Point position;
    MouseButton button = MouseButton::Left;
    int wheelSteps = 0;     // positive away from the user
    std::uint32_t key = 0;  // virtual-key code
    bool repeat = false;    // a key held down
    std::uint32_t modifiers = 0;
    std::wstring text;  // Text and Composition
    int cursor = 0;     // caret inside the composition
};

enum Modifier : std::uint32_t {
    kModShift = 1,
    kModControl = 2,
    kModAlt = 4,
};

// A premultiplied ARGB32 picture, rows top-down (the layout of a 32-bit
// top-down DIB and of a Cairo image surface).
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint8_t constantAlpha = 255;

    std::uint32_t At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    // The pixel as the screen receives it: every channel scaled by the
    // constant alpha, as a layered window with per-pixel and constant alpha.
    std::uint32_t Composed(int x, int y) const;
};

// The constant alpha of a window drawn with a transparency percentage
// (0 opaque .. 100 invisible); values outside 0..100 are clamped.
std::uint8_t ConstantAlphaForTransparency(int percent);

}  // namespace platform
