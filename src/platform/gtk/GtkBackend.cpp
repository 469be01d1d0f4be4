#include "platform/gtk/GtkBackend.h"

#include <gtk/gtk.h>

#include <atomic>
#include <cstring>
#include <map>

#include "platform/draw/LeakSuppressions.h"
#include "platform/text/Utf.h"
#include "platform/ui/UiMessages.h"

namespace platform {

namespace {

struct NativeWindow {
    GtkBackend::Impl* owner = nullptr;
    WindowId id = 0;
    GtkWidget* widget = nullptr;
    cairo_surface_t* frame = nullptr;  // the last presented frame, constant alpha applied
    Rect rect;
    bool shaped = false;
    CursorKind cursor = CursorKind::Arrow;
};

const char* CursorName(CursorKind kind) {
    switch (kind) {
        case CursorKind::Arrow:
            return "default";
        case CursorKind::Hand:
            return "pointer";
        case CursorKind::IBeam:
            return "text";
        case CursorKind::Wait:
            return "wait";
        case CursorKind::Cross:
            return "crosshair";
        case CursorKind::SizeAll:
            return "move";
        case CursorKind::SizeWE:
            return "ew-resize";
        case CursorKind::SizeNS:
            return "ns-resize";
        case CursorKind::UpArrow:
            return "n-resize";
        case CursorKind::No:
            return "not-allowed";
        case CursorKind::None:
            return "none";
    }
    return "default";
}

std::uint32_t Modifiers(guint state) {
    std::uint32_t m = 0;
    if (state & GDK_SHIFT_MASK) {
        m |= kModShift;
    }
    if (state & GDK_CONTROL_MASK) {
        m |= kModControl;
    }
    if (state & GDK_MOD1_MASK) {
        m |= kModAlt;
    }
    return m;
}

}  // namespace

struct GtkBackend::Impl {
    EventSink sink;
    std::map<WindowId, NativeWindow*> windows;
    std::atomic<bool> woken{false};
    GtkIMContext* im = nullptr;
    WindowId imWindow = 0;
    WindowId grabbed = 0;
    bool focusCheckPending = false;
    bool appActive = false;

    void Emit(const InputEvent& e) {
        if (sink) {
            sink(e);
        }
    }
    bool AnyActive() const {
        for (const auto& [id, w] : windows) {
            if (gtk_window_is_active(GTK_WINDOW(w->widget))) {
                return true;
            }
        }
        return false;
    }
};

std::uint32_t VirtualKeyFromGdk(unsigned keyval) {
    if (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) {
        return keyval - GDK_KEY_a + 'A';
    }
    if ((keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z) ||
        (keyval >= GDK_KEY_0 && keyval <= GDK_KEY_9)) {
        return keyval;
    }
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12) {
        return vk::kF1 + (keyval - GDK_KEY_F1);
    }
    if (keyval >= GDK_KEY_KP_0 && keyval <= GDK_KEY_KP_9) {
        return 0x60 + (keyval - GDK_KEY_KP_0);
    }
    switch (keyval) {
        case GDK_KEY_BackSpace:
            return vk::kBack;
        case GDK_KEY_Tab:
        case GDK_KEY_ISO_Left_Tab:
            return vk::kTab;
        case GDK_KEY_Return:
        case GDK_KEY_KP_Enter:
            return vk::kReturn;
        case GDK_KEY_Shift_L:
        case GDK_KEY_Shift_R:
            return vk::kShift;
        case GDK_KEY_Control_L:
        case GDK_KEY_Control_R:
            return vk::kControl;
        case GDK_KEY_Alt_L:
        case GDK_KEY_Alt_R:
            return vk::kMenu;
        case GDK_KEY_Escape:
            return vk::kEscape;
        case GDK_KEY_space:
            return vk::kSpace;
        case GDK_KEY_Page_Up:
            return vk::kPrior;
        case GDK_KEY_Page_Down:
            return vk::kNext;
        case GDK_KEY_End:
            return vk::kEnd;
        case GDK_KEY_Home:
            return vk::kHome;
        case GDK_KEY_Left:
            return vk::kLeft;
        case GDK_KEY_Up:
            return vk::kUp;
        case GDK_KEY_Right:
            return vk::kRight;
        case GDK_KEY_Down:
            return vk::kDown;
        case GDK_KEY_Insert:
            return vk::kInsert;
        case GDK_KEY_Delete:
        case GDK_KEY_KP_Delete:
            return vk::kDelete;
        default:
            return 0;
    }
}

namespace {

// Sets (region) or clears (null) the window's bounding and input shape on
// the X server; defined at the end of the file.
bool SetNativeShape(GtkWidget* widget, const cairo_region_t* region);

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    if (w->frame) {
        cairo_set_source_surface(cr, w->frame, 0, 0);
    } else {
        cairo_set_source_rgba(cr, 0, 0, 0, 0);
    }
    cairo_paint(cr);
    return TRUE;
}

InputEvent Base(NativeWindow* w, InputKind kind, double x, double y, guint state) {
    InputEvent e;
    e.kind = kind;
    e.window = w->id;
    e.position = {static_cast<int>(x), static_cast<int>(y)};
    e.modifiers = Modifiers(state);
    return e;
}

MouseButton ButtonOf(guint button) {
    return button == 3 ? MouseButton::Right : button == 2 ? MouseButton::Middle : MouseButton::Left;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    w->owner->Emit(Base(w, InputKind::MouseMove, event->x, event->y, event->state));
    return TRUE;
}

gboolean OnButton(GtkWidget*, GdkEventButton* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    // Double and triple presses are told apart by the loop itself.
    if (event->type != GDK_BUTTON_PRESS && event->type != GDK_BUTTON_RELEASE) {
        return TRUE;
    }
    InputEvent e =
        Base(w, event->type == GDK_BUTTON_PRESS ? InputKind::ButtonDown : InputKind::ButtonUp,
             event->x, event->y, event->state);
    e.button = ButtonOf(event->button);
    w->owner->Emit(e);
    return TRUE;
}

gboolean OnScroll(GtkWidget*, GdkEventScroll* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    InputEvent e = Base(w, InputKind::Wheel, event->x, event->y, event->state);
    if (event->direction == GDK_SCROLL_UP) {
        e.wheelSteps = 1;
    } else if (event->direction == GDK_SCROLL_DOWN) {
        e.wheelSteps = -1;
    } else if (event->direction == GDK_SCROLL_SMOOTH && event->delta_y != 0) {
        e.wheelSteps = event->delta_y < 0 ? 1 : -1;
    } else {
        return TRUE;
    }
    w->owner->Emit(e);
    return TRUE;
}

gboolean OnLeave(GtkWidget*, GdkEventCrossing* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    if (event->mode == GDK_CROSSING_NORMAL) {
        w->owner->Emit(Base(w, InputKind::MouseLeave, event->x, event->y, event->state));
    }
    return TRUE;
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    GtkBackend::Impl* impl = w->owner;
    if (impl->im && impl->imWindow == w->id && gtk_im_context_filter_keypress(impl->im, event)) {
        return TRUE;
    }
    const std::uint32_t key = VirtualKeyFromGdk(event->keyval);
    if (key != 0) {
        InputEvent e = Base(w, event->type == GDK_KEY_PRESS ? InputKind::KeyDown : InputKind::KeyUp,
                            0, 0, event->state);
        e.key = key;
        impl->Emit(e);
    }
    if (event->type == GDK_KEY_PRESS && !(event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK))) {
        const gunichar c = gdk_keyval_to_unicode(event->keyval);
        if (c >= 32 && c != 127) {
            InputEvent t = Base(w, InputKind::Text, 0, 0, event->state);
            t.text.assign(1, static_cast<wchar_t>(c));
            impl->Emit(t);
        }
    }
    return TRUE;
}

gboolean CheckAppFocus(gpointer data) {
    auto* impl = static_cast<GtkBackend::Impl*>(data);
    impl->focusCheckPending = false;
    const bool active = impl->AnyActive();
    if (active != impl->appActive) {
        impl->appActive = active;
        InputEvent e;
        e.kind = active ? InputKind::AppFocusIn : InputKind::AppFocusOut;
        impl->Emit(e);
    }
    return G_SOURCE_REMOVE;
}

// Focus moving between two of our windows is no change of the application's
// activation: look once the dust has settled.
gboolean OnFocus(GtkWidget*, GdkEventFocus*, gpointer data) {
    GtkBackend::Impl* impl = static_cast<NativeWindow*>(data)->owner;
    if (!impl->focusCheckPending) {
        impl->focusCheckPending = true;
        g_idle_add(CheckAppFocus, impl);
    }
    return FALSE;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    InputEvent e;
    e.kind = InputKind::CloseRequest;
    e.window = w->id;
    w->owner->Emit(e);
    return TRUE;  // the program decides
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
    auto* w = static_cast<NativeWindow*>(data);
    if (event->x != w->rect.left || event->y != w->rect.top) {
        InputEvent e;
        e.kind = InputKind::Moved;
        e.window = w->id;
        e.position = {event->x, event->y};
        w->rect = {event->x, event->y, event->x + w->rect.Width(), event->y + w->rect.Height()};
        w->owner->Emit(e);
    }
    return FALSE;
}

void OnCommit(GtkIMContext*, gchar* text, gpointer data) {
    auto* impl = static_cast<GtkBackend::Impl*>(data);
    InputEvent e;
    e.kind = InputKind::Text;
    e.window = impl->imWindow;
    e.text = FromUtf8(text ? text : "");
    impl->Emit(e);
}

void OnPreeditChanged(GtkIMContext* im, gpointer data) {
    auto* impl = static_cast<GtkBackend::Impl*>(data);
    gchar* text = nullptr;
    gint cursor = 0;
    gtk_im_context_get_preedit_string(im, &text, nullptr, &cursor);
    InputEvent e;
    e.window = impl->imWindow;
    e.text = FromUtf8(text ? text : "");
    e.cursor = cursor;
    e.kind = e.text.empty() ? InputKind::CompositionEnd : InputKind::Composition;
    g_free(text);
    impl->Emit(e);
}

void OnPreeditEnd(GtkIMContext*, gpointer data) {
    auto* impl = static_cast<GtkBackend::Impl*>(data);
    InputEvent e;
    e.kind = InputKind::CompositionEnd;
    e.window = impl->imWindow;
    impl->Emit(e);
}

gboolean WakeTimeout(gpointer data) {
    *static_cast<bool*>(data) = true;
    return G_SOURCE_REMOVE;
}

}  // namespace

GtkBackend::GtkBackend() : impl_(std::make_unique<Impl>()) {}

std::unique_ptr<GtkBackend> GtkBackend::Open() {
    UseThirdPartyLeakSuppressions();
    if (!gtk_init_check(nullptr, nullptr) || !gdk_display_get_default()) {
        return nullptr;
    }
    std::unique_ptr<GtkBackend> backend(new GtkBackend());
    Impl* impl = backend->impl_.get();
    impl->im = gtk_im_multicontext_new();
    g_signal_connect(impl->im, "commit", G_CALLBACK(OnCommit), impl);
    g_signal_connect(impl->im, "preedit-changed", G_CALLBACK(OnPreeditChanged), impl);
    g_signal_connect(impl->im, "preedit-end", G_CALLBACK(OnPreeditEnd), impl);
    return backend;
}

GtkBackend::~GtkBackend() {
    for (auto& [id, w] : impl_->windows) {
        if (w->frame) {
            cairo_surface_destroy(w->frame);
        }
        gtk_widget_destroy(w->widget);
        delete w;
    }
    impl_->windows.clear();
    if (impl_->im) {
        g_object_unref(impl_->im);
    }
    // Let GTK finish what the destruction queued.
    while (g_main_context_pending(nullptr)) {
        g_main_context_iteration(nullptr, FALSE);
    }
}

void GtkBackend::SetEventSink(EventSink sink) {
    impl_->sink = std::move(sink);
}

void GtkBackend::Wait(int timeoutMs) {
    bool fired = false;
    guint timeout = 0;
    if (timeoutMs > 0) {
        timeout = g_timeout_add(static_cast<guint>(timeoutMs), WakeTimeout, &fired);
    }
    const bool block = timeoutMs != 0 && !impl_->woken.exchange(false);
    g_main_context_iteration(nullptr, block ? TRUE : FALSE);
    while (g_main_context_pending(nullptr)) {
        g_main_context_iteration(nullptr, FALSE);
    }
    if (timeout && !fired) {
        g_source_remove(timeout);
    }
}

void GtkBackend::Wake() {
    impl_->woken = true;
    g_main_context_wakeup(nullptr);
}

void GtkBackend::CreateWindow(WindowId id, const WindowState& state) {
    auto* w = new NativeWindow;
    w->owner = impl_.get();
    w->id = id;
    const bool popup = state.desc.kind != WindowKind::TopLevel;
    w->widget = gtk_window_new(popup ? GTK_WINDOW_POPUP : GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(w->widget);
    gtk_window_set_decorated(window, FALSE);
    gtk_widget_set_app_paintable(w->widget, TRUE);
    if (GdkVisual* rgba = gdk_screen_get_rgba_visual(gtk_widget_get_screen(w->widget))) {
        gtk_widget_set_visual(w->widget, rgba);
    }
    if (state.desc.kind == WindowKind::ToolTip) {
        gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_TOOLTIP);
        gtk_window_set_accept_focus(window, FALSE);
    }
    gtk_widget_add_events(w->widget, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK |
                                         GDK_BUTTON_RELEASE_MASK | GDK_SCROLL_MASK |
                                         GDK_LEAVE_NOTIFY_MASK | GDK_KEY_PRESS_MASK |
                                         GDK_KEY_RELEASE_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(w->widget, "draw", G_CALLBACK(OnDraw), w);
    g_signal_connect(w->widget, "motion-notify-event", G_CALLBACK(OnMotion), w);
    g_signal_connect(w->widget, "button-press-event", G_CALLBACK(OnButton), w);
    g_signal_connect(w->widget, "button-release-event", G_CALLBACK(OnButton), w);
    g_signal_connect(w->widget, "scroll-event", G_CALLBACK(OnScroll), w);
    g_signal_connect(w->widget, "leave-notify-event", G_CALLBACK(OnLeave), w);
    g_signal_connect(w->widget, "key-press-event", G_CALLBACK(OnKey), w);
    g_signal_connect(w->widget, "key-release-event", G_CALLBACK(OnKey), w);
    g_signal_connect(w->widget, "focus-in-event", G_CALLBACK(OnFocus), w);
    g_signal_connect(w->widget, "focus-out-event", G_CALLBACK(OnFocus), w);
    g_signal_connect(w->widget, "delete-event", G_CALLBACK(OnDelete), w);
    g_signal_connect(w->widget, "configure-event", G_CALLBACK(OnConfigure), w);
    impl_->windows[id] = w;
    const auto owner = impl_->windows.find(state.desc.owner);
    if (owner != impl_->windows.end()) {
        gtk_window_set_transient_for(window, GTK_WINDOW(owner->second->widget));
    }
    UpdateWindow(id, state);
}

void GtkBackend::DestroyWindow(WindowId id) {
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end()) {
        return;
    }
    NativeWindow* w = it->second;
    impl_->windows.erase(it);
    if (impl_->grabbed == id) {
        SetCapture(0);
    }
    if (impl_->imWindow == id) {
        StopTextInput(id);
    }
    if (w->frame) {
        cairo_surface_destroy(w->frame);
    }
    gtk_widget_destroy(w->widget);
    delete w;
}

void GtkBackend::UpdateWindow(WindowId id, const WindowState& state) {
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end()) {
        return;
    }
    NativeWindow* w = it->second;
    GtkWindow* window = GTK_WINDOW(w->widget);
    const Rect& r = state.desc.rect;
    if (r.Width() > 0 && r.Height() > 0) {
        gtk_widget_set_size_request(w->widget, r.Width(), r.Height());
        gtk_window_resize(window, r.Width(), r.Height());
    }
    gtk_window_move(window, r.left, r.top);
    w->rect = r;
    gtk_window_set_title(window, ToUtf8(state.desc.title).c_str());
    gtk_window_set_keep_above(window, state.desc.topmost ? TRUE : FALSE);
    if (state.visible && !gtk_widget_get_visible(w->widget)) {
        gtk_widget_show(w->widget);
    } else if (!state.visible && gtk_widget_get_visible(w->widget)) {
        gtk_widget_hide(w->widget);
    }
    if (GdkWindow* gdk = gtk_widget_get_window(w->widget); gdk && state.cursor != w->cursor) {
        GdkCursor* cursor =
            gdk_cursor_new_from_name(gdk_window_get_display(gdk), CursorName(state.cursor));
        gdk_window_set_cursor(gdk, cursor);
        if (cursor) {
            g_object_unref(cursor);
        }
        w->cursor = state.cursor;
    }
}

void GtkBackend::Present(WindowId id, const Frame& frame) {
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end() || frame.width <= 0 || frame.height <= 0) {
        return;
    }
    NativeWindow* w = it->second;
    if (w->frame) {
        cairo_surface_destroy(w->frame);
    }
    w->frame = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, frame.width, frame.height);
    auto* data = cairo_image_surface_get_data(w->frame);
    const int stride = cairo_image_surface_get_stride(w->frame);
    for (int y = 0; y < frame.height; ++y) {
        auto* row =
            reinterpret_cast<std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < frame.width; ++x) {
            row[x] = frame.constantAlpha == 255 ? frame.At(x, y) : frame.Composed(x, y);
        }
    }
    cairo_surface_mark_dirty(w->frame);
    // Without a compositor the window takes the shape of its visible pixels.
    const bool composited = Composited();
    if (!composited) {
        cairo_region_t* region = gdk_cairo_region_create_from_surface(w->frame);
        w->shaped = SetNativeShape(w->widget, region);
        cairo_region_destroy(region);
    } else if (w->shaped) {
        SetNativeShape(w->widget, nullptr);
        w->shaped = false;
    }
    gtk_widget_queue_draw(w->widget);
}

void GtkBackend::SetCapture(WindowId id) {
    GdkDisplay* display = gdk_display_get_default();
    GdkSeat* seat = display ? gdk_display_get_default_seat(display) : nullptr;
    if (!seat) {
        return;
    }
    if (impl_->grabbed) {
        gdk_seat_ungrab(seat);
        impl_->grabbed = 0;
    }
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end()) {
        return;
    }
    GdkWindow* gdk = gtk_widget_get_window(it->second->widget);
    if (gdk && gdk_seat_grab(seat, gdk, GDK_SEAT_CAPABILITY_ALL_POINTING, FALSE, nullptr, nullptr,
                             nullptr, nullptr) == GDK_GRAB_SUCCESS) {
        impl_->grabbed = id;
    }
}

void GtkBackend::StartTextInput(WindowId id, const Rect& candidate) {
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end() || !impl_->im) {
        return;
    }
    impl_->imWindow = id;
    gtk_im_context_set_client_window(impl_->im, gtk_widget_get_window(it->second->widget));
    GdkRectangle area{candidate.left, candidate.top, candidate.Width(), candidate.Height()};
    gtk_im_context_set_cursor_location(impl_->im, &area);
    gtk_im_context_focus_in(impl_->im);
}

void GtkBackend::StopTextInput(WindowId id) {
    if (impl_->im && impl_->imWindow == id) {
        gtk_im_context_focus_out(impl_->im);
        gtk_im_context_reset(impl_->im);
        gtk_im_context_set_client_window(impl_->im, nullptr);
        impl_->imWindow = 0;
    }
}

void GtkBackend::SetClipboardText(const std::wstring& text) {
    const std::string utf8 = ToUtf8(text);
    gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), utf8.c_str(),
                           static_cast<gint>(utf8.size()));
}

std::wstring GtkBackend::ClipboardText() {
    gchar* text = gtk_clipboard_wait_for_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    std::wstring out = text ? FromUtf8(text) : std::wstring();
    g_free(text);
    return out;
}

Size GtkBackend::ScreenSize() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (!monitor) {
        return {};
    }
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    return {geometry.width, geometry.height};
}

int GtkBackend::HorizontalDpi() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (!monitor && display) {
        monitor = gdk_display_get_monitor(display, 0);
    }
    if (!monitor) {
        return 96;
    }
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    const int mm = gdk_monitor_get_width_mm(monitor);
    if (mm <= 0 || geometry.width <= 0) {
        return 96;
    }
    return static_cast<int>(geometry.width * 25.4 / mm + 0.5);
}

Frame GtkBackend::CaptureScreen(const Rect& area) const {
    Frame out;
    GdkWindow* root = gdk_get_default_root_window();
    if (!root || area.Width() <= 0 || area.Height() <= 0) {
        return out;
    }
    GdkPixbuf* pixbuf =
        gdk_pixbuf_get_from_window(root, area.left, area.top, area.Width(), area.Height());
    if (!pixbuf) {
        return out;
    }
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
    out.width = gdk_pixbuf_get_width(pixbuf);
    out.height = gdk_pixbuf_get_height(pixbuf);
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const guchar* p = data + static_cast<std::ptrdiff_t>(y) * stride + x * channels;
            out.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) +
                       static_cast<std::size_t>(x)] =
                0xFF000000u | std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
        }
    }
    g_object_unref(pixbuf);
    return out;
}

bool GtkBackend::Composited() const {
    GdkScreen* screen = gdk_screen_get_default();
    return screen && gdk_screen_is_composited(screen);
}

}  // namespace platform

// Last, as Xlib's macros (None, Success...) would clash with the code above.
#include <gdk/gdkx.h>

namespace platform {

std::uint64_t GtkBackend::NativeHandle(WindowId id) const {
    const auto it = impl_->windows.find(id);
    if (it == impl_->windows.end()) {
        return 0;
    }
    GdkWindow* gdk = gtk_widget_get_window(it->second->widget);
    return gdk && GDK_IS_X11_WINDOW(gdk) ? GDK_WINDOW_XID(gdk) : 0;
}

}  // namespace platform

#include <X11/extensions/shape.h>

#include <vector>

namespace platform {
namespace {

bool SetNativeShape(GtkWidget* widget, const cairo_region_t* region) {
    GdkWindow* gdk = gtk_widget_get_window(widget);
    if (!gdk || !GDK_IS_X11_WINDOW(gdk)) {
        return false;
    }
    Display* display = GDK_DISPLAY_XDISPLAY(gdk_window_get_display(gdk));
    const Window xid = GDK_WINDOW_XID(gdk);
    if (!region) {
        XShapeCombineMask(display, xid, ShapeBounding, 0, 0, 0, ShapeSet);
        XShapeCombineMask(display, xid, ShapeInput, 0, 0, 0, ShapeSet);
        return false;
    }
    std::vector<XRectangle> rects(static_cast<std::size_t>(cairo_region_num_rectangles(region)));
    for (std::size_t i = 0; i < rects.size(); ++i) {
        cairo_rectangle_int_t r;
        cairo_region_get_rectangle(region, static_cast<int>(i), &r);
        rects[i] = {static_cast<short>(r.x), static_cast<short>(r.y),
                    static_cast<unsigned short>(r.width), static_cast<unsigned short>(r.height)};
    }
    for (int kind : {ShapeBounding, ShapeInput}) {
        XShapeCombineRectangles(display, xid, kind, 0, 0, rects.data(),
                                static_cast<int>(rects.size()), ShapeSet, YXBanded);
    }
    return true;
}

}  // namespace
}  // namespace platform
