#pragma once
// One get or set of a volume channel: 0 backing-track level in the live mix,
// 1 the sound card's recording level, 2 replay level; values 0 to 100.
struct VolumeRequest {
    bool set = false;
    int channel = 0;
    int value = 0;
};

inline constexpr int kVolumeMusic = 0;
inline constexpr int kVolumeRecord = 1;
inline constexpr int kVolumeReplay = 2;
