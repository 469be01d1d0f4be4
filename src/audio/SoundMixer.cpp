#include "audio/SoundMixer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "karaoke/context/KaraokeContext.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/Format.h"

namespace {

std::int16_t Saturate16(std::int32_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}

// The release of the lock the render thread took before FillRenderBlock,
// on every way out.
class UnlockOnExit {
  public:
    explicit UnlockOnExit(SoundMixer& mixer) : mixer_(mixer) {}
    ~UnlockOnExit() { mixer_.Unlock(); }
    UnlockOnExit(const UnlockOnExit&) = delete;
    UnlockOnExit& operator=(const UnlockOnExit&) = delete;

  private:
    SoundMixer& mixer_;
};

}  // namespace

SoundMixer::SoundMixer(platform::Clock& clock) : clock_(clock) {
    Construct(nullptr, true);
}

SoundMixer::SoundMixer(platform::Clock& clock, const DeviceLibraryFunctions* library)
    : clock_(clock) {
    Construct(library, false);
}

void SoundMixer::Construct(const DeviceLibraryFunctions* library, bool bindFromProgramFolder) {
    std::wstring programFolder;
    if (CKaraokeContext* context = GetKaraokeContext()) {
        format_ = *context->GetAudioFormat();
        blockDuration_ = context->GetBlockDuration();
        programFolder = context->GetProgramFolder();
    }
    blockLength_ = BlockLengthBytes(format_, blockDuration_);
    musicRing_ = std::make_unique<CBufferArrary>(blockLength_);
    vocalRing_ = std::make_unique<CBufferArrary>(blockLength_);
    recordingRing_ = std::make_unique<CBufferArrary>(blockLength_);
    monitorRing_ = std::make_unique<CBufferArrary>(blockLength_);
    workA_.reset(new std::uint8_t[blockLength_]());
    workB_.reset(new std::uint8_t[blockLength_]());
    staging_.reset(new std::uint8_t[blockLength_]());
    mixedWriter_ = std::make_unique<CWaveFileWriter>(format_, false, blockDuration_);
    voiceWriter_ = std::make_unique<CWaveFileWriter>(format_, true, blockDuration_);

    if (library != nullptr) {
        library_.BindTable(*library);
    } else if (bindFromProgramFolder) {
        library_.Bind(programFolder);
    }
    if (library_.Functions().ConfLibInit != nullptr) {
        library_.Functions().ConfLibInit();
    }
    DumpLibraryMessage();
}

SoundMixer::~SoundMixer() {
    Stop();
    CloseSourceFiles();
    if (library_.Functions().ConfLibUnInit != nullptr) {
        library_.Functions().ConfLibUnInit();
    }
    DumpLibraryMessage();
    library_.Unbind();
}

void SoundMixer::DumpLibraryMessage() {
    if (library_.Functions().DumpMSG == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(messageMutex_);
    library_.Functions().DumpMSG(libraryMessage_, DeviceLibrary::kMessageChars);
    libraryMessage_[DeviceLibrary::kMessageChars - 1] = L'\0';
}

std::wstring SoundMixer::LibraryMessage() const {
    std::lock_guard<std::mutex> guard(messageMutex_);
    return std::wstring(libraryMessage_);
}

AudioResult SoundMixer::Initialize() {
    platform::LockGuard guard(lock_);
    if (initialized_) {
        return kAudioWrongState;
    }
    CKaraokeContext* context = GetKaraokeContext();
    live_ = context == nullptr || !context->IsReplay();
    hasBaseTime_ = false;
    baseTime_ = 0;
    counter_.store(0, std::memory_order_release);
    dropped_.store(0, std::memory_order_relaxed);
    recordingDrops_.store(0, std::memory_order_relaxed);
    pendingRecordingDrops_ = 0;
    staged_ = 0;
    stopEvent_.Reset();
    firstHalfEvent_.Reset();
    secondHalfEvent_.Reset();
    pendingFirstHalf_.store(false);
    pendingSecondHalf_.store(false);
    initialized_ = true;

    if (live_) {
        const std::wstring folder = context != nullptr ? context->GetRecordFolder() : L"";
        if (folder.empty() || !mixedWriter_->Open(folder + L"Mixed.wav") ||
            !voiceWriter_->Open(folder + L"Vocal.wav")) {
            mixedWriter_->Close();
            voiceWriter_->Close();
            initialized_ = false;
            return kAudioFileError;
        }
        if (library_.Functions().DisabletKaraokeEffect != nullptr) {
            library_.Functions().DisabletKaraokeEffect();
            effectDisabled_ = true;
        }
        DumpLibraryMessage();
    }
    platform::DebugOutput("SoundMixer Initialized.\n");
    return kAudioOk;
}

void SoundMixer::FillWholeRing(std::FILE* file, CBufferArrary& ring) {
    ring.Reset();
    if (file != nullptr) {
        ring.FillFromFile(file, 0, CBufferArrary::kSlots - 1);
    }
}

AudioResult SoundMixer::Start() {
    platform::LockGuard guard(lock_);
    if (!initialized_ || reader_.joinable()) {
        return kAudioWrongState;
    }
    {
        std::lock_guard<std::mutex> source(sourceMutex_);
        if (musicFile_ != nullptr) {
            std::fseek(musicFile_, 0, SEEK_SET);
            FillWholeRing(musicFile_, *musicRing_);
        }
        if (vocalFile_ != nullptr) {
            std::fseek(vocalFile_, 0, SEEK_SET);
            FillWholeRing(vocalFile_, *vocalRing_);
        }
    }
    try {
        reader_ = std::thread([this] { ReaderLoop(); });
    } catch (const std::system_error&) {
        return kAudioFail;
    }
    platform::DebugOutput("SoundMixer Started.\n");
    return kAudioOk;
}

void SoundMixer::ReaderLoop() {
    platform::Event* events[] = {&stopEvent_, &firstHalfEvent_, &secondHalfEvent_};
    for (;;) {
        // The time-out only paces the diagnostic lines of the render side.
        const int which = platform::WaitAny(events, 200);
        DrainLog();
        if (which == 0) {
            break;
        }
        if (which > 0) {
            RefillHalves();
        }
    }
}

void SoundMixer::RefillHalves() {
    std::lock_guard<std::mutex> source(sourceMutex_);
    // A request a seek has cleared in the meantime is gone: its half now
    // holds the blocks after the new position.
    for (int half = 0; half < 2; ++half) {
        std::atomic<bool>& pending = half == 0 ? pendingFirstHalf_ : pendingSecondHalf_;
        if (!pending.exchange(false, std::memory_order_acq_rel)) {
            continue;
        }
        const int first = half * kRefillBlocks;
        const int last = first + kRefillBlocks - 1;
        if (musicFile_ != nullptr) {
            musicRing_->FillFromFile(musicFile_, first, last);
        }
        if (!live_ && vocalFile_ != nullptr) {
            vocalRing_->FillFromFile(vocalFile_, first, last);
        }
        refills_.fetch_add(1, std::memory_order_release);
    }
}

void SoundMixer::OnCaptureBlock(const std::uint8_t* data, std::uint32_t bytes) {
    if (data == nullptr) {
        return;
    }
    platform::LockGuard guard(lock_);
    if (!initialized_ || !live_) {
        return;
    }
    // Devices may deliver periods of any size: only whole blocks go on.
    while (bytes > 0) {
        const std::uint32_t n = std::min(bytes, blockLength_ - staged_);
        std::memcpy(staging_.get() + staged_, data, n);
        staged_ += n;
        data += n;
        bytes -= n;
        if (staged_ == blockLength_) {
            staged_ = 0;
            ProcessCapturedBlock(staging_.get());
        }
    }
}

void SoundMixer::ProcessCapturedBlock(std::uint8_t* block) {
    voiceWriter_->PushBlock(block);  // "Vocal.wav" holds the raw microphone
    if (monitorRing_->IsWriteSlotFull()) {
        return;  // the render side is behind: this block is neither heard nor mixed
    }
    std::uint8_t* monitor = monitorRing_->WriteSlotData();
    std::memset(monitor, 0, blockLength_);
    const int frames = static_cast<int>(format_.samplesPerSec / 1000) * 16;
    const std::uint32_t stepBytes = static_cast<std::uint32_t>(frames) * format_.blockAlign;
    for (std::uint32_t offset = 0; offset + stepBytes <= blockLength_; offset += stepBytes) {
        short* voice = reinterpret_cast<short*>(block + offset);
        short* heard = reinterpret_cast<short*>(monitor + offset);
        if (voiceProcessor_ != nullptr) {
            voiceProcessor_->ProcessBlock(voice, voice, frames, heard);
        } else {
            std::memcpy(heard, voice, stepBytes);
        }
    }
    const std::uint32_t now = static_cast<std::uint32_t>(clock_.NowMs());
    int time = 0;
    if (!hasBaseTime_) {
        hasBaseTime_ = true;
        baseTime_ = now;
    } else {
        time = static_cast<int>(now - baseTime_);
    }
    recordingRing_->PushCopy(block, time);
    monitorRing_->Commit(time);
}

void SoundMixer::PushLog(int kind, int a, int b, int c) {
    const unsigned head = logHead_.load(std::memory_order_relaxed);
    if (head - logTail_.load(std::memory_order_acquire) >= kLogRecords) {
        return;  // the reader thread is behind on diagnostics: lose the line
    }
    log_[head % kLogRecords] = LogRecord{kind, a, b, c};
    logHead_.store(head + 1, std::memory_order_release);
}

void SoundMixer::DrainLog() {
    unsigned tail = logTail_.load(std::memory_order_relaxed);
    const unsigned head = logHead_.load(std::memory_order_acquire);
    for (; tail != head; ++tail) {
        const LogRecord r = log_[tail % kLogRecords];
        if (r.kind == 0) {
            platform::DebugOutput(platform::Format(
                "Capture add buffer at {}, Render get buffer at {}, Elapsed {}.\n", r.a, r.b, r.c));
        } else {
            platform::DebugOutput(platform::Format("{} frame(s) is (are) dropped.\n", r.a));
        }
        logTail_.store(tail + 1, std::memory_order_release);
    }
}

AudioResult SoundMixer::FillRenderBlock(std::uint8_t* out, std::uint32_t* written) {
    UnlockOnExit release(*this);
    if (out == nullptr || written == nullptr || !initialized_) {
        return kAudioOk;
    }
    CBufferArrary& source = live_ ? *monitorRing_ : *vocalRing_;
    if (!source.AnyFull()) {
        return kAudioOk;
    }
    std::uint8_t* voice = nullptr;
    int time = 0;
    if (source.Pop(&voice, &time) == 0) {
        return kAudioOk;
    }
    if (live_) {
        const int now = static_cast<int>(static_cast<std::uint32_t>(clock_.NowMs()) - baseTime_);
        const int lateness = now - time;
        PushLog(0, time, now, lateness);
        if (lateness > kLatenessLimitMs) {
            // One block per 160 ms of excess, rounded up, in integers.
            const int per = 10 * blockDuration_;
            const int n = (lateness - kLatenessLimitMs + per - 1) / per;
            platform::LockGuard again(lock_);
            int droppedNow = 0;
            while (droppedNow < n && monitorRing_->DropOldest() != 0) {
                ++droppedNow;
            }
            if (droppedNow > 0) {
                // The recording keeps step with what is heard; the matching
                // recording blocks go once this block's own one is taken.
                pendingRecordingDrops_ += droppedNow;
                dropped_.fetch_add(static_cast<std::uint64_t>(droppedNow),
                                   std::memory_order_relaxed);
                PushLog(1, droppedNow, 0, 0);
            }
        }
    }
    MixBlock(out, voice, blockLength_);
    *written = blockLength_;
    if (live_) {
        mixedWriter_->PushBlock(workA_.get());
    }
    return kAudioOk;
}

void SoundMixer::MixBlock(std::uint8_t* out, std::uint8_t* voice, std::uint32_t length) {
    platform::LockGuard guard(lock_);
    if (out == nullptr || voice == nullptr || length != blockLength_ || !workA_ || !workB_) {
        return;
    }
    std::uint8_t* a = workA_.get();
    std::uint8_t* b = workB_.get();
    std::memcpy(a, voice, length);
    std::memset(b, 0, length);

    std::uint8_t* music = nullptr;
    if (musicRing_->Pop(&music, nullptr) != 0) {
        // Copied out before a refill may be asked for: the reader thread may
        // rewrite this slot as soon as its half is requested.
        std::memcpy(b, music, length);
        if (live_ && keyShifter_ != nullptr && keyShifter_->IsOn()) {
            keyShifter_->Shift(reinterpret_cast<short*>(b), length / format_.blockAlign);
        }
        const std::uint64_t counter = counter_.fetch_add(1, std::memory_order_acq_rel) + 1;
        if (counter % kRefillBlocks == 0) {
            if (counter % (2 * kRefillBlocks) == 0) {
                pendingSecondHalf_.store(true, std::memory_order_release);
                secondHalfEvent_.Set();
            } else {
                pendingFirstHalf_.store(true, std::memory_order_release);
                firstHalfEvent_.Set();
            }
        }
    }

    if (!live_) {
        ScaleReplay(out, replayVoiceOnly_.load() ? a : b, length);
        return;
    }
    Mix(a, b, length, format_.bitsPerSample);
    std::memcpy(out, a, length);

    std::uint8_t* recorded = nullptr;
    if (recordingRing_->Pop(&recorded, nullptr) != 0) {
        for (; pendingRecordingDrops_ > 0; --pendingRecordingDrops_) {
            if (recordingRing_->DropOldest() == 0) {
                pendingRecordingDrops_ = 0;
                break;
            }
            recordingDrops_.fetch_add(1, std::memory_order_relaxed);
        }
        std::memcpy(a, recorded, length);
        Mix(a, b, length, format_.bitsPerSample);
    }
}

AudioResult SoundMixer::Mix(std::uint8_t* a, const std::uint8_t* b, std::uint32_t bytes,
                            int bitsPerSample) const {
    if (a == nullptr || b == nullptr) {
        return kAudioFail;
    }
    if (bitsPerSample == 16) {
        const float gain = musicGain_.load(std::memory_order_relaxed);
        const std::uint32_t n = bytes / 2;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::int16_t sa;
            std::int16_t sb;
            std::memcpy(&sa, a + 2 * i, 2);
            std::memcpy(&sb, b + 2 * i, 2);
            const float scaled = static_cast<float>(sb) * gain;
            const std::int16_t value =
                Saturate16(static_cast<std::int32_t>(scaled) + static_cast<std::int32_t>(sa));
            std::memcpy(a + 2 * i, &value, 2);
        }
        return kAudioOk;
    }
    if (bitsPerSample == 8) {
        for (std::uint32_t i = 0; i < bytes; ++i) {
            a[i] = static_cast<std::uint8_t>(a[i] + b[i] - 128);
        }
        return kAudioOk;
    }
    return kAudioFail;
}

void SoundMixer::ScaleReplay(std::uint8_t* out, const std::uint8_t* in, std::uint32_t bytes) const {
    const float gain = replayGain_.load(std::memory_order_relaxed);
    const std::uint32_t n = bytes / 2;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::int16_t s;
        std::memcpy(&s, in + 2 * i, 2);
        const std::int16_t value =
            Saturate16(static_cast<std::int32_t>(static_cast<float>(s) * gain));
        std::memcpy(out + 2 * i, &value, 2);
    }
}

void SoundMixer::Stop() {
    {
        platform::LockGuard guard(lock_);
        if (!initialized_) {
            return;
        }
    }
    if (live_) {
        mixedWriter_->Close();
        voiceWriter_->Close();
    }
    if (reader_.joinable()) {
        stopEvent_.Set();
        reader_.join();
    }
    DrainLog();
    {
        platform::LockGuard guard(lock_);
        std::lock_guard<std::mutex> source(sourceMutex_);
        counter_.store(0, std::memory_order_release);
        musicRing_->Reset();
        vocalRing_->Reset();
        recordingRing_->Reset();
        monitorRing_->Reset();
        std::memset(workA_.get(), 0, blockLength_);
        std::memset(workB_.get(), 0, blockLength_);
        pendingFirstHalf_.store(false);
        pendingSecondHalf_.store(false);
        pendingRecordingDrops_ = 0;
        staged_ = 0;
        initialized_ = false;
    }
    if (effectDisabled_) {
        if (library_.Functions().RecoverKaraokeEffect != nullptr) {
            library_.Functions().RecoverKaraokeEffect();
        }
        effectDisabled_ = false;
        DumpLibraryMessage();
    }
    stopEvent_.Reset();
    firstHalfEvent_.Reset();
    secondHalfEvent_.Reset();
}

int SoundMixer::Volume(VolumeRequest* request) {
    if (request == nullptr) {
        return -1;
    }
    const auto& fn = library_.Functions();
    if (request->set) {
        if (request->channel < 0 || request->channel > 2 ||
            static_cast<unsigned>(request->value) > 100u) {
            return -1;
        }
        switch (request->channel) {
            case kVolumeMusic:
                musicGain_.store(static_cast<float>(request->value) / 100.0f);
                break;
            case kVolumeRecord:
                if (fn.SetRecordVolumeScalar != nullptr) {
                    fn.SetRecordVolumeScalar(request->value);
                }
                DumpLibraryMessage();
                break;
            default:
                replayGain_.store(static_cast<float>(request->value) / 100.0f);
                break;
        }
        return 0;
    }
    switch (request->channel) {
        case kVolumeMusic:
            request->value = static_cast<int>(std::lround(musicGain_.load() * 100.0f));
            break;
        case kVolumeRecord: {
            int level = 0;
            if (fn.GetRecordVolumeScalar != nullptr && fn.GetRecordVolumeScalar(&level) == 0) {
                level = 0;
            }
            request->value = level;
            DumpLibraryMessage();
            break;
        }
        case kVolumeReplay:
            request->value = static_cast<int>(std::lround(replayGain_.load() * 100.0f));
            break;
        default:
            break;
    }
    return 0;
}

void SoundMixer::Seek(int blocks) {
    platform::LockGuard guard(lock_);
    std::lock_guard<std::mutex> source(sourceMutex_);
    const float steps = std::floor(static_cast<float>(blocks) / 100.0f + 0.5f);
    const std::uint64_t counter =
        steps <= 0.0f ? 0 : static_cast<std::uint64_t>(steps) * kSeekStepBlocks;
    counter_.store(counter, std::memory_order_release);
    // Refill requests from before the jump would overwrite a half with the
    // blocks after the new position and skip 0.8 s.
    pendingFirstHalf_.store(false);
    pendingSecondHalf_.store(false);
    firstHalfEvent_.Reset();
    secondHalfEvent_.Reset();
    const long offset = static_cast<long>(blockLength_ * counter);
    if (musicFile_ != nullptr) {
        std::fseek(musicFile_, offset, SEEK_SET);
        FillWholeRing(musicFile_, *musicRing_);
    }
    if (vocalFile_ != nullptr) {
        std::fseek(vocalFile_, offset, SEEK_SET);
        FillWholeRing(vocalFile_, *vocalRing_);
    }
}

std::int64_t SoundMixer::GetPosition() const {
    return static_cast<std::int64_t>(counter_.load(std::memory_order_acquire)) * blockDuration_;
}

void SoundMixer::SetSourceFile(std::FILE* file, bool voice) {
    {
        platform::LockGuard guard(lock_);
        std::lock_guard<std::mutex> source(sourceMutex_);
        std::FILE*& slot = voice ? vocalFile_ : musicFile_;
        if (slot != nullptr && slot != file) {
            std::fclose(slot);
        }
        slot = file;
    }
    // Published only once the file is in place: whoever sees the flag finds
    // the file.
    (voice ? vocalReady_ : musicReady_).store(true, std::memory_order_release);
}

void SoundMixer::SetSourceReady(bool voice, bool ready) {
    (voice ? vocalReady_ : musicReady_).store(ready, std::memory_order_release);
}

int SoundMixer::CloseSourceFiles() {
    platform::LockGuard guard(lock_);
    std::lock_guard<std::mutex> source(sourceMutex_);
    if (musicFile_ != nullptr) {
        std::fclose(musicFile_);
        musicFile_ = nullptr;
    }
    if (vocalFile_ != nullptr) {
        std::fclose(vocalFile_);
        vocalFile_ = nullptr;
    }
    musicReady_.store(false, std::memory_order_release);
    vocalReady_.store(false, std::memory_order_release);
    return 0;
}

std::uint64_t SoundMixer::RecordingDrops() const {
    return recordingDrops_.load(std::memory_order_relaxed);
}

int SoundMixer::QueuedRecordingBlocks() const {
    return mixedWriter_->QueuedBlocks() + voiceWriter_->QueuedBlocks();
}

std::uint64_t SoundMixer::LostRecordingBlocks() const {
    return mixedWriter_->DroppedBlocks() + voiceWriter_->DroppedBlocks();
}
