#pragma once
// The microphone client: opens the capture endpoint in the engine's format
// with one-block periods, and its thread hands every captured period to the
// mixer and signals the player's start event.
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "audio/AudioClients.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/thread/Event.h"

class SoundMixer;

class CWASAPICapture final : public ICaptureClient {
  public:
    CWASAPICapture(SoundMixer* mixer, std::shared_ptr<platform::AudioEndpoint> endpoint);
    ~CWASAPICapture() override;
    CWASAPICapture(const CWASAPICapture&) = delete;
    CWASAPICapture& operator=(const CWASAPICapture&) = delete;

    AudioResult InitializeClient(int blockDurationMs, platform::Event* startEvent) override;
    AudioResult StartClient(bool resume) override;
    AudioResult StopClient(bool pause) override;
    void ReleaseClient() override;
    void SetListener(IKaraokePlayerListener* listener) override { listener_ = listener; }

    // Blocks captured since the latest start.
    int BlockCount() const { return blockCount_.load(std::memory_order_relaxed); }
    // The error that ended the capture thread (a lost device), or 0.
    AudioResult ThreadError() const { return threadError_.load(); }

  private:
    void CaptureLoop();
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
    int threshold_ = 0;
    std::unique_ptr<std::uint8_t[]> silence_;
    std::atomic<int> blockCount_{0};
    std::atomic<AudioResult> threadError_{kAudioOk};
    std::thread thread_;
};
