#pragma once
// The output client: opens the render endpoint in the engine's format with
// one-block periods; its thread asks the mixer for every period and ends by
// itself (exit code 1) when the position reaches the song's duration. It
// also owns the decoders of the sources the mixer plays.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/AudioClients.h"
#include "audio/MFSampleGenerator.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/thread/Event.h"

class SoundMixer;

class CWASAPIRender final : public IRenderClient {
  public:
    CWASAPIRender(SoundMixer* mixer, std::shared_ptr<platform::AudioEndpoint> endpoint);
    ~CWASAPIRender() override;
    CWASAPIRender(const CWASAPIRender&) = delete;
    CWASAPIRender& operator=(const CWASAPIRender&) = delete;

    AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) override;
    AudioResult StartClient(bool resume) override;
    AudioResult StopClient(bool pause) override;
    void ReleaseClient() override;
    void SetListener(IKaraokePlayerListener* listener) override { listener_ = listener; }
    void SetSongDuration(std::int64_t ms) override { duration_.store(ms); }
    int WaitForThreadEnd() override;

    AudioResult SetSource(std::shared_ptr<const platform::MediaSource> source, int index) override;
    AudioResult StartSources() override;
    AudioResult StopSources() override;

    // Where the decoders put their temp files (empty: their default).
    void SetDecoderTempFolder(std::string folder) { decoderTemp_ = std::move(folder); }

  private:
    void RenderLoop();
    void Raise(int event);

    SoundMixer* mixer_;
    std::shared_ptr<platform::AudioEndpoint> endpoint_;
    std::unique_ptr<platform::AudioStream> stream_;
    std::unique_ptr<platform::Event> shutdown_;
    platform::Event* startEvent_ = nullptr;
    IKaraokePlayerListener* listener_ = nullptr;
    int blockDurationMs_ = 16;
    std::uint32_t frameSize_ = 4;
    std::uint32_t bufferFrames_ = 0;
    std::atomic<std::int64_t> duration_{0};
    std::thread thread_;
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool threadRunning_ = false;
    int exitCode_ = 0;

    std::shared_ptr<const platform::MediaSource> musicSource_;
    std::shared_ptr<const platform::MediaSource> vocalSource_;
    std::unique_ptr<MFSampleGenerator> musicGenerator_;
    std::unique_ptr<MFSampleGenerator> vocalGenerator_;
    std::string decoderTemp_;
};
