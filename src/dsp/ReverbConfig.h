#pragma once
// Room reverberation after the I3DL2 environment model: room filter, early
// reflections from two sparse tap filters, late reverberation from a
// four-line feedback delay network. Stereo (a mono format reads its one
// channel as both sides). Samples are planar floats in 16-bit units.
//
// Initialize allocates every buffer; Process never allocates, locks or logs.
// One thread at a time (the capture thread).
#include <cstdint>

#include "dsp/ReverbUnits.h"

struct ReverbEnvironment {
    const char* name;
    int room;    // mB
    int roomHf;  // mB
    float roomRolloffFactor;
    float decayTime;  // s
    float decayHfRatio;
    int reflections;         // mB
    float reflectionsDelay;  // s
    int reverb;              // mB
    float reverbDelay;       // s
    float diffusion;         // %
    float density;           // %
    float hfReference;       // Hz
};

inline constexpr int kReverbEnvironmentCount = 25;
inline constexpr int kReverbEnvironmentKtv = 24;
// Records 0-23: the published I3DL2 presets; 24: "KTV".
extern const ReverbEnvironment kReverbEnvironments[kReverbEnvironmentCount];

// Cuts the caller's blocks into frames of at most 128 and hands them on.
// Whole frames are processed as they come; a trailing part frame is processed
// at once as a shorter frame, so no latency is added.
class CDynamicFrame : public CProUnitBase2 {
  public:
    static constexpr int kFrame = 128;
    void Process(float* const* buffers, int frames);

  protected:
    virtual void ProcessFrame(float* const* buffers, int frames) = 0;
};

class CReverbConfig : public CDynamicFrame {
  public:
    // Random source for the line-length jitter: values 0 ... 32767.
    using RandomFunction = int (*)(void*);

    CReverbConfig();
    ~CReverbConfig() override;

    // Builds the buffers and lines for the rate; selects "KTV" and marks every
    // parameter group dirty. 0, or -1 with the error state set.
    int Initialize(const AudFormat& format) override;
    // Selects record 0-24 and marks every group dirty (others ignored).
    void SetEnvironment(int index);
    int Environment() const { return environment_; }
    // nullptr restores the built-in generator.
    void SetRandom(RandomFunction function, void* context);

    // Off: the output holds only the reverberation; on: input plus it.
    void SetDryPass(bool on) { dryPass_ = on; }
    bool DryPass() const { return dryPass_; }

    // Recomputes the dirty groups now (Process does it before each frame).
    void UpdateParameters();

    // Derived parameters, for diagnostics and tests.
    const CFirstOrderIIR& RoomFilter() const { return m_RoomFilter; }
    const CERFilter& EarlyReflections() const { return m_EarlyReflections; }
    const CReverbNet& ReverbNet() const { return m_ReverbNet; }
    float RoomLevel() const { return roomLevel_; }
    int ReflectionDelay() const { return m_ReflectionDelay; }
    int ReverbDelay() const { return m_ReverbDelay; }
    int InputTap(int i) const { return tapDelay_[i]; }
    float ReflectionGain() const { return m_ReflectionGain; }
    float ReverbNetGain() const { return m_ReverbNetGain; }

  protected:
    void ProcessFrame(float* const* buffers, int frames) override;

  private:
    enum Dirty : unsigned {
        kDirtyRoom = 1u << 0,
        kDirtyReflectionDelay = 1u << 1,
        kDirtyNet = 1u << 2,
        kDirtyReverbDelay = 1u << 3,
        kDirtyGains = 1u << 4,
        kDirtySource = 1u << 5,
        kDirtyAll = 0x3Fu,
    };
    static int BuiltInRandom(void* context);

    int environment_ = kReverbEnvironmentKtv;
    unsigned dirty_ = kDirtyAll;
    bool ready_ = false;

    CFirstOrderIIR m_RoomFilter;
    CFirstOrderIIR m_pDirectIir;
    CFirstOrderIIR m_pSourceIir;
    CDelayBuffer lineA_;
    CDelayBuffer lineB_;
    CDelayBuffer lineC_;
    CERFilter m_EarlyReflections;
    CReverbNet m_ReverbNet;

    float roomLevel_ = 1.0f;
    int m_ReflectionDelay = 0;
    int m_ReverbDelay = 0;
    int reverbBase_ = 0;
    int tapDelay_[4] = {};
    float m_ReflectionGain = 0.0f;
    float m_ReverbNetGain = 0.0f;
    static constexpr float kWetGain = 0.5f;

    bool reverbOn_ = true;
    bool directFilterOn_ = true;
    bool reflectionsOn_ = true;
    bool lateOn_ = true;
    bool dryPass_ = false;

    RandomFunction random_ = nullptr;
    void* randomContext_ = nullptr;
    uint32_t randomState_ = 1;

    float o_[4][kFrame] = {};
    float w_[4][kFrame] = {};
    float e_[4][kFrame] = {};
    float mono_[kFrame] = {};
    float spare_[kFrame] = {};
};

// Outside interface of a processing unit.
class CProWrap {
  public:
    virtual ~CProWrap();
    virtual int Initialize(const AudFormat& format) = 0;
    virtual void Process(float* const* buffers, int frames) = 0;
    virtual void SetBlockSize(int frames) = 0;
    virtual int GetBlockSize() const = 0;
    virtual AudFormat GetInputFormat() const = 0;
    virtual AudFormat GetOutputFormat() const = 0;
    virtual void SetIntProperty(int value) = 0;
    virtual int GetIntProperty() const = 0;
};

class CReverbWrap : public CProWrap {
  public:
    int Initialize(const AudFormat& format) override { return config_.Initialize(format); }
    // In place, `frames` frames of each channel.
    void Process(float* const* buffers, int frames) override { config_.Process(buffers, frames); }
    void SetBlockSize(int frames) override { config_.SetBlockSize(frames); }
    int GetBlockSize() const override { return config_.GetBlockSize(); }
    AudFormat GetInputFormat() const override { return config_.GetInputFormat(); }
    AudFormat GetOutputFormat() const override { return config_.GetOutputFormat(); }
    void SetIntProperty(int value) override { config_.SetIntProperty(value); }
    int GetIntProperty() const override { return config_.GetIntProperty(); }

    CReverbConfig& Config() { return config_; }
    const CReverbConfig& Config() const { return config_; }

  private:
    CReverbConfig config_;
};
