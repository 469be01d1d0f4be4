#pragma once
// What the karaoke player is built from. The engine factory gives the
// player its mixer, its capture and render clients, the media resolver, the
// singing evaluation and the key shifter; the program installs the real
// ones, tests their own. A part that is missing is reported where it is
// needed: no clients means Play fails and the state stays stopped; no
// evaluation means the voice passes unprocessed; no key shifter means the
// music passes unshifted.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/AudioClients.h"
#include "audio/IVoiceProcessor.h"
#include "audio/SoundMixer.h"

// The singing evaluation as the player and the controller use it.
class IKaraokeEvaluation : public IVoiceProcessor {
  public:
    // Takes over the song's reference melody for a live performance.
    virtual bool Start() = 0;
    // Writes the score data files into the folder (ends with '/').
    virtual void SaveResults(const std::wstring& folder) = 0;
    // Switches the key shifter on with the stored key.
    virtual void ApplyKey() = 0;
    // Stores the key and transposes the reference melody.
    virtual void SetKey(int semitones) = 0;
    // Echo and reverb together; off passes the voice through unchanged.
    virtual void SetEffects(bool on) = 0;
    virtual bool EffectsOn() const = 0;
};

// The process-wide key shifter of the music.
class IKeyShifterModule : public IMusicKeyShifter {
  public:
    virtual int InitPitchShifter(unsigned channels) = 0;
    virtual void SetPitchShifterValue(int semitones) = 0;
    // Switches shifting on with the key last set (what the evaluation's
    // ApplyKey does when there is an evaluation).
    virtual void ApplyCurrentKey() = 0;
};

class IKaraokeEngineFactory {
  public:
    virtual ~IKaraokeEngineFactory() = default;
    virtual std::unique_ptr<SoundMixer> CreateMixer() = 0;
    // Null when there is no such device.
    virtual std::unique_ptr<ICaptureClient> CreateCapture(SoundMixer& mixer) = 0;
    virtual std::unique_ptr<IRenderClient> CreateRender(SoundMixer& mixer) = 0;
    // Opens and probes a media file: its source for the decoders and its
    // duration in milliseconds.
    virtual AudioResult ResolveMedia(const std::wstring& path,
                                     std::shared_ptr<const platform::MediaSource>* source,
                                     std::int64_t* durationMs) = 0;
    virtual IKaraokeEvaluation* Evaluation() = 0;
    virtual IKeyShifterModule* KeyShifter() = 0;
};

// The factory the player uses (not owned). Null restores the program's own.
void SetKaraokeEngineFactory(IKaraokeEngineFactory* factory);
IKaraokeEngineFactory& GetKaraokeEngineFactory();
