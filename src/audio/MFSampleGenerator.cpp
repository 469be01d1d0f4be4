#include "audio/MFSampleGenerator.h"

#include <filesystem>
#include <system_error>

#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/media/GrowingFile.h"
#include "platform/media/MediaReader.h"
#include "platform/media/MediaSource.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"
#include "platform/thread/ThreadPriority.h"

using platform::HResult;

namespace {

// "KTV_Temp2/" under the per-user temp folder (never a shared /tmp name).
std::string DefaultTempFolder() {
    const std::wstring base = platform::UserTempFolder();
    if (base.empty()) {
        return {};
    }
    return platform::ToUtf8(base) + "KTV_Temp2/";
}

// The folder and its missing parents, owner-only where this creates them.
bool MakeFolder(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(folder);
    if (fs::is_directory(path, ec)) {
        return true;
    }
    fs::create_directories(path, ec);
    if (!fs::is_directory(path, ec)) {
        return false;
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, ec);
    return true;
}

}  // namespace

MFSampleGenerator::MFSampleGenerator(IMFSampleGeneratorSink* mixer, bool voice)
    : MFSampleGenerator(mixer, voice, Options{}) {}

MFSampleGenerator::MFSampleGenerator(IMFSampleGeneratorSink* mixer, bool voice, Options options)
    : mixer_(mixer), voice_(voice), options_(std::move(options)) {}

MFSampleGenerator::~MFSampleGenerator() {
    Shutdown();
    std::lock_guard lock(lock_);
    CloseTempFile();
}

void MFSampleGenerator::ReportReady() {
    if (mixer_ != nullptr) {
        mixer_->SetSourceReady(voice_, true);
    }
}

HResult MFSampleGenerator::Configure(std::shared_ptr<const platform::MediaSource> source,
                                     std::uint32_t framesPerBlock,
                                     const platform::AudioFormat& target) {
    HResult hr = platform::kOk;
    {
        std::lock_guard lock(lock_);
        if (thread_.joinable()) {
            return platform::kUnexpected;  // decoding runs or ran: Shutdown first
        }
        source_ = std::move(source);
        target_ = target;
        reader_.reset();
        resampler_.reset();
        configured_ = false;
        resampling_ = false;
        state_ = ReaderStateStopped;

        if (!source_ || target.bitsPerSample != 16 || target.floatingPoint ||
            target.channels == 0 || target.channels > 8 || target.sampleRate == 0) {
            hr = platform::kInvalidArg;
        }
        if (platform::Succeeded(hr)) {
            platform::DebugOutput("Begin ConfigureStreams.\n");
            platform::MediaReaderOptions readerOptions;
            readerOptions.channels = target.channels;
            readerOptions.bitsPerSample = 16;
            hr = platform::MediaReader::Create(*source_, readerOptions, &reader_);
        }
        if (platform::Succeeded(hr)) {
            const platform::AudioFormat native = reader_->OutputFormat();
            if (native.sampleRate != target.sampleRate) {
                // Without a working resampler the samples would play at the
                // wrong speed: that is a failed configuration, not a pass-through.
                resampler_ = std::make_unique<MFResampler>();
                hr = resampler_->Initialize(native, target);
                resampling_ = platform::Succeeded(hr);
            }
        }
        if (platform::Succeeded(hr)) {
            platform::DebugOutput("ConfigureStreams Succeed.\n");
            chunkLength_ = target.BytesPerFrame() * framesPerBlock;
            if (!tempFile_) {
                const std::string folder =
                    options_.tempFolder.empty() ? DefaultTempFolder() : options_.tempFolder;
                if (folder.empty() || !MakeFolder(folder)) {
                    hr = platform::kAccessDenied;
                } else {
                    tempPath_ =
                        folder + (folder.back() == '/' ? "" : "/") + (voice_ ? "KTEMP2" : "KTEMP1");
                    hr = platform::GrowingFile::Create(tempPath_, &tempFile_);
                    if (platform::Succeeded(hr)) {
                        platform::DebugOutput(
                            platform::Format("m_pTempFile({}) Open Succeed.\n",
                                             static_cast<const void*>(tempFile_->Writer())));
                    }
                }
            }
        }
        if (platform::Succeeded(hr)) {
            configured_ = true;
            bytesWritten_ = 0;
        } else {
            reader_.reset();
            resampler_.reset();
            resampling_ = false;
        }
    }
    if (platform::Failed(hr)) {
        // The window waits for the ready flag; a source that cannot be
        // decoded must release it just as a source that cannot be opened.
        ReportReady();
    }
    return hr;
}

HResult MFSampleGenerator::StartSource() {
    std::unique_lock lock(lock_);
    if (!configured_) {
        lock.unlock();
        ReportReady();
        return platform::kUnexpected;
    }
    const ReaderState state = state_.load();
    if (state == ReaderStatePreRoll || state == ReaderStatePlaying || state == ReaderStateEnded ||
        thread_.joinable()) {
        return platform::kFalse;
    }
    if (mixer_ != nullptr) {
        mixer_->SetSourceReady(voice_, false);
    }
    attached_ = mixer_;
    state_ = ReaderStatePreRoll;
    running_ = true;
    try {
        thread_ = std::thread(&MFSampleGenerator::DecodeLoop, this);
    } catch (const std::system_error& e) {
        running_ = false;
        state_ = ReaderStateStopped;
        const HResult hr = platform::kOutOfMemory;
        platform::DebugOutput(
            platform::Format("hr = m_MFSourceReader->ReadSample( "
                             "MF_SOURCE_READER_FIRST_AUDIO_STREAM, 0, nullptr, nullptr, "
                             "nullptr, nullptr ); return {:x}.\n",
                             static_cast<std::uint32_t>(hr)));
        lock.unlock();
        ReportReady();
        return hr;
    }
    platform::DebugOutput("Set m_ReaderState = ReaderStatePreRoll;.\n");
    return platform::kOk;
}

HResult MFSampleGenerator::StopSource() {
    std::lock_guard lock(lock_);
    platform::DebugOutput("MFSampleGenerator::StopSource.\n");
    state_ = ReaderStateStopped;
    return platform::kOk;
}

HResult MFSampleGenerator::Shutdown() {
    {
        std::lock_guard lock(lock_);
        const ReaderState state = state_.load();
        if (state == ReaderStatePreRoll || state == ReaderStatePlaying) {
            state_ = ReaderStateStopped;
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard lock(lock_);
    if (configured_) {
        reader_.reset();
        resampler_.reset();
        resampling_ = false;
        configured_ = false;
    }
    CloseTempFile();
    return platform::kOk;
}

bool MFSampleGenerator::WaitUntilDone(int timeoutMs) {
    std::unique_lock lock(lock_);
    if (timeoutMs < 0) {
        done_.wait(lock, [this] { return !running_; });
        return true;
    }
    return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !running_; });
}

void MFSampleGenerator::CloseTempFile() {
    if (tempFile_) {
        // Readers behind the writer see the end now instead of waiting.
        tempFile_->Finish();
        tempFile_.reset();
    }
}

bool MFSampleGenerator::Append(std::span<const std::byte> pcm, HandOverSlot* handOver) {
    if (pcm.empty()) {
        return true;
    }
    std::FILE* file = tempFile_ ? tempFile_->Writer() : nullptr;
    if (file == nullptr) {
        return false;
    }
    if (std::fwrite(pcm.data(), 1, pcm.size(), file) != pcm.size()) {
        return false;
    }
    const std::uint64_t written = bytesWritten_.fetch_add(pcm.size()) + pcm.size();
    if (attached_ == nullptr) {
        // Handed over already: make every sample visible to the reader.
        return tempFile_->Publish();
    }
    const std::uint64_t threshold = std::uint64_t{target_.BytesPerSecond()} * 10;
    if (options_.earlyHandOver && written >= threshold) {
        if (!tempFile_->Publish()) {
            return false;
        }
        std::FILE* reader = tempFile_->OpenReader();
        if (reader != nullptr) {
            handOver->file = reader;
            handOver->ready = true;
            attached_ = nullptr;
        }
    }
    return true;
}

void MFSampleGenerator::EndOfStream(HandOverSlot* handOver) {
    state_ = ReaderStateEnded;
    if (attached_ != nullptr && tempFile_) {
        // The whole file, still open and positioned at its end.
        handOver->file = tempFile_->ReleaseWriter();
        handOver->ready = true;
        attached_ = nullptr;
    } else if (attached_ != nullptr) {
        handOver->ready = true;  // nothing to give, but no one may wait for ever
        attached_ = nullptr;
    }
    CloseTempFile();
}

void MFSampleGenerator::Deliver(const HandOverSlot& handOver) {
    if (mixer_ == nullptr) {
        if (handOver.file != nullptr) {
            std::fclose(handOver.file);
        }
        return;
    }
    // The file first: a mixer that sees the flag finds its file.
    if (handOver.file != nullptr) {
        mixer_->SetSourceFile(handOver.file, voice_);
    }
    if (handOver.ready) {
        mixer_->SetSourceReady(voice_, true);
    }
}

void MFSampleGenerator::DecodeLoop() {
    platform::SetCurrentThreadName("vk-decode");
    bool lowered = false;
    for (;;) {
        HandOverSlot handOver;
        bool finished = false;
        HResult hr = reader_->Read(&decoded_);
        {
            std::lock_guard lock(lock_);
            const ReaderState state = state_.load();
            if (state != ReaderStatePreRoll && state != ReaderStatePlaying) {
                platform::DebugOutput(platform::Format(
                    "m_ReaderState != ReaderStatePlaying && m_ReaderState != ReaderStatePreRoll, "
                    "m_ReaderState = {}.\n",
                    static_cast<int>(state)));
                CloseTempFile();
                finished = true;
            } else if (hr == platform::kOk) {
                std::span<const std::byte> pcm(decoded_);
                bool ok = true;
                if (resampling_) {
                    ok = platform::Succeeded(resampler_->Resample(decoded_, &converted_));
                    pcm = converted_;
                }
                if (!ok || !Append(pcm, &handOver)) {
                    // A converter or a write that fails ends the stream where it is.
                    EndOfStream(&handOver);
                    finished = true;
                }
            } else {
                // End of stream, or a read or decode error treated as one.
                if (resampling_ && platform::Succeeded(resampler_->Drain(&converted_))) {
                    Append(converted_, &handOver);
                }
                EndOfStream(&handOver);
                finished = true;
            }
        }
        Deliver(handOver);
        if (finished) {
            break;
        }
        if (handOver.file != nullptr && !lowered) {
            // The window waits for the first 10 s at full speed; the rest is
            // decoded beside the live performance and must never compete
            // with the audio threads.
            platform::SetCurrentThreadPriority(platform::ThreadPriority::BelowNormal);
            lowered = true;
        }
    }
    std::lock_guard lock(lock_);
    running_ = false;
    done_.notify_all();
}
