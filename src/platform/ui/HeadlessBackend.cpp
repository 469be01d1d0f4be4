#include "platform/ui/HeadlessBackend.h"

namespace platform {

HeadlessBackend::HeadlessBackend() : wake_(Event::Mode::AutoReset) {}

void HeadlessBackend::SetEventSink(EventSink sink) {
    sink_ = std::move(sink);
}

void HeadlessBackend::Wait(int timeoutMs) {
    wake_.Wait(timeoutMs);
}

void HeadlessBackend::Wake() {
    wake_.Set();
}

void HeadlessBackend::CreateWindow(WindowId id, const WindowState& state) {
    windows_[id].state = state;
}

void HeadlessBackend::DestroyWindow(WindowId id) {
    windows_.erase(id);
    if (capture_ == id) {
        capture_ = 0;
    }
    if (hovered_ == id) {
        hovered_ = 0;
    }
    if (grab_ == id) {
        grab_ = 0;
    }
    if (textInput_ == id) {
        textInput_ = 0;
    }
}

void HeadlessBackend::UpdateWindow(WindowId id, const WindowState& state) {
    const auto it = windows_.find(id);
    if (it == windows_.end()) {
        return;
    }
    if (state.visible && !it->second.state.visible) {
        it->second.raised = ++raiseCounter_;
    }
    it->second.state = state;
}

void HeadlessBackend::Present(WindowId id, const Frame& frame) {
    const auto it = windows_.find(id);
    if (it != windows_.end()) {
        it->second.frame = frame;
        ++it->second.presents;
    }
}

void HeadlessBackend::StartTextInput(WindowId id, const Rect& candidate) {
    textInput_ = id;
    candidate_ = candidate;
}

void HeadlessBackend::StopTextInput(WindowId id) {
    if (textInput_ == id) {
        textInput_ = 0;
    }
}

const WindowState* HeadlessBackend::State(WindowId id) const {
    const auto it = windows_.find(id);
    return it == windows_.end() ? nullptr : &it->second.state;
}

const Frame* HeadlessBackend::LastFrame(WindowId id) const {
    const auto it = windows_.find(id);
    return it == windows_.end() || !it->second.frame ? nullptr : &*it->second.frame;
}

int HeadlessBackend::PresentCount(WindowId id) const {
    const auto it = windows_.find(id);
    return it == windows_.end() ? 0 : it->second.presents;
}

void HeadlessBackend::Inject(const InputEvent& event) {
    if (sink_) {
        sink_(event);
    }
}

WindowId HeadlessBackend::WindowAt(Point screen) const {
    WindowId best = 0;
    std::pair<bool, std::uint64_t> bestOrder{false, 0};
    for (const auto& [id, record] : windows_) {
        if (!record.state.visible || !record.state.desc.rect.Contains(screen)) {
            continue;
        }
        const std::pair<bool, std::uint64_t> order{record.state.desc.topmost, record.raised};
        if (best == 0 || order > bestOrder) {
            best = id;
            bestOrder = order;
        }
    }
    return best;
}

void HeadlessBackend::MouseAt(InputKind kind, Point screen, MouseButton button, int steps) {
    // Under a capture the pointer belongs to the capturing window wherever
    // it is; while a button is held, to the window it was pressed in (the
    // implicit grab of a press).
    WindowId window = capture_ ? capture_ : (grab_ ? grab_ : WindowAt(screen));
    if (kind == InputKind::ButtonDown) {
        if (!grab_) {
            grab_ = window;
        }
        ++held_;
    } else if (kind == InputKind::ButtonUp && held_ > 0 && --held_ == 0) {
        grab_ = 0;
    }
    if (kind == InputKind::MouseMove && hovered_ && hovered_ != window) {
        InputEvent leave;
        leave.kind = InputKind::MouseLeave;
        leave.window = hovered_;
        Inject(leave);
    }
    if (kind == InputKind::MouseMove) {
        hovered_ = window;
    }
    if (!window || !Exists(window)) {
        return;
    }
    const Rect r = windows_.at(window).state.desc.rect;
    InputEvent e;
    e.kind = kind;
    e.window = window;
    e.position = {screen.x - r.left, screen.y - r.top};
    e.button = button;
    e.wheelSteps = steps;
    Inject(e);
}

void HeadlessBackend::Press(Point screen, MouseButton button) {
    MouseAt(InputKind::ButtonDown, screen, button, 0);
}

void HeadlessBackend::Release(Point screen, MouseButton button) {
    MouseAt(InputKind::ButtonUp, screen, button, 0);
}

void HeadlessBackend::Click(Point screen, MouseButton button) {
    Press(screen, button);
    Release(screen, button);
}

void HeadlessBackend::Move(Point screen) {
    MouseAt(InputKind::MouseMove, screen, {}, 0);
}

void HeadlessBackend::Wheel(Point screen, int steps) {
    MouseAt(InputKind::Wheel, screen, {}, steps);
}

void HeadlessBackend::Key(std::uint32_t vk, bool down) {
    InputEvent e;
    e.kind = down ? InputKind::KeyDown : InputKind::KeyUp;
    e.key = vk;
    Inject(e);
}

void HeadlessBackend::Type(const std::wstring& text) {
    InputEvent e;
    e.kind = InputKind::Text;
    e.text = text;
    Inject(e);
}

}  // namespace platform
