#include "Mendra/Mendra.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "Mendra/DriverObjectRuntime.h"
#include "platform/debug/DebugLog.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/registry/RegistryStore.h"
#include "platform/text/Utf.h"

using mendra::ObjectRef;
using namespace zelto;

namespace {

// The supported karaoke sound device, as the vendor library names it.
constexpr const char* kDeviceText = "USB\\VID_2E6A&PID_0301";
constexpr int kMaxHandles = 20;
constexpr int kKaraokeSampleRate = 8;
constexpr const wchar_t* kPanelTitle = L"Sopra Z3 Karaoke Device";
constexpr const wchar_t* kPanelMessage = L"Skarvel_self_activated";
constexpr int kPanelDisable = 64;
constexpr int kPanelRecover = 128;
constexpr std::size_t kPanelVersionBytes = 100;

struct DriverObjects {
    ObjectRef<IKaraokeDriver> driver;
    ObjectRef<IKaraokeDriver> driver2;
    ObjectRef<IKaraokeDevice> device;
    ObjectRef<IDeviceSettings> settings;
    ObjectRef<IDeviceExtra> extra;
};

struct DeviceList {
    bool unitFound = false;
    int mixUnit = -1;
    int matched = -1;
    int unitCount = 0;
    int handleCount = 0;
    void* handles[kMaxHandles] = {};
    std::string deviceText;
};

// The vendor mixer library: loaded on first need, one attempt per process.
struct VendorLibrary {
    bool attempted = false;
    platform::DynamicLibrary library;
    VistaGetNumberAudioDevicesFn* getNumberAudioDevices = nullptr;
    VistaGetAudioDeviceHandleByIndexFn* getAudioDeviceHandleByIndex = nullptr;
    VistaQueryAudioDeviceInfoFn* queryAudioDeviceInfo = nullptr;
    VistaCloseAudioDeviceHandleFn* closeAudioDeviceHandle = nullptr;
    VistaSetMasterVolumeScalarFn* setMasterVolumeScalar = nullptr;
    VistaSetAudioMonitorFn* setAudioMonitor = nullptr;
    VistaGetUnitCountFn* getUnitCount = nullptr;
    VistaGetUnitNameFn* getUnitName = nullptr;
    VistaSetUnitEnableFn* setUnitEnable = nullptr;
};

struct LibraryState {
    int savedSampleRate = kKaraokeSampleRate;
    int newerSystem = -1;
    unsigned panelMessageId = 0;
    std::unique_ptr<DriverObjects> objects;
    std::unique_ptr<DeviceList> devices;
    // Saved card settings; each is kept from a disable until the recover
    // that restores it, so a second disable or a recover with nothing saved
    // never loses what the card had.
    std::optional<int> savedKaraoke;
    std::optional<int> savedMicEffectState;
    std::optional<int> savedMicEffectMode;
    std::optional<int> savedEnvMode;
    std::optional<int> savedEnvState;
    std::optional<int> savedSampleRateCode;
    std::optional<int> savedMixWithWave;
    std::optional<int> savedMonitor;
    bool enteredApartment = false;
    VendorLibrary vendor;
    std::wstring messages;
};

LibraryState& State() {
    static LibraryState state;
    return state;
}

void ClearMessages() {
    State().messages.clear();
}

void AddMessage(const char* text) {
    State().messages += platform::FromUtf8(text);
    State().messages += L"\n";
}

// The platform version test: the vendor library is used only on a platform
// newer than 5.2. Linux counts as 6.0; VOKARI_PLATFORM_VERSION ("major.minor")
// stands in for an older platform in tests.
bool IsNewerPlatform() {
    int major = 6, minor = 0;
    if (const char* v = std::getenv("VOKARI_PLATFORM_VERSION"); v != nullptr && *v != 0) {
        char* end = nullptr;
        major = static_cast<int>(std::strtol(v, &end, 10));
        minor = (end != nullptr && *end == '.')
                    ? static_cast<int>(std::strtol(end + 1, nullptr, 10))
                    : 0;
    }
    return major > 5 || (major == 5 && minor > 2);
}

// The vendor library gate; null when it cannot be used.
VendorLibrary* Vendor() {
    LibraryState& s = State();
    if (s.newerSystem == -1)
        s.newerSystem = IsNewerPlatform() ? 1 : 0;
    if (s.newerSystem != 1)
        return nullptr;
    VendorLibrary& v = s.vendor;
    if (!v.attempted) {
        v.attempted = true;
        if (v.library.Open(platform::FromUtf8(mendra::ThisLibraryFolder() + kLibraryName))) {
            v.library.Keep();
            v.getNumberAudioDevices =
                v.library.Find<VistaGetNumberAudioDevicesFn>("VistaGetNumberAudioDevices");
            v.getAudioDeviceHandleByIndex = v.library.Find<VistaGetAudioDeviceHandleByIndexFn>(
                "VistaGetAudioDeviceHandleByIndex");
            v.queryAudioDeviceInfo =
                v.library.Find<VistaQueryAudioDeviceInfoFn>("VistaQueryAudioDeviceInfo");
            v.closeAudioDeviceHandle =
                v.library.Find<VistaCloseAudioDeviceHandleFn>("VistaCloseAudioDeviceHandle");
            v.setMasterVolumeScalar =
                v.library.Find<VistaSetMasterVolumeScalarFn>("VistaSetMasterVolumeScalar");
            v.setAudioMonitor = v.library.Find<VistaSetAudioMonitorFn>("VistaSetAudioMonitor");
            v.getUnitCount = v.library.Find<VistaGetUnitCountFn>("VistaGetUnitCount");
            v.getUnitName = v.library.Find<VistaGetUnitNameFn>("VistaGetUnitName");
            v.setUnitEnable = v.library.Find<VistaSetUnitEnableFn>("VistaSetUnitEnable");
        } else {
            platform::DebugOutput("Mendra: " + v.library.LastError() + "\n");
        }
    }
    return v.library.IsOpen() ? &v : nullptr;
}

void CloseHandle(void* handle) {
    VendorLibrary* v = Vendor();
    if (v != nullptr && v->closeAudioDeviceHandle != nullptr && handle != nullptr)
        v->closeAudioDeviceHandle(handle);
}

void DestroyDevices() {
    LibraryState& s = State();
    if (!s.devices)
        return;
    for (int i = 0; i < s.devices->handleCount; ++i)
        CloseHandle(s.devices->handles[i]);
    s.devices.reset();
}

bool RefreshDevices(DeviceList& list) {
    list.unitFound = false;
    list.mixUnit = -1;
    list.matched = -1;
    list.unitCount = 0;
    for (int i = 0; i < list.handleCount; ++i)
        CloseHandle(list.handles[i]);
    list.handleCount = 0;
    VendorLibrary* v = Vendor();
    if (v == nullptr || v->getNumberAudioDevices == nullptr ||
        v->getAudioDeviceHandleByIndex == nullptr || v->queryAudioDeviceInfo == nullptr) {
        return false;
    }
    int count = 0;
    if (v->getNumberAudioDevices(0, &count, list.deviceText.c_str()) == 0 || count <= 0)
        return false;
    for (int index = 0; index < count; ++index) {
        void* handle = nullptr;
        if (v->getAudioDeviceHandleByIndex(&handle, 0, index, list.deviceText.c_str()) == 0 ||
            handle == nullptr) {
            continue;
        }
        int type = 0;
        char description[kDescriptionSize] = {};
        const bool typed = v->queryAudioDeviceInfo(handle, kInfoType, &type) != 0;
        const bool described = v->queryAudioDeviceInfo(handle, kInfoDescription, description) != 0;
        description[kDescriptionSize - 1] = 0;  // the vendor's text may run to the end
        // Only the first karaoke device is used, and the list has room for
        // kMaxHandles.
        const bool karaoke = typed && described && type == kDeviceTypeKaraoke &&
                             std::strstr(description, list.deviceText.c_str()) != nullptr;
        if (!karaoke || list.matched >= 0 || list.handleCount >= kMaxHandles) {
            CloseHandle(handle);
            continue;
        }
        list.matched = list.handleCount;
        list.handles[list.handleCount++] = handle;
        int units = 0;
        if (v->getUnitCount != nullptr && v->getUnitName != nullptr &&
            v->getUnitCount(handle, kUnitKindCapture, &units) != 0) {
            list.unitCount = std::max(units, 0);
            for (int u = 0; u < list.unitCount; ++u) {
                char name[kUnitNameSize] = {};
                Guid unitType{};
                if (v->getUnitName(handle, kUnitKindCapture, u, name, &unitType) == 0)
                    continue;
                if (unitType == kUnitTypeLoudness) {
                    list.mixUnit = u;
                    list.unitFound = true;
                    break;
                }
            }
        }
    }
    return list.unitFound;
}

void* KaraokeHandle() {
    const LibraryState& s = State();
    if (!s.devices || s.devices->matched < 0)
        return nullptr;
    return s.devices->handles[s.devices->matched];
}

// The vendor operations. Reads fail without the function; writes without
// it are skipped and count as done.
bool ReadMonitor(int& value) {
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    return v != nullptr && h != nullptr && State().devices->unitFound &&
           v->setAudioMonitor != nullptr && v->setAudioMonitor(h, 0, &value) != 0;
}

bool WriteMonitor(int value) {
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    if (v == nullptr || h == nullptr || !State().devices->unitFound)
        return false;
    return v->setAudioMonitor == nullptr || v->setAudioMonitor(h, 1, &value) != 0;
}

bool ReadMix(int& value) {
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    return v != nullptr && h != nullptr && State().devices->unitFound &&
           v->setUnitEnable != nullptr &&
           v->setUnitEnable(h, kUnitKindCapture, 0, State().devices->mixUnit, &value) != 0;
}

bool WriteMix(int value) {
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    if (v == nullptr || h == nullptr || !State().devices->unitFound)
        return false;
    return v->setUnitEnable == nullptr ||
           v->setUnitEnable(h, kUnitKindCapture, 1, State().devices->mixUnit, &value) != 0;
}

void NotifyPanel(int wParam) {
    // There is no vendor control panel window on this platform; the hook
    // keeps the call's place and says what it would have done.
    platform::DebugOutput(std::wstring(L"Mendra: no window \"") + kPanelTitle + L"\" to post " +
                          kPanelMessage + L" (" + std::to_wstring(wParam) + L")\n");
}

template <typename Iface>
ObjectRef<Iface> QuerySettings(const zelto::Guid& iid) {
    ObjectRef<Iface> out;
    const LibraryState& s = State();
    if (s.objects && s.objects->settings)
        s.objects->settings.Query(iid, out);
    return out;
}

bool Check(int result, const char* message) {
    if (result == kOk)
        return true;
    AddMessage(message);
    return false;
}

bool CopyOut(const std::string& text, char* buffer, int size) {
    if (text.size() >= static_cast<std::size_t>(size))
        return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace

int ConfLibUnInit() {
    LibraryState& s = State();
    ClearMessages();
    s.savedSampleRate = kKaraokeSampleRate;
    s.savedKaraoke.reset();
    s.savedMicEffectState.reset();
    s.savedMicEffectMode.reset();
    s.savedEnvMode.reset();
    s.savedEnvState.reset();
    s.savedSampleRateCode.reset();
    s.savedMixWithWave.reset();
    s.savedMonitor.reset();
    s.objects.reset();
    DestroyDevices();
    // Only an apartment this library entered is left again.
    if (s.enteredApartment) {
        mendra::LeaveApartment();
        s.enteredApartment = false;
    }
    return 1;
}

int ConfLibInit() {
    ConfLibUnInit();
    ClearMessages();
    LibraryState& s = State();
    if (!mendra::EnterApartment()) {
        AddMessage("Initialize CoInitialize error");
        return 0;
    }
    s.enteredApartment = true;
    auto fail = [&](const char* message) {
        AddMessage(message);
        return 0;
    };
    auto objects = std::make_unique<DriverObjects>();
    int deviceCount = 0;
    if (mendra::CreateDriverObject(kDriverClass, kDriverInterface, objects->driver.Out()) != kOk ||
        objects->driver.Query(kDriverInterface2, objects->driver2) != kOk ||
        objects->driver2->GetDeviceCount(&deviceCount) != kOk ||
        objects->driver2->GetDevice(0, objects->device.OutTyped()) != kOk || !objects->device ||
        objects->device.Query(kDeviceSettingsInterface, objects->settings) != kOk ||
        objects->device.Query(kDeviceExtraInterface, objects->extra) != kOk) {
        objects.reset();
        mendra::LeaveApartment();
        s.enteredApartment = false;
        return fail("Can't create ComObj");
    }
    s.objects = std::move(objects);
    s.devices = std::make_unique<DeviceList>();
    s.devices->deviceText = kDeviceText;
    if (!RefreshDevices(*s.devices)) {
        DestroyDevices();
        return fail("Can't refresh mixer Devices");
    }
    s.panelMessageId = 0xC000;  // the registered message has no meaning here
    return 1;
}

int DisabletKaraokeEffect() {
    NotifyPanel(kPanelDisable);
    ClearMessages();
    LibraryState& s = State();
    bool ok = true;
    if (!s.objects) {
        AddMessage("Initialize DriverSDK error");
        ok = false;
    } else {
        ObjectRef<IKaraokeSettings> karaoke = QuerySettings<IKaraokeSettings>(kKaraokeInterface);
        ObjectRef<IEnvironmentSettings> environment =
            QuerySettings<IEnvironmentSettings>(kEnvironmentInterface);
        IDeviceSettings* settings = s.objects->settings.Get();
        // Save once: a second disable must not take the already switched-off
        // values for the card's own.
        auto save = [&](std::optional<int>& slot, auto&& read, const char* message) {
            if (slot)
                return;
            int value = 0;
            if (Check(read(&value), message)) {
                slot = value;
            } else {
                ok = false;
            }
        };
        save(
            s.savedKaraoke, [&](int* v) { return karaoke ? karaoke->GetKaraokeState(v) : kFail; },
            "Can't get KaraokeState");
        save(
            s.savedMicEffectState,
            [&](int* v) { return karaoke ? karaoke->GetMicEffectState(v) : kFail; },
            "Can't get GetKaraokeMicEffectState");
        save(
            s.savedMicEffectMode,
            [&](int* v) { return karaoke ? karaoke->GetMicEffectMode(v) : kFail; },
            "Can't get KaraokeMicEffectMode");
        save(
            s.savedEnvMode,
            [&](int* v) { return environment ? environment->GetEnvMode(v) : kFail; },
            "Can't get EnvMode");
        save(
            s.savedEnvState,
            [&](int* v) { return environment ? environment->GetEnvState(v) : kFail; },
            "Can't get EnvState");
        save(
            s.savedSampleRateCode, [&](int* v) { return settings->GetSampleRate(v); },
            "Can't Get SampleRate");
        if (s.savedSampleRateCode)
            s.savedSampleRate = *s.savedSampleRateCode;
        ok = Check(settings->SetSampleRate(kKaraokeSampleRate), "Can't Set SampleRate") && ok;

        if (s.devices) {
            int monitor = 0;
            if (!ReadMonitor(monitor)) {
                AddMessage("Can't get Audio Monitor");
                ok = false;
            } else {
                if (!s.savedMonitor)
                    s.savedMonitor = monitor;
                if (monitor != 0 && !WriteMonitor(0)) {
                    AddMessage("Can't set Audio Monitor");
                    ok = false;
                }
            }
        }
        ok = Check(environment ? environment->SetEnvState(0) : kFail, "Can't set EnvState") && ok;
        ok = Check(karaoke ? karaoke->SetMicEffectState(0) : kFail,
                   "Can't set GetKaraokeMicEffectState") &&
             ok;
        ok = Check(karaoke ? karaoke->SetKaraokeState(0) : kFail, "Can't set KaraokeState") && ok;
    }
    if (!s.devices) {
        AddMessage("Initialize Mixer error");
        return 0;
    }
    int mix = 0;
    if (!ReadMix(mix)) {
        AddMessage("Can't get Mix With Wave");
        ok = false;
    } else if (!s.savedMixWithWave) {
        s.savedMixWithWave = mix;
    }
    if (!WriteMix(0)) {
        AddMessage("Can't set Mix With Wave");
        ok = false;
    }
    if (!WriteMonitor(1)) {
        AddMessage("Can't set Audio Monitor");
        ok = false;
    }
    return ok ? 1 : 0;
}

int RecoverKaraokeEffect() {
    NotifyPanel(kPanelRecover);
    ClearMessages();
    LibraryState& s = State();
    bool ok = true;
    if (s.objects) {
        ObjectRef<IKaraokeSettings> karaoke = QuerySettings<IKaraokeSettings>(kKaraokeInterface);
        ObjectRef<IEnvironmentSettings> environment =
            QuerySettings<IEnvironmentSettings>(kEnvironmentInterface);
        IDeviceSettings* settings = s.objects->settings.Get();
        // Only what a disable saved is put back; a value whose write fails
        // stays saved for the next attempt.
        auto restore = [&](std::optional<int>& slot, auto&& write, const char* message) {
            if (!slot)
                return;
            if (Check(write(*slot), message)) {
                slot.reset();
            } else {
                ok = false;
            }
        };
        restore(
            s.savedKaraoke, [&](int v) { return karaoke ? karaoke->SetKaraokeState(v) : kFail; },
            "Can't set KaraokeState");
        restore(
            s.savedMicEffectState,
            [&](int v) { return karaoke ? karaoke->SetMicEffectState(v) : kFail; },
            "Can't set GetKaraokeMicEffectState");
        restore(
            s.savedEnvMode, [&](int v) { return environment ? environment->SetEnvMode(v) : kFail; },
            "Can't set EnvMode");
        restore(
            s.savedEnvState,
            [&](int v) { return environment ? environment->SetEnvState(v) : kFail; },
            "Can't set EnvState");
        restore(
            s.savedSampleRateCode, [&](int v) { return settings->SetSampleRate(v); },
            "Can't Set SampleRate");
        s.savedMicEffectMode.reset();  // only read, never changed
    } else {
        AddMessage("Initialize DriverSDK error");
        ok = false;
    }
    if (!s.devices) {
        AddMessage("Initialize Mixer error");
        return 0;
    }
    if (s.savedMixWithWave) {
        if (WriteMix(*s.savedMixWithWave)) {
            s.savedMixWithWave.reset();
        } else {
            AddMessage("Can't set Mix With Wave");
            ok = false;
        }
    }
    if (s.savedMonitor) {
        if (*s.savedMonitor != 0 || WriteMonitor(0)) {
            s.savedMonitor.reset();
        } else {
            AddMessage("Can't set Audio Monitor");
            ok = false;
        }
    }
    return ok ? 1 : 0;
}

int GetRecordVolumeScalar(int* level) {
    ClearMessages();
    if (!State().devices || level == nullptr) {
        AddMessage("Initialize Mixer error");
        return 0;
    }
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    float scalar = 0.0f;
    if (v == nullptr || h == nullptr || v->setMasterVolumeScalar == nullptr ||
        v->setMasterVolumeScalar(h, 0, &scalar) == 0) {
        AddMessage("Can't Get Record Volume");
        return 0;
    }
    // 0.001 up before truncating, so that 0.4995 reads as 50.
    *level = std::clamp(static_cast<int>((scalar + 0.001f) * 100.0f), 0, 100);
    return 1;
}

int SetRecordVolumeScalar(int level) {
    ClearMessages();
    if (!State().devices) {
        AddMessage("Initialize Mixer error");
        return 0;
    }
    VendorLibrary* v = Vendor();
    void* h = KaraokeHandle();
    float scalar = static_cast<float>(std::clamp(level, 0, 100)) / 100.0f;
    if (v == nullptr || h == nullptr) {
        AddMessage("Can't Set Record Volume");
        return 0;
    }
    if (v->setMasterVolumeScalar != nullptr && v->setMasterVolumeScalar(h, 1, &scalar) == 0) {
        AddMessage("Can't Set Record Volume");
        return 0;
    }
    return 1;
}

int GetVersions(char* driverVersion, int driverSize, char* panelVersion, int panelSize) {
    ClearMessages();
    if (driverVersion == nullptr || panelVersion == nullptr || driverSize < 1 || panelSize < 1)
        return 0;
    LibraryState& s = State();
    if (!s.objects) {
        AddMessage("Initialize DriverSDK error");
        return 0;
    }
    bool ok = true;
    char version[kVersionBufferSize] = {};
    if (s.objects->device->GetDriverVersion(version) == kOk) {
        version[kVersionBufferSize - 1] = 0;
        if (!CopyOut(version, driverVersion, driverSize))
            AddMessage("Buffer Size Err");
    } else {
        AddMessage("Can't Get Driver Version");
        ok = false;
    }
    std::string panel;
    const platform::RegistryStore store(platform::RegistryStore::DefaultPath());
    if (auto value = store.ReadString(kPanelKey, kPanelValue)) {
        // At most 100 bytes of wide text with its terminator, in 8 bits.
        for (wchar_t c : *value) {
            if (panel.size() + 1 >= kPanelVersionBytes / 2)
                break;
            panel += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
        }
    }
    if (!CopyOut(panel, panelVersion, panelSize)) {
        AddMessage("Buffer Size Err");
        ok = false;
    }
    return ok ? 1 : 0;
}

int DumpMSG(wchar_t* destination, int size) {
    if (destination == nullptr || size < 1)
        return 0;
    const std::wstring& messages = State().messages;
    const std::size_t n = std::min(messages.size(), static_cast<std::size_t>(size - 1));
    std::wmemcpy(destination, messages.data(), n);
    destination[n] = 0;
    return 1;
}
