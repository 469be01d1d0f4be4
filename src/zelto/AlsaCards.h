#pragma once
// The ALSA side of the sound-card layer: the cards present, and the three
// mixer controls the layer maps onto the vendor operations where a card has
// them (capture volume, the capture-to-playback monitor switch, a capture
// source switch for the mix with the wave output).
#include <optional>
#include <string>
#include <vector>

namespace zelto {

struct AlsaCard {
    int index = -1;
    std::string id;           // "PCH", "Device", ...
    std::string description;  // "USB\VID_xxxx&PID_xxxx" for a USB card, else "ALSA\<id>"
};

std::vector<AlsaCard> ListAlsaCards();

enum class AlsaControl { CaptureVolume, MonitorSwitch, MixSwitch };

// Reads a control: a scalar 0..1 for the volume, 0 or 1 for a switch.
// nullopt when the card has no such control or ALSA fails.
std::optional<float> ReadAlsaControl(int card, AlsaControl control);
// False when the card has no such control or ALSA fails.
bool WriteAlsaControl(int card, AlsaControl control, float value);
bool HasAlsaControl(int card, AlsaControl control);

}  // namespace zelto
