#include "platform/ui/UiLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/ui/HeadlessBackend.h"
#include "platform/ui/PeriodicTimer.h"

namespace {

using namespace platform;

struct Received {
    std::uint32_t id;
    std::uintptr_t wParam;
    std::intptr_t lParam;
};

// Records every message; an optional reaction runs after recording.
class Recorder : public WindowHandler {
  public:
    std::intptr_t OnMessage(const Message& m) override {
        messages.push_back({m.id, m.wParam, m.lParam});
        threads.push_back(std::this_thread::get_id());
        return react ? react(m) : 0;
    }
    std::vector<std::uint32_t> Ids() const {
        std::vector<std::uint32_t> ids;
        for (const auto& m : messages) {
            ids.push_back(m.id);
        }
        return ids;
    }
    std::vector<Received> Only(std::uint32_t id) const {
        std::vector<Received> out;
        for (const auto& m : messages) {
            if (m.id == id) {
                out.push_back(m);
            }
        }
        return out;
    }
    std::vector<Received> messages;
    std::vector<std::thread::id> threads;
    std::function<std::intptr_t(const Message&)> react;
};

class Ui : public ::testing::Test {
  protected:
    WindowId Make(Recorder& r, Rect rect, WindowKind kind = WindowKind::TopLevel,
                  WindowId owner = 0) {
        WindowDesc desc;
        desc.kind = kind;
        desc.owner = owner;
        desc.rect = rect;
        return loop.CreateWindow(desc, &r);
    }
    FakeClock clock{1000};
    HeadlessBackend backend;
    UiLoop loop{backend, clock};
};

TEST_F(Ui, PostsFromOtherThreadsArriveInOrderOnTheLoopThread) {
    Recorder r;
    const WindowId w = Make(r, {0, 0, 10, 10});
    constexpr int kThreads = 3;
    constexpr int kEach = 300;
    std::atomic<int> finished{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                EXPECT_TRUE(loop.Post(w, msg::kUser + static_cast<std::uint32_t>(t), i));
            }
            if (++finished == kThreads) {
                loop.PostTask([&] { loop.Quit(0); });
            }
        });
    }
    EXPECT_EQ(loop.Run(), 0);
    for (auto& worker : workers) {
        worker.join();
    }
    loop.RunPending();
    for (int t = 0; t < kThreads; ++t) {
        const auto got = r.Only(msg::kUser + static_cast<std::uint32_t>(t));
        ASSERT_EQ(got.size(), static_cast<std::size_t>(kEach));
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(got[static_cast<std::size_t>(i)].wParam, static_cast<std::uintptr_t>(i));
        }
    }
    for (const auto& id : r.threads) {
        EXPECT_EQ(id, std::this_thread::get_id());
    }
}

TEST_F(Ui, MessagesToADestroyedWindowAreDropped) {
    Recorder r;
    const WindowId w = Make(r, {0, 0, 10, 10});
    EXPECT_TRUE(loop.Post(w, msg::kUser, 1));
    loop.DestroyWindow(w);
    EXPECT_FALSE(loop.IsWindow(w));
    EXPECT_FALSE(loop.Post(w, msg::kUser, 2));
    std::thread([&] { EXPECT_EQ(loop.Send(w, msg::kUser, 3), 0); }).join();
    loop.RunPending();
    EXPECT_TRUE(r.messages.empty()) << "queued before the destruction: dropped as well";

    Recorder second;
    const WindowId w2 = Make(second, {0, 0, 10, 10});
    EXPECT_NE(w2, w) << "handles are never reused";
}

TEST_F(Ui, SendWaitsForTheLoopAndReturnsTheResult) {
    Recorder r;
    r.react = [](const Message& m) { return static_cast<std::intptr_t>(m.wParam * 2); };
    const WindowId w = Make(r, {0, 0, 10, 10});
    std::intptr_t result = -1;
    std::thread worker([&] {
        result = loop.Send(w, msg::kUser, 21);
        loop.PostTask([&] { loop.Quit(); });
    });
    loop.Run();
    worker.join();
    EXPECT_EQ(result, 42);
    ASSERT_EQ(r.threads.size(), 1u);
    EXPECT_EQ(r.threads[0], std::this_thread::get_id());
    EXPECT_EQ(loop.Send(w, msg::kUser, 5), 10) << "on the loop thread: a direct call";
}

TEST_F(Ui, SendPendingWhenTheWindowGoesAwayReturnsZero) {
    Recorder r;
    r.react = [](const Message&) { return 7; };
    const WindowId w = Make(r, {0, 0, 10, 10});
    std::atomic<bool> taskRunning{false};
    std::atomic<bool> sending{false};
    std::intptr_t result = -1;
    loop.PostTask([&] {
        // The worker sends while the loop is busy here; then the window goes.
        taskRunning = true;
        while (!sending) {
            std::this_thread::yield();
        }
        SleepMs(20);
        loop.DestroyWindow(w);
    });
    std::thread worker([&] {
        while (!taskRunning) {
            std::this_thread::yield();
        }
        sending = true;
        result = loop.Send(w, msg::kUser, 1);
    });
    loop.RunPending();
    worker.join();
    EXPECT_EQ(result, 0) << "not handled: the window went away first";
    EXPECT_TRUE(r.messages.empty());
}

TEST_F(Ui, TimersFollowTheLayersClock) {
    Recorder r;
    const WindowId w = Make(r, {0, 0, 10, 10});
    loop.SetTimer(w, 7, 100);
    loop.RunPending();
    EXPECT_TRUE(r.messages.empty());
    clock.Advance(99);
    loop.RunPending();
    EXPECT_TRUE(r.messages.empty());
    clock.Advance(1);
    loop.RunPending();
    ASSERT_EQ(r.Only(msg::kTimer).size(), 1u);
    EXPECT_EQ(r.messages[0].wParam, 7u);
    clock.Advance(1000);
    loop.RunPending();
    EXPECT_EQ(r.Only(msg::kTimer).size(), 2u) << "a late timer fires once, not ten times";

    r.react = [&](const Message& m) {
        if (m.id == msg::kTimer) {
            loop.KillTimer(w, m.wParam);
        }
        return 0;
    };
    clock.Advance(100);
    loop.RunPending();
    clock.Advance(100);
    loop.RunPending();
    EXPECT_EQ(r.Only(msg::kTimer).size(), 3u) << "killed from its own handler";
}

TEST_F(Ui, TimerFiresInsideANestedModalLoopWhoseOwnerIsDisabled) {
    Recorder owner;
    Recorder dialog;
    const WindowId o = Make(owner, {0, 0, 400, 300});
    const WindowId d = Make(dialog, {100, 100, 200, 200}, WindowKind::TopLevel, o);
    loop.Show(o);
    loop.Show(d);
    loop.SetTimer(o, 1, 50);
    owner.react = [&](const Message& m) {
        if (m.id == msg::kTimer) {
            EXPECT_TRUE(loop.InModal(d));
            loop.EndModal(d, 6);
        }
        return 0;
    };
    loop.PostTask([&] {
        EXPECT_FALSE(loop.IsEnabled(o));
        backend.Click({10, 10});  // on the disabled owner: dropped
        clock.Advance(50);
    });
    EXPECT_EQ(loop.RunModal(d), 6);
    EXPECT_TRUE(loop.IsEnabled(o));
    EXPECT_TRUE(owner.Only(msg::kLButtonDown).empty());
    EXPECT_EQ(owner.Only(msg::kTimer).size(), 1u) << "the disabled owner's timer still runs";
}

TEST_F(Ui, EndingAnOuterLoopUnwindsTheInnerOnes) {
    Recorder a, b, c;
    const WindowId wa = Make(a, {0, 0, 10, 10});
    const WindowId wb = Make(b, {0, 0, 10, 10}, WindowKind::TopLevel, wa);
    const WindowId wc = Make(c, {0, 0, 10, 10}, WindowKind::TopLevel, wb);
    std::vector<std::string> order;
    loop.PostTask([&] {
        loop.PostTask([&] {
            loop.PostTask([&] { loop.EndModal(wb, 5); });
            order.push_back("c=" + std::to_string(loop.RunModal(wc)));
            EXPECT_EQ(loop.ModalDepth(), 2) << "b's loop ended but is still on the stack";
        });
        order.push_back("b=" + std::to_string(loop.RunModal(wb)));
        EXPECT_TRUE(loop.IsEnabled(wb));
        EXPECT_TRUE(loop.InModal(wa)) << "the loop below the ended one keeps running";
        loop.EndModal(wa, 1);
    });
    order.push_back("a=" + std::to_string(loop.RunModal(wa)));
    EXPECT_EQ(order, (std::vector<std::string>{"c=2", "b=5", "a=1"}));
    EXPECT_EQ(loop.ModalDepth(), 0);
}

TEST_F(Ui, QuitEndsEveryNestedLoop) {
    Recorder a, b;
    const WindowId wa = Make(a, {0, 0, 10, 10});
    const WindowId wb = Make(b, {0, 0, 10, 10}, WindowKind::TopLevel, wa);
    std::vector<std::string> order;
    loop.PostTask([&] {
        loop.PostTask([&] {
            loop.PostTask([&] { loop.Quit(3); });
            order.push_back("b=" + std::to_string(loop.RunModal(wb)));
        });
        order.push_back("a=" + std::to_string(loop.RunModal(wa)));
    });
    EXPECT_EQ(loop.Run(), 3);
    EXPECT_EQ(order, (std::vector<std::string>{"b=2", "a=2"}));
    EXPECT_EQ(loop.RunModal(wa), UiLoop::kModalCancel) << "no new loop once quitting";
}

TEST_F(Ui, DestroyingTheModalWindowEndsItsLoop) {
    Recorder a;
    const WindowId wa = Make(a, {0, 0, 10, 10});
    loop.PostTask([&] { loop.DestroyWindow(wa); });
    EXPECT_EQ(loop.RunModal(wa), UiLoop::kModalCancel);
}

TEST_F(Ui, PopupIsDeactivatedByAPressInItsOwnerOrByLeavingTheApplication) {
    Recorder owner, popup, tip;
    const WindowId o = Make(owner, {0, 0, 400, 300});
    const WindowId p = Make(popup, {50, 50, 150, 250}, WindowKind::Popup, o);
    const WindowId t = Make(tip, {300, 0, 380, 20}, WindowKind::ToolTip, o);
    loop.Show(o);
    popup.react = [&](const Message& m) {
        if (m.id == msg::kActivate && m.wParam == 0) {
            loop.Hide(p);  // what an auto-hidden pop-up's host does
        }
        return 0;
    };
    loop.Show(p);
    loop.Show(t);
    EXPECT_EQ(loop.ActiveWindow(), p) << "a tool tip never takes activation";
    EXPECT_TRUE(tip.Only(msg::kActivate).empty());

    backend.Click({10, 10});
    EXPECT_FALSE(loop.IsVisible(p));
    EXPECT_EQ(loop.ActiveWindow(), o);
    ASSERT_EQ(popup.Only(msg::kActivate).size(), 2u);
    EXPECT_EQ(popup.Only(msg::kActivate)[1].wParam, 0u);
    EXPECT_EQ(owner.Only(msg::kActivate).back().wParam, 1u);
    EXPECT_EQ(owner.Only(msg::kLButtonDown).size(), 1u) << "the press still reaches the owner";

    loop.Show(p);
    InputEvent out;
    out.kind = InputKind::AppFocusOut;
    backend.Inject(out);
    EXPECT_FALSE(loop.IsVisible(p));
    EXPECT_EQ(loop.ActiveWindow(), 0u);
}

TEST_F(Ui, ButtonsFollowTheDoubleClickSequence) {
    Recorder r;
    const WindowId w = Make(r, {100, 100, 300, 300});
    loop.Show(w);
    backend.Click({110, 120});
    clock.Advance(200);
    backend.Click({112, 121});
    clock.Advance(100);
    backend.Click({112, 121});  // a third click starts a new pair
    clock.Advance(600);
    backend.Click({112, 121});  // too late for a double click
    clock.Advance(100);
    backend.Click({130, 121});  // too far
    std::vector<std::uint32_t> buttons;
    for (const auto id : r.Ids()) {
        if (id >= msg::kMouseMove && id <= msg::kMButtonDblClk) {
            buttons.push_back(id);
        }
    }
    EXPECT_EQ(buttons,
              (std::vector<std::uint32_t>{513, 514, 515, 514, 513, 514, 513, 514, 513, 514}));
    const auto downs = r.Only(msg::kLButtonDown);
    EXPECT_EQ(msg::PointParamX(downs[0].lParam), 10);
    EXPECT_EQ(msg::PointParamY(downs[0].lParam), 20);
    EXPECT_EQ(downs[0].wParam, msg::kMkLButton);
    EXPECT_EQ(r.Only(msg::kLButtonUp)[0].wParam, 0u);

    backend.Click({150, 150}, MouseButton::Right);
    EXPECT_EQ(r.Only(msg::kRButtonDown).size(), 1u);
}

TEST_F(Ui, WheelCarriesDeltaAndScreenPosition) {
    Recorder r;
    const WindowId w = Make(r, {100, 100, 300, 300});
    loop.Show(w);
    backend.Wheel({150, 160}, -2);
    const auto wheel = r.Only(msg::kMouseWheel);
    ASSERT_EQ(wheel.size(), 1u);
    EXPECT_EQ(msg::WheelDelta(wheel[0].wParam), -240);
    EXPECT_EQ(msg::PointParamX(wheel[0].lParam), 150);
    EXPECT_EQ(msg::PointParamY(wheel[0].lParam), 160);
}

TEST_F(Ui, CaptureKeepsThePointerAndDragMovesTheWindow) {
    Recorder r, other;
    const WindowId w = Make(r, {100, 100, 200, 200});
    const WindowId o = Make(other, {300, 300, 400, 400});
    loop.Show(o);
    loop.Show(w);
    r.react = [&](const Message& m) {
        if (m.id == msg::kLButtonDown) {
            loop.SetCapture(w);
        } else if (m.id == msg::kLButtonUp) {
            loop.ReleaseCapture();
        }
        return 0;
    };
    backend.Press({150, 150});
    backend.Move({350, 50});
    backend.Release({350, 50});
    const auto moves = r.Only(msg::kMouseMove);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(msg::PointParamX(moves[0].lParam), 250);
    EXPECT_EQ(msg::PointParamY(moves[0].lParam), -50);
    EXPECT_EQ(moves[0].wParam, msg::kMkLButton);
    EXPECT_EQ(msg::PointParamX(r.Only(msg::kLButtonUp)[0].lParam), 250);
    EXPECT_TRUE(other.Only(msg::kMouseMove).empty());
    EXPECT_EQ(loop.Capture(), 0u);

    r.react = [&](const Message& m) {
        if (m.id == msg::kLButtonDown) {
            loop.BeginDrag(w);
        }
        return 0;
    };
    const std::size_t before = r.messages.size();
    backend.Press({110, 110});
    EXPECT_TRUE(loop.Dragging());
    backend.Move({140, 90});
    backend.Release({140, 90});
    EXPECT_FALSE(loop.Dragging());
    EXPECT_EQ(loop.GetRect(w), (Rect{130, 80, 230, 180}));
    EXPECT_EQ(backend.State(w)->desc.rect, (Rect{130, 80, 230, 180}));
    EXPECT_EQ(r.messages.size(), before + 1) << "only the press; the drag eats moves and release";
}

TEST_F(Ui, KeysTextAndCompositionGoToTheActiveWindow) {
    Recorder a, b;
    const WindowId wa = Make(a, {0, 0, 10, 10});
    const WindowId wb = Make(b, {20, 0, 30, 10});
    loop.Show(wa);
    loop.Show(wb);
    backend.Key(vk::kReturn);
    backend.Type(L"中a");
    InputEvent compose;
    compose.kind = InputKind::Composition;
    compose.text = L"zhong";
    compose.cursor = 5;
    backend.Inject(compose);
    EXPECT_EQ(loop.CompositionText(), L"zhong");
    compose.kind = InputKind::CompositionEnd;
    backend.Inject(compose);
    EXPECT_EQ(a.Ids(), (std::vector<std::uint32_t>{msg::kActivate, msg::kActivate}))
        << "activated, then deactivated when b was shown; nothing else";
    EXPECT_EQ(b.Ids(), (std::vector<std::uint32_t>{msg::kActivate, msg::kKeyDown, msg::kChar,
                                                   msg::kChar, msg::kImeStartComposition,
                                                   msg::kImeComposition, msg::kImeEndComposition}));
    EXPECT_EQ(b.Only(msg::kKeyDown)[0].wParam, vk::kReturn);
    EXPECT_EQ(b.Only(msg::kChar)[0].wParam, static_cast<std::uintptr_t>(L'中'));
    EXPECT_EQ(b.Only(msg::kImeComposition)[0].wParam, 5u);

    loop.StartTextInput(wb, {1, 2, 3, 20});
    EXPECT_EQ(backend.TextInputWindow(), wb);
    EXPECT_EQ(backend.CandidateRect(), (Rect{1, 2, 3, 20}));
}

TEST_F(Ui, CloseRequestScreenAndClipboard) {
    Recorder r;
    const WindowId w = Make(r, {0, 0, 10, 10});
    InputEvent close;
    close.kind = InputKind::CloseRequest;
    close.window = w;
    backend.Inject(close);
    ASSERT_EQ(r.Only(msg::kSysCommand).size(), 1u);
    EXPECT_EQ(r.Only(msg::kSysCommand)[0].wParam, msg::kScClose);

    backend.SetScreen({1600, 900}, 0);
    EXPECT_EQ(loop.ScreenSize(), (Size{1600, 900}));
    EXPECT_EQ(loop.HorizontalDpi(), 96) << "a display that reports no resolution";
    loop.SetClipboardText(L"复制");
    EXPECT_EQ(loop.ClipboardText(), L"复制");
    loop.SetCursor(w, CursorKind::Hand);
    EXPECT_EQ(backend.State(w)->cursor, CursorKind::Hand);
}

TEST(UiTransparency, ConstantAlphaForTransparency) {
    const struct {
        int percent;
        int alpha;
    } cases[] = {{0, 255}, {30, 178}, {50, 127}, {100, 0}, {-10, 255}, {130, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(ConstantAlphaForTransparency(c.percent), c.alpha) << c.percent;
    }
}

TEST(UiPeriodicTimer, FiresRepeatedlyAndNeverAfterStop) {
    PeriodicTimer timer;
    std::atomic<int> calls{0};
    Event reached(Event::Mode::ManualReset);
    ASSERT_TRUE(timer.Start(5, [&] {
        if (++calls == 3) {
            reached.Set();
        }
    }));
    EXPECT_TRUE(reached.Wait(10000));
    timer.Stop();
    const int atStop = calls;
    SleepMs(30);
    EXPECT_EQ(calls, atStop);
    EXPECT_FALSE(timer.Start(0, [] {}));

    std::atomic<int> selfStopped{0};
    Event done(Event::Mode::ManualReset);
    ASSERT_TRUE(timer.Start(2, [&] {
        ++selfStopped;
        timer.Stop();
        done.Set();
    }));
    EXPECT_TRUE(done.Wait(10000));
    SleepMs(20);
    EXPECT_EQ(selfStopped, 1) << "stopped from its own callback";
}

}  // namespace
