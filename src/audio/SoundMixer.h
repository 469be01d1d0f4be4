#pragma once
// The meeting point of the audio engine.
//
// Live: every captured block is processed by the voice processor and queued
// with its capture time; every render request mixes the oldest queued voice
// block with the next block of the backing track for the speakers and for
// "Mixed.wav", while the raw voice goes to "Vocal.wav". Replay: the two
// decoded recordings play in lockstep and one of them is heard.
//
// Threads: the capture thread (OnCaptureBlock), the render thread
// (FillRenderBlock, GetPosition), the mixer's reader thread (refills of the
// source rings from the decoded files), the user-interface thread (the
// rest). The re-entrant mixer lock guards the rings, the work buffers and
// the source files; the reader thread and Seek meet on a separate source
// lock, so the render thread never waits for a disk read.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/AudioResult.h"
#include "audio/CBufferArrary.h"
#include "audio/CWaveFileWriter.h"
#include "audio/DeviceLibrary.h"
#include "audio/IVoiceProcessor.h"
#include "audio/MFSampleGenerator.h"
#include "audio/VolumeRequest.h"
#include "karaoke/context/WaveFormat.h"
#include "platform/clock/Clock.h"
#include "platform/thread/Event.h"
#include "platform/thread/ReentrantLock.h"

class SoundMixer final : public IMFSampleGeneratorSink {
  public:
    static constexpr int kLatenessLimitMs = 50;
    static constexpr int kRefillBlocks = 50;
    static constexpr int kSeekStepBlocks = 100;

    // Binds the device library from the program folder of the context.
    explicit SoundMixer(platform::Clock& clock = platform::SystemClock());
    // Uses the given device-library table instead (null: no library).
    SoundMixer(platform::Clock& clock, const DeviceLibraryFunctions* library);
    ~SoundMixer() override;
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;

    // Per performance, from the stopped state: live, opens "Mixed.wav" and
    // "Vocal.wav" in the context's record folder and switches the sound
    // card's own karaoke effect off. kAudioWrongState when not stopped.
    AudioResult Initialize();
    // Starts the reader thread and fills the source rings.
    AudioResult Start();
    // Ends a performance: closes the recordings, stops the reader thread,
    // resets rings and counter, restores the card's effect. Safe to call
    // after a partial start (it undoes what Initialize did) and twice.
    void Stop();

    // Capture thread: any number of bytes; whole blocks are processed.
    void OnCaptureBlock(const std::uint8_t* data, std::uint32_t bytes);
    // Render thread, with the mixer lock held by the caller (Lock()); the
    // call releases it. Writes one block into out and sets *written, or
    // leaves *written 0 when no voice block is queued (play silence).
    AudioResult FillRenderBlock(std::uint8_t* out, std::uint32_t* written);
    // Mixes one block of voice with the next music block into out.
    void MixBlock(std::uint8_t* out, std::uint8_t* voice, std::uint32_t length);
    // a[i] = a[i] + b[i] * music gain, saturated (16 bits), or a + b - 128
    // (8 bits); other depths fail and leave a unchanged.
    AudioResult Mix(std::uint8_t* a, const std::uint8_t* b, std::uint32_t bytes,
                    int bitsPerSample) const;

    void Lock() { lock_.lock(); }
    void Unlock() { lock_.unlock(); }

    // 0 done, -1 invalid set request.
    int Volume(VolumeRequest* request);
    // Jumps to the requested block rounded to the nearest multiple of 100.
    void Seek(int blocks);
    // Milliseconds played: block counter x block duration.
    std::int64_t GetPosition() const;

    // The decoder hands over its decoded file (the mixer owns it from now
    // on) and with it publishes that the source is ready.
    void SetSourceFile(std::FILE* file, bool voice) override;
    // Sets or clears a ready flag: set without a file when the source will
    // not come (opening failed), so that no one waits for ever; cleared when
    // a decoder starts again.
    void SetSourceReady(bool voice, bool ready) override;
    bool IsMusicReady() const { return musicReady_.load(std::memory_order_acquire); }
    bool IsVocalReady() const { return vocalReady_.load(std::memory_order_acquire); }
    // Closes both decoded files and clears both ready flags. Returns 0.
    int CloseSourceFiles();

    // Not owned; set before Start (null: the voice passes unprocessed and
    // is heard as it is; the music passes unshifted).
    void SetVoiceProcessor(IVoiceProcessor* processor) { voiceProcessor_ = processor; }
    void SetKeyShifter(IMusicKeyShifter* shifter) { keyShifter_ = shifter; }
    // Replay: hear the voice recording alone instead of the mix.
    void SetReplayVoiceOnly(bool voiceOnly) { replayVoiceOnly_.store(voiceOnly); }
    bool IsReplayVoiceOnly() const { return replayVoiceOnly_.load(); }

    std::uint32_t BlockLength() const { return blockLength_; }
    std::uint64_t BlockCounter() const { return counter_.load(std::memory_order_acquire); }
    // Voice blocks dropped for lateness since Initialize.
    std::uint64_t DroppedBlocks() const { return dropped_.load(std::memory_order_relaxed); }
    std::uint64_t RecordingDrops() const;
    // Blocks waiting in the queues of the two recordings, and the blocks
    // they lost to a full queue.
    int QueuedRecordingBlocks() const;
    std::uint64_t LostRecordingBlocks() const;
    // Half-ring refills the reader thread has finished since construction.
    std::uint64_t CompletedRefills() const { return refills_.load(std::memory_order_acquire); }
    std::wstring LibraryMessage() const;
    bool IsDeviceLibraryLoaded() const { return library_.IsLoaded(); }

  private:
    struct LogRecord {
        int kind;  // 0 lateness line, 1 drop line
        int a;
        int b;
        int c;
    };
    static constexpr int kLogRecords = 256;

    void Construct(const DeviceLibraryFunctions* library, bool bindFromProgramFolder);
    void ProcessCapturedBlock(std::uint8_t* block);
    void ReaderLoop();
    void RefillHalves();
    void FillWholeRing(std::FILE* file, CBufferArrary& ring);
    void DumpLibraryMessage();
    void PushLog(int kind, int a, int b, int c);
    void DrainLog();
    void ScaleReplay(std::uint8_t* out, const std::uint8_t* in, std::uint32_t bytes) const;

    platform::Clock& clock_;
    WaveFormat format_;
    int blockDuration_ = 16;
    std::uint32_t blockLength_ = 0;
    std::unique_ptr<CWaveFileWriter> mixedWriter_;
    std::unique_ptr<CWaveFileWriter> voiceWriter_;
    std::unique_ptr<std::uint8_t[]> workA_;
    std::unique_ptr<std::uint8_t[]> workB_;
    std::unique_ptr<std::uint8_t[]> staging_;
    std::uint32_t staged_ = 0;
    mutable platform::ReentrantLock lock_;
    std::mutex sourceMutex_;
    std::atomic<float> musicGain_{1.0f};
    std::atomic<float> replayGain_{1.0f};
    std::atomic<bool> musicReady_{false};
    std::atomic<bool> vocalReady_{false};
    std::atomic<bool> replayVoiceOnly_{false};
    DeviceLibrary library_;
    mutable std::mutex messageMutex_;
    wchar_t libraryMessage_[DeviceLibrary::kMessageChars] = {};
    bool hasBaseTime_ = false;
    std::uint32_t baseTime_ = 0;
    std::FILE* musicFile_ = nullptr;
    std::FILE* vocalFile_ = nullptr;
    std::unique_ptr<CBufferArrary> musicRing_;
    std::unique_ptr<CBufferArrary> vocalRing_;
    std::unique_ptr<CBufferArrary> recordingRing_;
    std::unique_ptr<CBufferArrary> monitorRing_;
    std::atomic<std::uint64_t> counter_{0};
    std::atomic<std::uint64_t> dropped_{0};
    std::atomic<std::uint64_t> recordingDrops_{0};
    std::atomic<std::uint64_t> refills_{0};
    int pendingRecordingDrops_ = 0;
    std::atomic<bool> pendingFirstHalf_{false};
    std::atomic<bool> pendingSecondHalf_{false};
    platform::Event stopEvent_;
    platform::Event firstHalfEvent_;
    platform::Event secondHalfEvent_;
    std::thread reader_;
    IVoiceProcessor* voiceProcessor_ = nullptr;
    IMusicKeyShifter* keyShifter_ = nullptr;
    bool initialized_ = false;
    bool live_ = true;
    bool effectDisabled_ = false;
    LogRecord log_[kLogRecords] = {};
    std::atomic<unsigned> logHead_{0};
    std::atomic<unsigned> logTail_{0};
};
