#pragma once
// Decodes one media source completely, ahead of playback, into a raw PCM
// temp file in the engine's format, and hands that file to the mixer: in a
// live performance as soon as 10 s are decoded, otherwise (a replay, or a
// song shorter than 10 s) at the end of the stream.
//
// A decode thread stands in for the asynchronous reader's callbacks: it
// reads the next sample as soon as one is written. Configure, StartSource,
// StopSource and Shutdown run on the controlling thread; every one of them
// and the decode thread take the generator's lock.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/MFResampler.h"
#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioResult.h"

namespace platform {
class MediaReader;
class MediaSource;
class GrowingFile;
}  // namespace platform

// What receives a generator's output (the SoundMixer). Called from the
// decode thread: the receiver keeps its ready flags atomic and guards its
// file members itself.
class IMFSampleGeneratorSink {
  public:
    virtual ~IMFSampleGeneratorSink() = default;
    // Takes ownership of the decoded PCM of source 0 (voice false: backing
    // track or mixed recording) or source 1 (voice true). The receiver
    // fcloses it. An early hand-over gives a read handle on the file that is
    // still being written: its reads wait for the decoder instead of ending
    // early, so the receiver never sees a false end of file.
    virtual void SetSourceFile(std::FILE* file, bool voice) = 0;
    // The ready flag of the source. Set (after SetSourceFile) once enough is
    // decoded, or when the source failed so that no one waits for ever.
    // Cleared by StartSource.
    virtual void SetSourceReady(bool voice, bool ready) = 0;
};

class MFSampleGenerator {
  public:
    enum ReaderState {
        ReaderStateStopped = 0,
        ReaderStatePreRoll = 1,
        ReaderStatePlaying = 2,
        ReaderStateEnded = 3,
    };

    struct Options {
        // The folder for "KTEMP1"/"KTEMP2" (ends with '/'; created 0700 with
        // its parents). Empty: "KTV_Temp2/" under the per-user temp path.
        std::string tempFolder;
        // Hand the file over after 10 s of output (a live performance);
        // false hands over only at the end of the stream (a replay).
        bool earlyHandOver = true;
    };

    // 10 s of the engine's format: 48000 * 4 * 10.
    static constexpr std::uint64_t kEarlyHandOverBytes = 1920000;

    MFSampleGenerator(IMFSampleGeneratorSink* mixer, bool voice);
    MFSampleGenerator(IMFSampleGeneratorSink* mixer, bool voice, Options options);
    ~MFSampleGenerator();  // Shutdown
    MFSampleGenerator(const MFSampleGenerator&) = delete;
    MFSampleGenerator& operator=(const MFSampleGenerator&) = delete;

    // Prepares decoding of the source's first audio stream into the target
    // format (16-bit PCM, any rate and channel count; the engine's is
    // 48000/2/16) and opens the temp file. On failure (no audio stream, no
    // decoder, a temp file that cannot be created...) returns the error and
    // sets the mixer's ready flag for this source, as a failed open does.
    platform::HResult Configure(std::shared_ptr<const platform::MediaSource> source,
                                std::uint32_t framesPerBlock, const platform::AudioFormat& target);

    // kOk when decoding started; kFalse when it already runs or ran;
    // kUnexpected when not configured (the ready flag is then set).
    platform::HResult StartSource();
    // Asks the decode thread to stop after its current sample. The temp
    // file is closed (unless already handed over); nothing more is written.
    platform::HResult StopSource();
    // Stops and joins the decode thread, drops the reader and resampler.
    // Configure may follow.
    platform::HResult Shutdown();

    ReaderState State() const noexcept { return state_.load(); }
    bool IsConfigured() const noexcept { return configured_; }
    bool IsResampling() const noexcept { return resampling_; }
    std::uint32_t ChunkLength() const noexcept { return chunkLength_; }
    // Bytes of target PCM written to the temp file.
    std::uint64_t BytesWritten() const noexcept { return bytesWritten_.load(); }
    const std::string& TempFilePath() const noexcept { return tempPath_; }
    // Waits until the decode thread has finished (end of stream, error or
    // stop). True when it has; immediately true when it never ran.
    bool WaitUntilDone(int timeoutMs);

  private:
    // What the decode thread gives the mixer once it has left the lock.
    struct HandOverSlot {
        std::FILE* file = nullptr;
        bool ready = false;
    };

    void DecodeLoop();
    bool Append(std::span<const std::byte> pcm, HandOverSlot* handOver);  // lock held
    void EndOfStream(HandOverSlot* handOver);                             // lock held
    void CloseTempFile();                                                 // lock held
    void Deliver(const HandOverSlot& handOver);
    void ReportReady();

    IMFSampleGeneratorSink* mixer_;
    bool voice_;
    Options options_;

    std::mutex lock_;
    std::condition_variable done_;
    bool running_ = false;  // the decode thread exists and has not finished
    std::thread thread_;
    std::atomic<ReaderState> state_{ReaderStateStopped};
    bool configured_ = false;
    bool resampling_ = false;
    std::uint32_t chunkLength_ = 0;
    platform::AudioFormat target_{};
    std::shared_ptr<const platform::MediaSource> source_;
    std::unique_ptr<platform::MediaReader> reader_;
    std::unique_ptr<MFResampler> resampler_;
    IMFSampleGeneratorSink* attached_ = nullptr;  // cleared after an early hand-over
    std::shared_ptr<platform::GrowingFile> tempFile_;
    std::string tempPath_;
    std::atomic<std::uint64_t> bytesWritten_{0};
    std::vector<std::byte> decoded_;
    std::vector<std::byte> converted_;
};
