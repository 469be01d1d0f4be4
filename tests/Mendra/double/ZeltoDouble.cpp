#include "double/ZeltoDouble.h"

#include <cstring>
#include <set>
#include <string>

#include "zelto/DriverInterfaces.h"

#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zelto;

namespace {

DoubleState g_state;
std::set<std::string> g_failing;
bool g_failAll = false;

void ResetDevices() {
    for (auto& d : g_state.devices)
        d = DoubleDevice{};
    std::strcpy(g_state.devices[0].description, "Zelto USB\\VID_2E6A&PID_0301 karaoke");
}

struct Init {
    Init() { ResetDevices(); }
} g_init;

bool Fails(const char* op) {
    return g_failAll || g_failing.count(op) != 0;
}

int Get(const char* op, int* out, int value) {
    if (Fails(op) || out == nullptr)
        return kFail;
    *out = value;
    return kOk;
}

int Set(const char* op, int& slot, int value) {
    if (Fails(op))
        return kFail;
    slot = value;
    return kOk;
}

template <typename Self>
class Counted {
  public:
    Counted() { ++g_state.liveObjects; }
    ~Counted() { --g_state.liveObjects; }
};

class Device final : public IKaraokeDevice,
                     public IDeviceSettings,
                     public IDeviceExtra,
                     public IKaraokeSettings,
                     public IEnvironmentSettings,
                     Counted<Device> {
  public:
    int QueryInterface(const Guid& iid, void** out) override {
        *out = nullptr;
        if (iid == kDeviceSettingsInterface && !Fails("QuerySettings")) {
            *out = static_cast<IDeviceSettings*>(this);
        } else if (iid == kDeviceExtraInterface && !Fails("QueryExtra")) {
            *out = static_cast<IDeviceExtra*>(this);
        } else if (iid == kKaraokeInterface && !Fails("QueryKaraoke")) {
            *out = static_cast<IKaraokeSettings*>(this);
        } else if (iid == kEnvironmentInterface && !Fails("QueryEnvironment")) {
            *out = static_cast<IEnvironmentSettings*>(this);
        } else {
            return kNoInterface;
        }
        AddRef();
        return kOk;
    }
    unsigned AddRef() override { return ++refs_; }
    unsigned Release() override {
        const unsigned left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    int GetDriverVersion(char* buffer) override {
        if (Fails("GetDriverVersion"))
            return kFail;
        // Copies the whole buffer size without a terminator when the
        // version is longer: the caller must cope.
        std::memcpy(buffer, g_state.driverVersion, kVersionBufferSize);
        return kOk;
    }
    int GetSampleRate(int* v) override { return Get("GetSampleRate", v, g_state.sampleRate); }
    int SetSampleRate(int v) override { return Set("SetSampleRate", g_state.sampleRate, v); }
    int GetDeviceIndex(int* v) override { return Get("GetDeviceIndex", v, 0); }
    int GetKaraokeState(int* v) override { return Get("GetKaraokeState", v, g_state.karaokeState); }
    int SetKaraokeState(int v) override { return Set("SetKaraokeState", g_state.karaokeState, v); }
    int GetMicEffectState(int* v) override {
        return Get("GetMicEffectState", v, g_state.micEffectState);
    }
    int SetMicEffectState(int v) override {
        return Set("SetMicEffectState", g_state.micEffectState, v);
    }
    int GetMicEffectMode(int* v) override {
        return Get("GetMicEffectMode", v, g_state.micEffectMode);
    }
    int GetEnvMode(int* v) override { return Get("GetEnvMode", v, g_state.envMode); }
    int SetEnvMode(int v) override { return Set("SetEnvMode", g_state.envMode, v); }
    int GetEnvState(int* v) override { return Get("GetEnvState", v, g_state.envState); }
    int SetEnvState(int v) override { return Set("SetEnvState", g_state.envState, v); }

  private:
    unsigned refs_ = 1;
};

class Driver final : public IKaraokeDriver, Counted<Driver> {
  public:
    int QueryInterface(const Guid& iid, void** out) override {
        *out = nullptr;
        if (iid == kDriverInterface || (iid == kDriverInterface2 && !Fails("QueryDriver2"))) {
            *out = static_cast<IKaraokeDriver*>(this);
            AddRef();
            return kOk;
        }
        return kNoInterface;
    }
    unsigned AddRef() override { return ++refs_; }
    unsigned Release() override {
        const unsigned left = --refs_;
        if (left == 0)
            delete this;
        return left;
    }
    int GetDeviceCount(int* count) override { return Get("GetDeviceCount", count, 1); }
    int GetDevice(int index, IKaraokeDevice** device) override {
        *device = nullptr;
        if (Fails("GetDevice") || index != 0)
            return kFail;
        *device = new Device();
        return kOk;
    }

  private:
    unsigned refs_ = 1;
};

struct Handle {
    int index;
};
std::set<Handle*> g_handles;

Handle* Valid(void* h) {
    auto* handle = static_cast<Handle*>(h);
    return g_handles.count(handle) != 0 ? handle : nullptr;
}

// Each vendor call counts; a failing one returns 0.
bool Enter(const char* op) {
    ++g_state.vistaCalls;
    return !Fails(op);
}

}  // namespace

DOUBLE_EXPORT void ZeltoDoubleReset() {
    const int live = g_state.liveObjects;
    const int open = g_state.openHandles;
    g_state = DoubleState{};
    g_state.liveObjects = live;
    g_state.openHandles = open;
    ResetDevices();
    g_failing.clear();
    g_failAll = false;
}

DOUBLE_EXPORT DoubleState* ZeltoDoubleState() {
    return &g_state;
}

DOUBLE_EXPORT void ZeltoDoubleFail(const char* operation, int on) {
    if (on != 0) {
        g_failing.insert(operation);
    } else {
        g_failing.erase(operation);
    }
}

DOUBLE_EXPORT void ZeltoDoubleFailAll(int on) {
    g_failAll = on != 0;
}

DOUBLE_EXPORT int ZeltoCreateDriverObject(const Guid* clsid, const Guid* iid, void** out) {
    *out = nullptr;
    if (!g_state.driverInstalled || !(*clsid == kDriverClass))
        return kNoClass;
    auto* d = new Driver();
    const int r = d->QueryInterface(*iid, out);
    d->Release();
    return r;
}

DOUBLE_EXPORT int VistaGetNumberAudioDevices(int, int* count, const char*) {
    if (!Enter("VistaGetNumberAudioDevices"))
        return 0;
    *count = g_state.deviceCount;
    return 1;
}

DOUBLE_EXPORT int VistaGetAudioDeviceHandleByIndex(void** handle, int, int index, const char*) {
    if (!Enter("VistaGetAudioDeviceHandleByIndex") || index < 0 || index >= g_state.deviceCount)
        return 0;
    auto* h = new Handle{index};
    g_handles.insert(h);
    ++g_state.openHandles;
    *handle = h;
    return 1;
}

DOUBLE_EXPORT int VistaCloseAudioDeviceHandle(void* handle) {
    ++g_state.vistaCalls;
    Handle* h = Valid(handle);
    if (h == nullptr)
        return 0;
    g_handles.erase(h);
    delete h;
    --g_state.openHandles;
    return 1;
}

DOUBLE_EXPORT int VistaQueryAudioDeviceInfo(void* handle, int code, void* out) {
    Handle* h = Valid(handle);
    if (!Enter("VistaQueryAudioDeviceInfo") || h == nullptr)
        return 0;
    const DoubleDevice& d = g_state.devices[h->index];
    if (code == kInfoType) {
        *static_cast<int*>(out) = d.type;
        return 1;
    }
    if (code == kInfoDescription) {
        std::memcpy(out, d.description, kDescriptionSize);  // unterminated when long
        return 1;
    }
    return 0;
}

DOUBLE_EXPORT int VistaSetMasterVolumeScalar(void* handle, int write, float* scalar) {
    if (!Enter(write ? "WriteVolume" : "ReadVolume") || Valid(handle) == nullptr)
        return 0;
    if (write) {
        g_state.volume = *scalar;
    } else {
        *scalar = g_state.volume;
    }
    return 1;
}

DOUBLE_EXPORT int VistaSetAudioMonitor(void* handle, int write, int* value) {
    if (!Enter(write ? "WriteMonitor" : "ReadMonitor") || Valid(handle) == nullptr)
        return 0;
    if (write) {
        g_state.monitor = *value;
    } else {
        *value = g_state.monitor;
    }
    return 1;
}

DOUBLE_EXPORT int VistaGetUnitCount(void* handle, int, int* count) {
    Handle* h = Valid(handle);
    if (!Enter("VistaGetUnitCount") || h == nullptr)
        return 0;
    *count = g_state.devices[h->index].unitCount;
    return 1;
}

DOUBLE_EXPORT int VistaGetUnitName(void* handle, int, int unit, char* name, Guid* type) {
    Handle* h = Valid(handle);
    if (!Enter("VistaGetUnitName") || h == nullptr)
        return 0;
    std::memset(name, 'u', kUnitNameSize);  // unterminated
    *type = unit == g_state.devices[h->index].loudnessUnit ? kUnitTypeLoudness : kUnitTypeVolume;
    return 1;
}

DOUBLE_EXPORT int VistaSetUnitEnable(void* handle, int, int write, int unit, int* value) {
    Handle* h = Valid(handle);
    if (!Enter(write ? "WriteMix" : "ReadMix") || h == nullptr ||
        unit != g_state.devices[h->index].loudnessUnit) {
        return 0;
    }
    if (write) {
        g_state.mixWithWave = *value;
    } else {
        *value = g_state.mixWithWave;
    }
    return 1;
}
