// The per-hop paths run on the capture thread: they must never allocate.
// Every operator new of this test program is counted while a check is armed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "evaluation/LivePitch.h"
#include "evaluation/NoteScorer.h"
#include "evaluation/PitchCode.h"
#include "evaluation/PitchDetector.h"
#include "evaluation/Signals.h"
#include "evaluation/VocalFeatureTracker.h"

namespace {
std::atomic<bool> gArmed{false};
std::atomic<int> gAllocations{0};

void* Allocate(std::size_t n) {
    if (gArmed.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}
}  // namespace

void* operator new(std::size_t n) {
    return Allocate(n);
}
void* operator new[](std::size_t n) {
    return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

using namespace testsignals;

TEST(RealTime, PerHopPathsNeverAllocate) {
    // A 6 s voice: a glide and vibrato so that every detector runs.
    std::vector<float> voice = Harmonic(Glide(400.0, 600.0, 1.0, 0.08), 3.0);
    Append(voice, Harmonic(Vibrato(300.0, 6.5, 1.0), 3.0));
    const std::vector<short> pcm = ToShort(voice);

    std::vector<MelodyEntry> melody;
    for (int t = 500; t < 5500; t += 500) {
        melody.push_back(evaluation::MakeMelodyEntry(t, (t / 500) % 2 == 0 ? 0 : 8));
    }
    melody.push_back(evaluation::MakeMelodyEntry(5500, evaluation::kNoPitch));
    melody.push_back(evaluation::MakeMelodyEntry(5600, evaluation::kNoPitch));
    std::vector<float> scores(melody.size(), -1.0f);
    std::vector<evaluation::FrameRow> rows(600);

    CPitchDetector detector(16.0f, 32768.0f, 16000, CPitchDetector::kDefaultOptions);
    CVocalFeatureTracker tracker(1, static_cast<long long>(pcm.size()));
    CNoteScorer scorer(melody.data(), static_cast<int>(melody.size()), 16.0f, 300.0f, scores.data(),
                       rows.data(), 600);
    evaluation::CLivePitch live;
    ASSERT_TRUE(detector.Usable());
    ASSERT_TRUE(tracker.Usable());
    ASSERT_TRUE(scorer.Usable());

    gAllocations = 0;
    gArmed = true;
    evaluation::HopRecord block[5];
    int events = 0;
    for (size_t h = 0; h * 256 + 256 <= voice.size(); ++h) {
        float hz = 0;
        float r = 0;
        detector.ProcessHop(voice.data() + h * 256, hz, r);
        block[h % 5] = {hz, r, detector.EnvelopePeak()};
        if (h % 5 == 4) {
            scorer.Feed(block, 5);
        }
        unsigned event = 0;
        tracker.ProcessBlock(pcm.data() + h * 256, event);
        events += event != 0 ? 1 : 0;
        live.Next(evaluation::HopPitchCode(hz), 0, evaluation::kNoPitch, detector.EnvelopePeak());
    }
    gArmed = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_TRUE(scorer.Done()) << "every phrase was scored inside the check";
    EXPECT_GT(events, 0) << "the detectors ran inside the check";
}
