#include "zelto/AlsaCards.h"

#include <alsa/asoundlib.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>

namespace zelto {

namespace {

struct MixerCloser {
    void operator()(snd_mixer_t* m) const { snd_mixer_close(m); }
};
using Mixer = std::unique_ptr<snd_mixer_t, MixerCloser>;

Mixer OpenMixer(int card) {
    snd_mixer_t* raw = nullptr;
    if (card < 0 || snd_mixer_open(&raw, 0) < 0)
        return nullptr;
    Mixer mixer(raw);
    const std::string name = "hw:" + std::to_string(card);
    if (snd_mixer_attach(raw, name.c_str()) < 0 ||
        snd_mixer_selem_register(raw, nullptr, nullptr) < 0 || snd_mixer_load(raw) < 0) {
        return nullptr;
    }
    return mixer;
}

bool NameHas(snd_mixer_elem_t* e, const char* part) {
    const char* name = snd_mixer_selem_get_name(e);
    return name != nullptr && std::string(name).find(part) != std::string::npos;
}

// The element for a control: the capture volume of "Capture" (else the
// first element with one); the playback switch of a "Mic" element; the
// capture switch of an element named "...Mix...".
snd_mixer_elem_t* FindElement(snd_mixer_t* mixer, AlsaControl control) {
    snd_mixer_elem_t* fallback = nullptr;
    for (snd_mixer_elem_t* e = snd_mixer_first_elem(mixer); e != nullptr;
         e = snd_mixer_elem_next(e)) {
        if (!snd_mixer_selem_is_active(e))
            continue;
        switch (control) {
            case AlsaControl::CaptureVolume:
                if (!snd_mixer_selem_has_capture_volume(e))
                    break;
                if (NameHas(e, "Capture"))
                    return e;
                if (fallback == nullptr)
                    fallback = e;
                break;
            case AlsaControl::MonitorSwitch:
                if (snd_mixer_selem_has_playback_switch(e) && NameHas(e, "Mic"))
                    return e;
                break;
            case AlsaControl::MixSwitch:
                if (snd_mixer_selem_has_capture_switch(e) && NameHas(e, "Mix"))
                    return e;
                break;
        }
    }
    return fallback;
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

std::vector<AlsaCard> ListAlsaCards() {
    std::vector<AlsaCard> cards;
    int card = -1;
    while (snd_card_next(&card) >= 0 && card >= 0) {
        AlsaCard c;
        c.index = card;
        c.id = ReadFirstLine("/proc/asound/card" + std::to_string(card) + "/id");
        if (c.id.empty())
            c.id = "card" + std::to_string(card);
        // USB cards say "vvvv:pppp".
        const std::string usb =
            ReadFirstLine("/proc/asound/card" + std::to_string(card) + "/usbid");
        unsigned vendor = 0, product = 0;
        if (usb.size() == 9 && std::sscanf(usb.c_str(), "%4x:%4x", &vendor, &product) == 2) {
            char text[32];
            std::snprintf(text, sizeof text, "USB\\VID_%04X&PID_%04X", vendor, product);
            c.description = text;
        } else {
            c.description = "ALSA\\" + c.id;
        }
        cards.push_back(std::move(c));
    }
    return cards;
}

bool HasAlsaControl(int card, AlsaControl control) {
    Mixer mixer = OpenMixer(card);
    return mixer && FindElement(mixer.get(), control) != nullptr;
}

std::optional<float> ReadAlsaControl(int card, AlsaControl control) {
    Mixer mixer = OpenMixer(card);
    if (!mixer)
        return std::nullopt;
    snd_mixer_elem_t* e = FindElement(mixer.get(), control);
    if (e == nullptr)
        return std::nullopt;
    if (control == AlsaControl::CaptureVolume) {
        long lo = 0, hi = 0, v = 0;
        if (snd_mixer_selem_get_capture_volume_range(e, &lo, &hi) < 0 || hi <= lo)
            return std::nullopt;
        snd_mixer_selem_channel_id_t ch = SND_MIXER_SCHN_FRONT_LEFT;
        if (!snd_mixer_selem_has_capture_channel(e, ch))
            ch = SND_MIXER_SCHN_MONO;
        if (snd_mixer_selem_get_capture_volume(e, ch, &v) < 0)
            return std::nullopt;
        return static_cast<float>(v - lo) / static_cast<float>(hi - lo);
    }
    int on = 0;
    const int r = control == AlsaControl::MonitorSwitch
                      ? snd_mixer_selem_get_playback_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on)
                      : snd_mixer_selem_get_capture_switch(e, SND_MIXER_SCHN_FRONT_LEFT, &on);
    if (r < 0)
        return std::nullopt;
    return on != 0 ? 1.0f : 0.0f;
}

bool WriteAlsaControl(int card, AlsaControl control, float value) {
    Mixer mixer = OpenMixer(card);
    if (!mixer)
        return false;
    snd_mixer_elem_t* e = FindElement(mixer.get(), control);
    if (e == nullptr)
        return false;
    if (control == AlsaControl::CaptureVolume) {
        long lo = 0, hi = 0;
        if (snd_mixer_selem_get_capture_volume_range(e, &lo, &hi) < 0 || hi <= lo)
            return false;
        const float clamped = std::fmin(std::fmax(value, 0.0f), 1.0f);
        const long v = lo + std::lround(clamped * static_cast<float>(hi - lo));
        return snd_mixer_selem_set_capture_volume_all(e, v) >= 0;
    }
    const int on = value != 0.0f ? 1 : 0;
    return (control == AlsaControl::MonitorSwitch
                ? snd_mixer_selem_set_playback_switch_all(e, on)
                : snd_mixer_selem_set_capture_switch_all(e, on)) >= 0;
}

}  // namespace zelto
