#include "karaoke/KaraokeEngine.h"

#include <atomic>

#include "audio/CWASAPICapture.h"
#include "audio/CWASAPIRender.h"
#include "dsp/PitchShifter.h"
#include "karaoke/ScoreEngineEvaluation.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/media/MediaSource.h"
#include "platform/text/Utf.h"

namespace {

// The process-wide key shifter of the music.
class ProgramKeyShifter final : public IKeyShifterModule {
  public:
    bool IsOn() const override { return IsPitchShifterOn(); }
    void Shift(short* samples, unsigned frames) override { ShiftPitch(samples, frames); }
    int InitPitchShifter(unsigned channels) override { return ::InitPitchShifter(channels); }
    void SetPitchShifterValue(int semitones) override { ::SetPitchShifterValue(semitones); }
    void ApplyCurrentKey() override { ApplyKey(GetPitchShifterKey()); }
};

// The program's own parts: the mixer binding the device library, the
// clients on the default endpoints, media files opened by the decoder
// library, the key shifter, the score engine as the singing evaluation.
class ProgramEngineFactory final : public IKaraokeEngineFactory {
  public:
    std::unique_ptr<SoundMixer> CreateMixer() override { return std::make_unique<SoundMixer>(); }
    std::unique_ptr<ICaptureClient> CreateCapture(SoundMixer& mixer) override {
        return std::make_unique<CWASAPICapture>(
            &mixer, platform::AudioEndpoint::Default(platform::AudioDirection::Capture));
    }
    std::unique_ptr<IRenderClient> CreateRender(SoundMixer& mixer) override {
        return std::make_unique<CWASAPIRender>(
            &mixer, platform::AudioEndpoint::Default(platform::AudioDirection::Render));
    }
    AudioResult ResolveMedia(const std::wstring& path,
                             std::shared_ptr<const platform::MediaSource>* source,
                             std::int64_t* durationMs) override {
        std::shared_ptr<platform::MediaSource> opened;
        const AudioResult hr = platform::MediaSource::Open(platform::ToUtf8(path), &opened);
        if (durationMs != nullptr) {
            *durationMs = platform::Succeeded(hr) && opened ? opened->DurationMs() : 0;
        }
        if (source != nullptr) {
            *source = opened;
        }
        return hr;
    }
    IKaraokeEvaluation* Evaluation() override { return &GetScoreEngineEvaluation(); }
    IKeyShifterModule* KeyShifter() override { return &shifter_; }

  private:
    ProgramKeyShifter shifter_;
};

std::atomic<IKaraokeEngineFactory*> g_factory{nullptr};

}  // namespace

void SetKaraokeEngineFactory(IKaraokeEngineFactory* factory) {
    g_factory.store(factory);
}

IKaraokeEngineFactory& GetKaraokeEngineFactory() {
    static ProgramEngineFactory program;
    IKaraokeEngineFactory* factory = g_factory.load();
    return factory != nullptr ? *factory : program;
}
