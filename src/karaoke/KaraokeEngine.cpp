#include "karaoke/KaraokeEngine.h"

#include <atomic>

namespace {

// The program's own parts as far as they exist: the mixer. The endpoint
// clients, the media resolver, the evaluation and the key shifter are
// installed here by the parts that build them.
class ProgramEngineFactory final : public IKaraokeEngineFactory {
  public:
    std::unique_ptr<SoundMixer> CreateMixer() override { return std::make_unique<SoundMixer>(); }
    std::unique_ptr<ICaptureClient> CreateCapture(SoundMixer&) override { return nullptr; }
    std::unique_ptr<IRenderClient> CreateRender(SoundMixer&) override { return nullptr; }
    AudioResult ResolveMedia(const std::wstring&, std::shared_ptr<const platform::MediaSource>*,
                             std::int64_t* durationMs) override {
        if (durationMs != nullptr) {
            *durationMs = 0;
        }
        return kAudioFail;
    }
    IKaraokeEvaluation* Evaluation() override { return nullptr; }
    IKeyShifterModule* KeyShifter() override { return nullptr; }
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
