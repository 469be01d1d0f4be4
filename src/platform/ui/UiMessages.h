#pragma once
// Message numbers the windows of the program exchange, with the numbers the
// program's hosts already use for them, and the packing of coordinates into
// the parameters.
#include <cstdint>

#include "platform/ui/UiTypes.h"

namespace platform::msg {

constexpr std::uint32_t kActivate = 6;  // wParam 0 inactive, 1 active
constexpr std::uint32_t kClose = 16;
constexpr std::uint32_t kKeyDown = 256;  // wParam virtual key, lParam repeat | flags
constexpr std::uint32_t kKeyUp = 257;
constexpr std::uint32_t kChar = 258;  // wParam the character
constexpr std::uint32_t kImeStartComposition = 269;
constexpr std::uint32_t kImeEndComposition = 270;
constexpr std::uint32_t kImeComposition = 271;  // wParam caret; text from UiLoop
constexpr std::uint32_t kCommand = 273;         // wParam the command id
constexpr std::uint32_t kSysCommand = 274;      // wParam kScClose
constexpr std::uint32_t kTimer = 275;           // wParam the timer id
constexpr std::uint32_t kMouseMove = 512;
constexpr std::uint32_t kLButtonDown = 513;
constexpr std::uint32_t kLButtonUp = 514;
constexpr std::uint32_t kLButtonDblClk = 515;
constexpr std::uint32_t kRButtonDown = 516;
constexpr std::uint32_t kRButtonUp = 517;
constexpr std::uint32_t kRButtonDblClk = 518;
constexpr std::uint32_t kMButtonDown = 519;
constexpr std::uint32_t kMButtonUp = 520;
constexpr std::uint32_t kMButtonDblClk = 521;
constexpr std::uint32_t kMouseWheel = 522;  // wParam high word delta; lParam screen point
constexpr std::uint32_t kMouseLeave = 675;
// The first number free for the program's own messages.
constexpr std::uint32_t kUser = 1024;

constexpr std::uintptr_t kScClose = 0xF060;
constexpr int kWheelDelta = 120;

// Key state flags in the wParam of mouse messages.
constexpr std::uintptr_t kMkLButton = 0x0001;
constexpr std::uintptr_t kMkRButton = 0x0002;
constexpr std::uintptr_t kMkShift = 0x0004;
constexpr std::uintptr_t kMkControl = 0x0008;
constexpr std::uintptr_t kMkMButton = 0x0010;

// Two signed 16-bit coordinates, x in the low word.
constexpr std::intptr_t MakePointParam(int x, int y) {
    return static_cast<std::intptr_t>(
        (static_cast<std::uint32_t>(static_cast<std::uint16_t>(y)) << 16) |
        static_cast<std::uint16_t>(x));
}
constexpr int PointParamX(std::intptr_t lParam) {
    return static_cast<std::int16_t>(static_cast<std::uint32_t>(lParam) & 0xFFFF);
}
constexpr int PointParamY(std::intptr_t lParam) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(lParam) >> 16) & 0xFFFF);
}
constexpr int WheelDelta(std::uintptr_t wParam) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(wParam) >> 16) & 0xFFFF);
}

}  // namespace platform::msg

namespace platform::vk {
// Virtual-key codes the hosts test for.
constexpr std::uint32_t kBack = 0x08;
constexpr std::uint32_t kTab = 0x09;
constexpr std::uint32_t kReturn = 0x0D;
constexpr std::uint32_t kShift = 0x10;
constexpr std::uint32_t kControl = 0x11;
constexpr std::uint32_t kMenu = 0x12;
constexpr std::uint32_t kEscape = 0x1B;
constexpr std::uint32_t kSpace = 0x20;
constexpr std::uint32_t kPrior = 0x21;
constexpr std::uint32_t kNext = 0x22;
constexpr std::uint32_t kEnd = 0x23;
constexpr std::uint32_t kHome = 0x24;
constexpr std::uint32_t kLeft = 0x25;
constexpr std::uint32_t kUp = 0x26;
constexpr std::uint32_t kRight = 0x27;
constexpr std::uint32_t kDown = 0x28;
constexpr std::uint32_t kInsert = 0x2D;
constexpr std::uint32_t kDelete = 0x2E;
constexpr std::uint32_t kF1 = 0x70;
// '0'..'9' and 'A'..'Z' are their ASCII codes.
}  // namespace platform::vk
