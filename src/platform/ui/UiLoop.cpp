#include "platform/ui/UiLoop.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace platform {

struct SendState {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::intptr_t result = 0;

    void Finish(std::intptr_t value) {
        {
            std::lock_guard lock(mutex);
            finished = true;
            result = value;
        }
        done.notify_all();
    }
};

std::uint32_t Frame::Composed(int x, int y) const {
    const std::uint32_t p = At(x, y);
    std::uint32_t out = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::uint32_t c = (p >> shift) & 0xFF;
        out |= ((c * constantAlpha + 127) / 255) << shift;
    }
    return out;
}

std::uint8_t ConstantAlphaForTransparency(int percent) {
    const int t = std::clamp(percent, 0, 100);
    return static_cast<std::uint8_t>((100 - t) * 255 / 100);
}

UiLoop::UiLoop(UiBackend& backend, Clock& clock)
    : backend_(backend), clock_(clock), thread_(std::this_thread::get_id()) {
    backend_.SetEventSink([this](const InputEvent& event) { DispatchInput(event); });
}

UiLoop::~UiLoop() {
    std::deque<Pending> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(queue_);
        live_.clear();
    }
    for (Pending& p : left) {
        if (p.send) {
            p.send->Finish(0);
        }
    }
    for (const auto& [id, window] : windows_) {
        backend_.DestroyWindow(id);
    }
    backend_.SetEventSink(nullptr);
}

UiLoop::Window* UiLoop::Find(WindowId window) {
    const auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

const UiLoop::Window* UiLoop::Find(WindowId window) const {
    const auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : &it->second;
}

// ---- windows ----

WindowId UiLoop::CreateWindow(const WindowDesc& desc, WindowHandler* handler) {
    const WindowId id = nextId_++;
    Window& w = windows_[id];
    w.state.desc = desc;
    w.handler = handler;
    {
        std::lock_guard lock(mutex_);
        live_[id] = true;
    }
    backend_.CreateWindow(id, w.state);
    return id;
}

void UiLoop::DestroyWindow(WindowId window) {
    if (!Find(window)) {
        return;
    }
    std::deque<Pending> dropped;
    {
        std::lock_guard lock(mutex_);
        live_.erase(window);
        for (auto it = queue_.begin(); it != queue_.end();) {
            if (!it->task && it->message.window == window) {
                dropped.push_back(std::move(*it));
                it = queue_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (Pending& p : dropped) {
        if (p.send) {
            p.send->Finish(0);
        }
    }
    std::erase_if(timers_, [&](const Timer& t) { return t.window == window; });
    if (capture_ == window) {
        ReleaseCapture();
    }
    if (drag_.window == window) {
        drag_ = {};
    }
    if (hover_ == window) {
        hover_ = 0;
    }
    if (lastPress_.window == window) {
        lastPress_ = {};
    }
    const bool wasActive = active_ == window;
    if (wasActive) {
        active_ = 0;
    }
    windows_.erase(window);
    backend_.DestroyWindow(window);
    for (const ModalFrame& frame : modal_) {
        if (frame.window == window && !frame.ended) {
            EndModal(window, kModalCancel);
            break;
        }
    }
}

bool UiLoop::IsWindow(WindowId window) const {
    std::lock_guard lock(mutex_);
    return live_.count(window) != 0;
}

void UiLoop::UpdateBackend(WindowId window) {
    if (const Window* w = Find(window)) {
        backend_.UpdateWindow(window, w->state);
    }
}

void UiLoop::SetRect(WindowId window, const Rect& rect) {
    if (Window* w = Find(window)) {
        w->state.desc.rect = rect;
        UpdateBackend(window);
    }
}

Rect UiLoop::GetRect(WindowId window) const {
    const Window* w = Find(window);
    return w ? w->state.desc.rect : Rect{};
}

void UiLoop::Show(WindowId window, bool activate) {
    Window* w = Find(window);
    if (!w) {
        return;
    }
    w->state.visible = true;
    UpdateBackend(window);
    if (activate && w->state.desc.kind != WindowKind::ToolTip) {
        Activate(window);
    }
}

void UiLoop::Hide(WindowId window) {
    Window* w = Find(window);
    if (!w || !w->state.visible) {
        return;
    }
    w->state.visible = false;
    const WindowId owner = w->state.desc.owner;
    UpdateBackend(window);
    if (active_ == window) {
        active_ = 0;
        SendActivate(window, false);
        if (IsVisible(owner) && IsEnabled(owner) && active_ == 0) {
            Activate(owner);
        }
    }
}

bool UiLoop::IsVisible(WindowId window) const {
    const Window* w = Find(window);
    return w && w->state.visible;
}

void UiLoop::SetTopmost(WindowId window, bool topmost) {
    if (Window* w = Find(window)) {
        w->state.desc.topmost = topmost;
        UpdateBackend(window);
    }
}

void UiLoop::SetTitle(WindowId window, const std::wstring& title) {
    if (Window* w = Find(window)) {
        w->state.desc.title = title;
        UpdateBackend(window);
    }
}

void UiLoop::Enable(WindowId window, bool enabled) {
    if (Window* w = Find(window)) {
        w->state.enabled = enabled;
        UpdateBackend(window);
    }
}

bool UiLoop::IsEnabled(WindowId window) const {
    const Window* w = Find(window);
    return w && w->state.enabled && w->disableCount == 0;
}

WindowId UiLoop::Owner(WindowId window) const {
    const Window* w = Find(window);
    return w ? w->state.desc.owner : 0;
}

WindowKind UiLoop::Kind(WindowId window) const {
    const Window* w = Find(window);
    return w ? w->state.desc.kind : WindowKind::TopLevel;
}

void UiLoop::SetCursor(WindowId window, CursorKind cursor) {
    Window* w = Find(window);
    if (w && w->state.cursor != cursor) {
        w->state.cursor = cursor;
        UpdateBackend(window);
    }
}

CursorKind UiLoop::Cursor(WindowId window) const {
    const Window* w = Find(window);
    return w ? w->state.cursor : CursorKind::Arrow;
}

void UiLoop::Present(WindowId window, const std::uint32_t* pixels, int width, int height,
                     int strideBytes, std::uint8_t constantAlpha) {
    if (!Find(window) || !pixels || width <= 0 || height <= 0 ||
        strideBytes < width * static_cast<int>(sizeof(std::uint32_t))) {
        return;
    }
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.constantAlpha = constantAlpha;
    frame.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const auto* bytes = reinterpret_cast<const unsigned char*>(pixels);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(
            bytes + static_cast<std::size_t>(y) * static_cast<std::size_t>(strideBytes));
        std::copy(row, row + width, frame.pixels.begin() + static_cast<std::ptrdiff_t>(y) * width);
    }
    backend_.Present(window, frame);
}

// ---- activation ----

void UiLoop::SendActivate(WindowId window, bool active) {
    Deliver({window, msg::kActivate, active ? 1u : 0u, 0});
}

void UiLoop::Activate(WindowId window) {
    const Window* w = Find(window);
    if (!w || window == active_ || w->state.desc.kind == WindowKind::ToolTip) {
        return;
    }
    const WindowId old = active_;
    active_ = window;
    if (old) {
        SendActivate(old, false);
    }
    if (active_ == window) {
        SendActivate(window, true);
    }
}

// ---- mouse ----

void UiLoop::SetCapture(WindowId window) {
    if (!Find(window)) {
        return;
    }
    capture_ = window;
    backend_.SetCapture(window);
}

void UiLoop::ReleaseCapture() {
    if (capture_) {
        capture_ = 0;
        backend_.SetCapture(0);
    }
}

void UiLoop::BeginDrag(WindowId window) {
    if (!Find(window) || !(buttons_ & msg::kMkLButton)) {
        return;
    }
    drag_.window = window;
    drag_.start = pointer_;
    drag_.startRect = GetRect(window);
}

// ---- text input, clipboard, screen ----

void UiLoop::StartTextInput(WindowId window, const Rect& candidate) {
    if (Find(window)) {
        backend_.StartTextInput(window, candidate);
    }
}

void UiLoop::StopTextInput(WindowId window) {
    if (Find(window)) {
        backend_.StopTextInput(window);
    }
}

void UiLoop::SetClipboardText(const std::wstring& text) {
    backend_.SetClipboardText(text);
}
std::wstring UiLoop::ClipboardText() {
    return backend_.ClipboardText();
}
Size UiLoop::ScreenSize() {
    return backend_.ScreenSize();
}
int UiLoop::HorizontalDpi() {
    const int dpi = backend_.HorizontalDpi();
    return dpi > 0 ? dpi : 96;
}

// ---- messages ----

bool UiLoop::Post(WindowId window, std::uint32_t id, std::uintptr_t wParam, std::intptr_t lParam) {
    {
        std::lock_guard lock(mutex_);
        if (!live_.count(window)) {
            return false;
        }
        queue_.push_back({{window, id, wParam, lParam}, nullptr, nullptr});
    }
    backend_.Wake();
    return true;
}

std::intptr_t UiLoop::Send(WindowId window, std::uint32_t id, std::uintptr_t wParam,
                           std::intptr_t lParam) {
    if (OnLoopThread()) {
        return Deliver({window, id, wParam, lParam});
    }
    auto state = std::make_shared<SendState>();
    {
        std::lock_guard lock(mutex_);
        if (!live_.count(window)) {
            return 0;
        }
        // Sent messages go ahead of posted ones, as the caller is waiting.
        queue_.push_front({{window, id, wParam, lParam}, nullptr, state});
    }
    backend_.Wake();
    std::unique_lock lock(state->mutex);
    state->done.wait(lock, [&] { return state->finished; });
    return state->result;
}

void UiLoop::PostTask(std::function<void()> task) {
    if (!task) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({{}, std::move(task), nullptr});
    }
    backend_.Wake();
}

void UiLoop::Wake() {
    backend_.Wake();
}

std::intptr_t UiLoop::Deliver(const Message& message) {
    Window* w = Find(message.window);
    if (!w || !w->handler) {
        return 0;
    }
    return w->handler->OnMessage(message);
}

// ---- timers ----

void UiLoop::SetTimer(WindowId window, std::uintptr_t id, unsigned intervalMs) {
    if (!Find(window)) {
        return;
    }
    const unsigned interval = std::max(intervalMs, 1u);
    const std::uint64_t due = clock_.NowMs() + interval;
    for (Timer& t : timers_) {
        if (t.window == window && t.id == id) {
            t.interval = interval;
            t.due = due;
            return;
        }
    }
    timers_.push_back({window, id, interval, due});
}

void UiLoop::KillTimer(WindowId window, std::uintptr_t id) {
    std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
}

bool UiLoop::FireDueTimers() {
    const std::uint64_t now = clock_.NowMs();
    std::vector<std::pair<WindowId, std::uintptr_t>> due;
    for (const Timer& t : timers_) {
        if (t.due <= now) {
            due.emplace_back(t.window, t.id);
        }
    }
    for (const auto& entry : due) {
        const WindowId window = entry.first;
        const std::uintptr_t id = entry.second;
        // A handler may have killed or reset this timer meanwhile.
        auto it = std::find_if(timers_.begin(), timers_.end(),
                               [&](const Timer& t) { return t.window == window && t.id == id; });
        if (it == timers_.end() || it->due > now) {
            continue;
        }
        // Late timers fire once, not once per missed interval.
        it->due = now + it->interval;
        Deliver({window, msg::kTimer, id, 0});
    }
    return !due.empty();
}

int UiLoop::NextTimeoutMs() const {
    if (timers_.empty()) {
        return -1;
    }
    std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
    for (const Timer& t : timers_) {
        next = std::min(next, t.due);
    }
    const std::uint64_t now = clock_.NowMs();
    if (next <= now) {
        return 0;
    }
    return static_cast<int>(std::min<std::uint64_t>(next - now, 1u << 30));
}

// ---- loops ----

bool UiLoop::RunOne(bool wait, const std::function<bool()>& stop) {
    bool handled = FireDueTimers();
    if (stop()) {
        return handled;
    }
    Pending next;
    bool have = false;
    {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
            next = std::move(queue_.front());
            queue_.pop_front();
            have = true;
        }
    }
    if (have) {
        if (next.task) {
            next.task();
        } else {
            const std::intptr_t result = Deliver(next.message);
            if (next.send) {
                next.send->Finish(result);
            }
        }
        return true;
    }
    if (!handled && wait) {
        backend_.Wait(NextTimeoutMs());
    }
    return handled;
}

bool UiLoop::RunPending() {
    bool any = false;
    const auto never = [] { return false; };
    // Bounded, so a handler that re-posts itself cannot hold the caller.
    for (int i = 0; i < 100000; ++i) {
        bool pending;
        {
            std::lock_guard lock(mutex_);
            pending = !queue_.empty();
        }
        if (!pending && NextTimeoutMs() != 0) {
            break;
        }
        if (!RunOne(false, never)) {
            break;
        }
        any = true;
    }
    return any;
}

int UiLoop::RunModal(WindowId window) {
    if (!Find(window) || quitting_) {
        return kModalCancel;
    }
    const std::size_t level = modal_.size();
    modal_.push_back({window});
    const WindowId owner = Owner(window);
    if (Window* o = Find(owner)) {
        ++o->disableCount;
        UpdateBackend(owner);
    }
    const auto ended = [&] { return modal_[level].ended; };
    while (!ended()) {
        RunOne(true, ended);
    }
    const int result = modal_[level].result;
    modal_.resize(level);
    if (Window* o = Find(owner)) {
        --o->disableCount;
        UpdateBackend(owner);
    }
    return result;
}

void UiLoop::EndModal(WindowId window, int result) {
    for (std::size_t i = modal_.size(); i-- > 0;) {
        if (modal_[i].window != window || modal_[i].ended) {
            continue;
        }
        modal_[i].ended = true;
        modal_[i].result = result;
        for (std::size_t j = i + 1; j < modal_.size(); ++j) {
            modal_[j].ended = true;
        }
        backend_.Wake();
        return;
    }
}

bool UiLoop::InModal(WindowId window) const {
    return std::any_of(modal_.begin(), modal_.end(),
                       [&](const ModalFrame& f) { return f.window == window && !f.ended; });
}

void UiLoop::Quit(int code) {
    quitting_ = true;
    quitCode_ = code;
    for (ModalFrame& frame : modal_) {
        frame.ended = true;
    }
    backend_.Wake();
}

int UiLoop::Run() {
    const auto stop = [this] { return quitting_; };
    while (!quitting_) {
        RunOne(true, stop);
    }
    return quitCode_;
}

// ---- input ----

std::uintptr_t UiLoop::ButtonState() const {
    std::uintptr_t state = buttons_;
    if (modifiers_ & kModShift) {
        state |= msg::kMkShift;
    }
    if (modifiers_ & kModControl) {
        state |= msg::kMkControl;
    }
    return state;
}

namespace {

std::uintptr_t ButtonFlag(MouseButton b) {
    switch (b) {
        case MouseButton::Left:
            return msg::kMkLButton;
        case MouseButton::Right:
            return msg::kMkRButton;
        case MouseButton::Middle:
            return msg::kMkMButton;
    }
    return 0;
}

std::uint32_t DownMessage(MouseButton b, bool twice) {
    switch (b) {
        case MouseButton::Left:
            return twice ? msg::kLButtonDblClk : msg::kLButtonDown;
        case MouseButton::Right:
            return twice ? msg::kRButtonDblClk : msg::kRButtonDown;
        case MouseButton::Middle:
            return twice ? msg::kMButtonDblClk : msg::kMButtonDown;
    }
    return msg::kLButtonDown;
}

std::uint32_t UpMessage(MouseButton b) {
    switch (b) {
        case MouseButton::Left:
            return msg::kLButtonUp;
        case MouseButton::Right:
            return msg::kRButtonUp;
        case MouseButton::Middle:
            return msg::kMButtonUp;
    }
    return msg::kLButtonUp;
}

}  // namespace

void UiLoop::DispatchMouse(const InputEvent& event) {
    const Rect source = GetRect(event.window);
    pointer_ = {source.left + event.position.x, source.top + event.position.y};

    if (drag_.window) {
        if (event.kind == InputKind::MouseMove) {
            const int dx = pointer_.x - drag_.start.x;
            const int dy = pointer_.y - drag_.start.y;
            SetRect(drag_.window, {drag_.startRect.left + dx, drag_.startRect.top + dy,
                                   drag_.startRect.right + dx, drag_.startRect.bottom + dy});
            return;
        }
        if (event.kind == InputKind::ButtonUp && event.button == MouseButton::Left) {
            buttons_ &= ~static_cast<std::uint32_t>(msg::kMkLButton);
            drag_ = {};
            return;
        }
    }

    const WindowId target = capture_ ? capture_ : event.window;
    const Rect targetRect = GetRect(target);
    const Point local{pointer_.x - targetRect.left, pointer_.y - targetRect.top};
    const std::intptr_t lParam = msg::MakePointParam(local.x, local.y);

    switch (event.kind) {
        case InputKind::MouseMove:
            if (IsEnabled(target)) {
                hover_ = event.window;
                Deliver({target, msg::kMouseMove, ButtonState(), lParam});
            }
            return;
        case InputKind::MouseLeave:
            if (hover_ == event.window) {
                hover_ = 0;
            }
            if (capture_ != event.window) {
                Deliver({event.window, msg::kMouseLeave, 0, 0});
            }
            return;
        case InputKind::ButtonDown: {
            if (!IsEnabled(event.window) || !IsEnabled(target)) {
                return;
            }
            if (Kind(event.window) != WindowKind::ToolTip) {
                Activate(event.window);
            }
            const std::uint64_t now = clock_.NowMs();
            const bool twice = lastPress_.window == target && lastPress_.button == event.button &&
                               !lastPress_.wasDouble && now - lastPress_.time <= kDoubleClickMs &&
                               std::abs(lastPress_.position.x - local.x) <= kDoubleClickDistance &&
                               std::abs(lastPress_.position.y - local.y) <= kDoubleClickDistance;
            lastPress_ = {target, event.button, local, now, twice};
            buttons_ |= static_cast<std::uint32_t>(ButtonFlag(event.button));
            if (Find(target)) {
                Deliver({target, DownMessage(event.button, twice), ButtonState(), lParam});
            }
            return;
        }
        case InputKind::ButtonUp:
            buttons_ &= ~static_cast<std::uint32_t>(ButtonFlag(event.button));
            if (IsEnabled(target)) {
                Deliver({target, UpMessage(event.button), ButtonState(), lParam});
            }
            return;
        case InputKind::Wheel: {
            if (!IsEnabled(event.window)) {
                return;
            }
            const auto delta = static_cast<std::uint16_t>(
                static_cast<std::int16_t>(event.wheelSteps * msg::kWheelDelta));
            const std::uintptr_t wParam =
                (static_cast<std::uintptr_t>(delta) << 16) | (ButtonState() & 0xFFFF);
            Deliver({event.window, msg::kMouseWheel, wParam,
                     msg::MakePointParam(pointer_.x, pointer_.y)});
            return;
        }
        default:
            return;
    }
}

void UiLoop::DispatchInput(const InputEvent& event) {
    modifiers_ = event.modifiers;
    switch (event.kind) {
        case InputKind::MouseMove:
        case InputKind::ButtonDown:
        case InputKind::ButtonUp:
        case InputKind::Wheel:
        case InputKind::MouseLeave:
            if (Find(event.window)) {
                DispatchMouse(event);
            }
            return;
        case InputKind::AppFocusIn:
            return;
        case InputKind::AppFocusOut:
            if (active_) {
                const WindowId old = active_;
                active_ = 0;
                SendActivate(old, false);
            }
            ReleaseCapture();
            drag_ = {};
            return;
        case InputKind::CloseRequest:
            if (IsEnabled(event.window)) {
                Deliver({event.window, msg::kSysCommand, msg::kScClose, 0});
            }
            return;
        case InputKind::Moved:
            if (Window* w = Find(event.window)) {
                const Rect r = w->state.desc.rect;
                w->state.desc.rect = {event.position.x, event.position.y,
                                      event.position.x + r.Width(), event.position.y + r.Height()};
            }
            return;
        default:
            break;
    }

    // Keyboard and text go to the active window.
    const WindowId target = active_;
    if (!IsEnabled(target)) {
        return;
    }
    switch (event.kind) {
        case InputKind::KeyDown:
            Deliver({target, msg::kKeyDown, event.key, event.repeat ? (1 | (1 << 30)) : 1});
            return;
        case InputKind::KeyUp:
            Deliver({target, msg::kKeyUp, event.key,
                     static_cast<std::intptr_t>(1u | (1u << 30) | (1u << 31))});
            return;
        case InputKind::Text:
            for (wchar_t c : event.text) {
                if (!Find(target)) {
                    return;
                }
                Deliver({target, msg::kChar, static_cast<std::uintptr_t>(c), 1});
            }
            return;
        case InputKind::Composition:
            if (!composing_) {
                composing_ = true;
                Deliver({target, msg::kImeStartComposition, 0, 0});
            }
            composition_ = event.text;
            Deliver({target, msg::kImeComposition, static_cast<std::uintptr_t>(event.cursor), 0});
            return;
        case InputKind::CompositionEnd:
            if (composing_) {
                composing_ = false;
                composition_.clear();
                Deliver({target, msg::kImeEndComposition, 0, 0});
            }
            return;
        default:
            return;
    }
}

}  // namespace platform
