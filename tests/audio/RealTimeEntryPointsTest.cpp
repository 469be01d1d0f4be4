// Proves that the entry points the capture and render threads call allocate
// nothing and touch no file while a performance runs. This test binary
// counts, per thread, every allocation through operator new and malloc's
// C++ front doors and every stdio file call.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "AudioTestSupport.h"
#include "audio/SoundMixer.h"
#include "karaoke/context/KaraokeContext.h"

namespace {
thread_local bool t_counting = false;
thread_local long t_allocations = 0;
thread_local long t_fileCalls = 0;

void* CountedAlloc(std::size_t size) {
    if (t_counting) {
        ++t_allocations;
    }
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void NoteFileCall() {
    if (t_counting) {
        ++t_fileCalls;
    }
}
}  // namespace

void* operator new(std::size_t size) {
    return CountedAlloc(size);
}
void* operator new[](std::size_t size) {
    return CountedAlloc(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAlloc(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
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

// The C library's own entry points stay reachable under their internal
// names; these wrappers only count the calls.
extern "C" {
std::size_t _IO_fread(void*, std::size_t, std::size_t, std::FILE*);
std::size_t _IO_fwrite(const void*, std::size_t, std::size_t, std::FILE*);
std::FILE* _IO_fopen(const char*, const char*);
int _IO_fflush(std::FILE*);
int _IO_fclose(std::FILE*);

std::size_t fread(void* p, std::size_t size, std::size_t n, std::FILE* f) {
    NoteFileCall();
    return _IO_fread(p, size, n, f);
}
std::size_t fwrite(const void* p, std::size_t size, std::size_t n, std::FILE* f) {
    NoteFileCall();
    return _IO_fwrite(p, size, n, f);
}
std::FILE* fopen(const char* path, const char* mode) {
    NoteFileCall();
    return _IO_fopen(path, mode);
}
int fflush(std::FILE* f) {
    NoteFileCall();
    return _IO_fflush(f);
}
int fclose(std::FILE* f) {
    NoteFileCall();
    return _IO_fclose(f);
}
}

namespace {

class CountingGuard {
  public:
    CountingGuard() {
        t_allocations = 0;
        t_fileCalls = 0;
        t_counting = true;
    }
    ~CountingGuard() { t_counting = false; }
};

TEST(RealTimeEntryPoints, CaptureAndRenderAllocateNothingAndTouchNoFile) {
    audiotest::TempFolder tmp;
    CKaraokeContext* context = GetKaraokeContext();
    ASSERT_NE(context, nullptr);
    context->SetReplay(false);
    context->SetBlockDuration(16);
    context->SetRecordFolder(tmp.Folder());

    // The counters must see what they are meant to see.
    {
        const std::string probe = (tmp.Path() / "probe").string();
        long allocations = 0;
        long fileCalls = 0;
        {
            CountingGuard counting;
            delete new int(3);
            std::FILE* f = std::fopen(probe.c_str(), "wb");
            std::fwrite("x", 1, 1, f);
            std::fclose(f);
            allocations = t_allocations;
            fileCalls = t_fileCalls;
        }
        EXPECT_EQ(allocations, 1);
        EXPECT_EQ(fileCalls, 3);
    }

    platform::FakeClock clock(100);
    SoundMixer mixer(clock, nullptr);
    mixer.SetSourceFile(audiotest::OpenForMixer(audiotest::WriteStampedMusic(tmp.Path(), 400)),
                        false);
    ASSERT_EQ(mixer.Initialize(), kAudioOk);
    ASSERT_EQ(mixer.Start(), kAudioOk);

    const auto voice = audiotest::StampedBlock(3);
    std::vector<std::uint8_t> out(mixer.BlockLength());
    long allocations = 0;
    long fileCalls = 0;
    int silent = 0;
    for (int i = 0; i < 600; ++i) {  // past several refills, drops and the end of the music
        while (mixer.QueuedRecordingBlocks() > 50) {
            std::this_thread::yield();
        }
        std::uint32_t written = 0;
        {
            CountingGuard counting;
            mixer.OnCaptureBlock(voice.data(), 1000);  // uneven periods are staged
            mixer.OnCaptureBlock(voice.data() + 1000,
                                 static_cast<std::uint32_t>(voice.size()) - 1000);
            if (i % 7 == 0) {
                mixer.OnCaptureBlock(voice.data(), static_cast<std::uint32_t>(voice.size()));
            }
            mixer.Lock();
            mixer.FillRenderBlock(out.data(), &written);
            (void)mixer.GetPosition();
            allocations += t_allocations;
            fileCalls += t_fileCalls;
        }
        silent += written == 0 ? 1 : 0;
        clock.Advance(i % 50 == 0 ? 300 : 16);  // now and then the voice is late
    }
    mixer.Stop();
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(fileCalls, 0);
    EXPECT_GT(mixer.DroppedBlocks(), 0u) << "the drop path ran too";
    EXPECT_EQ(silent, 0);
}

}  // namespace
