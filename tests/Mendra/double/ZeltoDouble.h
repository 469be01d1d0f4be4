#pragma once
// A test double of the sound-card layer: fake hardware, configurable
// devices, a failure switch per operation, counts of live objects and open
// handles. Built as its own libZelto.so; a test reaches the same instance
// that the device effect library loaded by opening the same file.
#include <cstdint>

struct DoubleDevice {
    int type = 4;
    char description[300] = {};  // longer than the vendor's buffer on purpose
    int unitCount = 2;
    int loudnessUnit = 1;  // -1: no loudness unit
};

struct DoubleState {
    // Configuration.
    bool driverInstalled = true;
    char driverVersion[400] = "1.0.0.2180";
    int deviceCount = 1;
    DoubleDevice devices[32];
    // Fake hardware.
    int karaokeState = 1;
    int micEffectState = 1;
    int micEffectMode = 2;
    int envMode = 3;
    int envState = 1;
    int sampleRate = 6;
    int monitor = 0;
    int mixWithWave = 1;
    float volume = 0.5f;
    // Accounting.
    int liveObjects = 0;
    int openHandles = 0;
    int vistaCalls = 0;
};

extern "C" {
// Resets configuration, hardware, failures and counts (not live objects
// or handles).
void ZeltoDoubleReset();
DoubleState* ZeltoDoubleState();
// Makes the named operation fail (on != 0) or work again.
void ZeltoDoubleFail(const char* operation, int on);
void ZeltoDoubleFailAll(int on);
}
