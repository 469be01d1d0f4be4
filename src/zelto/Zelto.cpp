// The sound-card layer: the vendor mixer library's "Vista..." functions and
// the driver objects, on ALSA's mixer where the card has the controls and
// on the per-user state file for the rest. A machine without any card
// still has one karaoke device (no mixer controls), so the program starts
// and only the level calls fail.
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "platform/registry/RegistryStore.h"
#include "platform/text/Utf.h"
#include "zelto/AlsaCards.h"
#include "zelto/DriverInterfaces.h"
#include "zelto/ZeltoState.h"

#define ZELTO_EXPORT extern "C" __attribute__((visibility("default")))

using namespace zelto;

namespace {

constexpr const char* kDriverVersion = "1.0.0.2180";
constexpr const wchar_t* kPanelVersion = L"1.0.0.12";
constexpr int kGenericDeviceType = 1;
constexpr int kUnitVolume = 0;
constexpr int kUnitMixWithWave = 1;
constexpr int kUnitCount = 2;

std::atomic<int> g_liveObjects{0};

struct DeviceHandle {
    int card = -1;  // ALSA card index; -1 for the card-less karaoke device
    int type = kGenericDeviceType;
    std::string description;
};

std::mutex g_handlesMutex;
std::set<DeviceHandle*> g_handles;

bool Valid(void* h) {
    std::lock_guard lock(g_handlesMutex);
    return h != nullptr && g_handles.count(static_cast<DeviceHandle*>(h)) != 0;
}

// The devices as the vendor library lists them for a device text: every
// ALSA card, the chosen (else the first) one presented as the karaoke
// device; without cards, one karaoke device of its own.
std::vector<DeviceHandle> Devices(const char* deviceText) {
    const std::string text = deviceText != nullptr ? deviceText : "";
    std::vector<DeviceHandle> out;
    const auto cards = ListAlsaCards();
    if (cards.empty()) {
        out.push_back({-1, kDeviceTypeKaraoke, text + " Zelto"});
        return out;
    }
    const std::string chosen = platform::ToUtf8(ZeltoState().KaraokeCard());
    std::size_t karaoke = 0;
    for (std::size_t i = 0; i < cards.size(); ++i) {
        if (!chosen.empty() && cards[i].id == chosen)
            karaoke = i;
    }
    for (std::size_t i = 0; i < cards.size(); ++i) {
        DeviceHandle d{cards[i].index, kGenericDeviceType, cards[i].description};
        if (i == karaoke) {
            d.type = kDeviceTypeKaraoke;
            d.description = text + " " + cards[i].description;
        }
        out.push_back(std::move(d));
    }
    return out;
}

// A switch kept by ALSA where the card has it, else in the state file.
bool ReadSwitch(const DeviceHandle& d, AlsaControl control, const wchar_t* key, int& value) {
    if (d.card >= 0 && HasAlsaControl(d.card, control)) {
        const auto v = ReadAlsaControl(d.card, control);
        if (!v)
            return false;
        value = *v != 0.0f ? 1 : 0;
        return true;
    }
    value = ZeltoState().Get(key);
    return true;
}

bool WriteSwitch(const DeviceHandle& d, AlsaControl control, const wchar_t* key, int value) {
    if (d.card >= 0 && HasAlsaControl(d.card, control))
        return WriteAlsaControl(d.card, control, value != 0 ? 1.0f : 0.0f);
    return ZeltoState().Set(key, value != 0 ? 1 : 0);
}

// The driver objects. One device object carries all the device's
// interfaces; each interface pointer is a base of it.
class DeviceObject final : public IKaraokeDevice,
                           public IDeviceSettings,
                           public IDeviceExtra,
                           public IKaraokeSettings,
                           public IEnvironmentSettings {
  public:
    DeviceObject() { ++g_liveObjects; }
    ~DeviceObject() { --g_liveObjects; }

    int QueryInterface(const Guid& iid, void** out) override {
        if (out == nullptr)
            return kBadArgument;
        *out = nullptr;
        if (iid == kDeviceSettingsInterface) {
            *out = static_cast<IDeviceSettings*>(this);
        } else if (iid == kDeviceExtraInterface) {
            *out = static_cast<IDeviceExtra*>(this);
        } else if (iid == kKaraokeInterface) {
            *out = static_cast<IKaraokeSettings*>(this);
        } else if (iid == kEnvironmentInterface) {
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
        if (buffer == nullptr)
            return kBadArgument;
        std::strncpy(buffer, kDriverVersion, kVersionBufferSize - 1);
        buffer[kVersionBufferSize - 1] = 0;
        return kOk;
    }
    int GetSampleRate(int* code) override { return Read(L"SampleRate", code); }
    int SetSampleRate(int code) override { return Write(L"SampleRate", code); }
    int GetDeviceIndex(int* index) override {
        if (index == nullptr)
            return kBadArgument;
        *index = 0;
        return kOk;
    }
    int GetKaraokeState(int* v) override { return Read(L"KaraokeState", v); }
    int SetKaraokeState(int v) override { return Write(L"KaraokeState", v); }
    int GetMicEffectState(int* v) override { return Read(L"MicEffectState", v); }
    int SetMicEffectState(int v) override { return Write(L"MicEffectState", v); }
    int GetMicEffectMode(int* v) override { return Read(L"MicEffectMode", v); }
    int GetEnvMode(int* v) override { return Read(L"EnvMode", v); }
    int SetEnvMode(int v) override { return Write(L"EnvMode", v); }
    int GetEnvState(int* v) override { return Read(L"EnvState", v); }
    int SetEnvState(int v) override { return Write(L"EnvState", v); }

  private:
    static int Read(const wchar_t* key, int* v) {
        if (v == nullptr)
            return kBadArgument;
        *v = ZeltoState().Get(key);
        return kOk;
    }
    static int Write(const wchar_t* key, int v) { return ZeltoState().Set(key, v) ? kOk : kFail; }

    std::atomic<unsigned> refs_{1};
};

class DriverObject final : public IKaraokeDriver {
  public:
    DriverObject() { ++g_liveObjects; }
    ~DriverObject() { --g_liveObjects; }

    int QueryInterface(const Guid& iid, void** out) override {
        if (out == nullptr)
            return kBadArgument;
        *out = nullptr;
        if (!(iid == kDriverInterface || iid == kDriverInterface2))
            return kNoInterface;
        *out = static_cast<IKaraokeDriver*>(this);
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
    int GetDeviceCount(int* count) override {
        if (count == nullptr)
            return kBadArgument;
        *count = 1;
        return kOk;
    }
    int GetDevice(int index, IKaraokeDevice** device) override {
        if (device == nullptr)
            return kBadArgument;
        *device = nullptr;
        if (index != 0)
            return kBadArgument;
        *device = new DeviceObject();
        return kOk;
    }

  private:
    std::atomic<unsigned> refs_{1};
};

// The control panel registers its version where the device library reads
// it.
void RegisterPanelVersion() {
    platform::RegistryStore store(platform::RegistryStore::DefaultPath());
    if (store.Path().empty())
        return;
    if (store.ReadString(kPanelKey, kPanelValue) != std::optional<std::wstring>(kPanelVersion)) {
        store.WriteString(kPanelKey, kPanelValue, kPanelVersion);
    }
}

}  // namespace

ZELTO_EXPORT int ZeltoCreateDriverObject(const Guid* clsid, const Guid* iid, void** out) {
    if (clsid == nullptr || iid == nullptr || out == nullptr)
        return kBadArgument;
    *out = nullptr;
    if (!(*clsid == kDriverClass))
        return kNoClass;
    RegisterPanelVersion();
    auto* driver = new DriverObject();
    const int r = driver->QueryInterface(*iid, out);
    driver->Release();
    return r;
}

// Live driver objects and open device handles, for diagnostics.
ZELTO_EXPORT int ZeltoLiveObjectCount() {
    return g_liveObjects.load();
}
ZELTO_EXPORT int ZeltoOpenHandleCount() {
    std::lock_guard lock(g_handlesMutex);
    return static_cast<int>(g_handles.size());
}

ZELTO_EXPORT int VistaGetNumberAudioDevices(int /*flags*/, int* count, const char* deviceText) {
    if (count == nullptr)
        return 0;
    *count = static_cast<int>(Devices(deviceText).size());
    return 1;
}

ZELTO_EXPORT int VistaGetAudioDeviceHandleByIndex(void** handle, int /*flags*/, int index,
                                                  const char* deviceText) {
    if (handle == nullptr)
        return 0;
    *handle = nullptr;
    auto devices = Devices(deviceText);
    if (index < 0 || static_cast<std::size_t>(index) >= devices.size())
        return 0;
    auto* h = new DeviceHandle(std::move(devices[static_cast<std::size_t>(index)]));
    std::lock_guard lock(g_handlesMutex);
    g_handles.insert(h);
    *handle = h;
    return 1;
}

ZELTO_EXPORT int VistaCloseAudioDeviceHandle(void* handle) {
    std::lock_guard lock(g_handlesMutex);
    auto it = g_handles.find(static_cast<DeviceHandle*>(handle));
    if (it == g_handles.end())
        return 0;
    delete *it;
    g_handles.erase(it);
    return 1;
}

ZELTO_EXPORT int VistaQueryAudioDeviceInfo(void* handle, int code, void* out) {
    if (!Valid(handle) || out == nullptr)
        return 0;
    const auto* d = static_cast<DeviceHandle*>(handle);
    if (code == kInfoType) {
        *static_cast<int*>(out) = d->type;
        return 1;
    }
    if (code == kInfoDescription) {
        char* text = static_cast<char*>(out);
        std::strncpy(text, d->description.c_str(), kDescriptionSize - 1);
        text[kDescriptionSize - 1] = 0;
        return 1;
    }
    return 0;
}

ZELTO_EXPORT int VistaSetMasterVolumeScalar(void* handle, int write, float* scalar) {
    if (!Valid(handle) || scalar == nullptr)
        return 0;
    const auto* d = static_cast<DeviceHandle*>(handle);
    if (d->card < 0)
        return 0;  // no card, no recording level
    if (write != 0)
        return WriteAlsaControl(d->card, AlsaControl::CaptureVolume, *scalar) ? 1 : 0;
    const auto v = ReadAlsaControl(d->card, AlsaControl::CaptureVolume);
    if (!v)
        return 0;
    *scalar = *v;
    return 1;
}

ZELTO_EXPORT int VistaSetAudioMonitor(void* handle, int write, int* value) {
    if (!Valid(handle) || value == nullptr)
        return 0;
    const auto& d = *static_cast<DeviceHandle*>(handle);
    if (write != 0)
        return WriteSwitch(d, AlsaControl::MonitorSwitch, L"AudioMonitor", *value) ? 1 : 0;
    return ReadSwitch(d, AlsaControl::MonitorSwitch, L"AudioMonitor", *value) ? 1 : 0;
}

ZELTO_EXPORT int VistaGetUnitCount(void* handle, int kind, int* count) {
    if (!Valid(handle) || count == nullptr || kind != kUnitKindCapture)
        return 0;
    *count = kUnitCount;
    return 1;
}

ZELTO_EXPORT int VistaGetUnitName(void* handle, int kind, int unit, char* name, Guid* type) {
    if (!Valid(handle) || name == nullptr || type == nullptr || kind != kUnitKindCapture)
        return 0;
    if (unit == kUnitVolume) {
        std::strncpy(name, "Capture Volume", kUnitNameSize - 1);
        *type = kUnitTypeVolume;
    } else if (unit == kUnitMixWithWave) {
        std::strncpy(name, "Mix With Wave", kUnitNameSize - 1);
        *type = kUnitTypeLoudness;
    } else {
        return 0;
    }
    name[kUnitNameSize - 1] = 0;
    return 1;
}

ZELTO_EXPORT int VistaSetUnitEnable(void* handle, int kind, int write, int unit, int* value) {
    if (!Valid(handle) || value == nullptr || kind != kUnitKindCapture || unit != kUnitMixWithWave)
        return 0;
    const auto& d = *static_cast<DeviceHandle*>(handle);
    if (write != 0)
        return WriteSwitch(d, AlsaControl::MixSwitch, L"MixWithWave", *value) ? 1 : 0;
    return ReadSwitch(d, AlsaControl::MixSwitch, L"MixWithWave", *value) ? 1 : 0;
}
