#pragma once
// The karaoke sound card's driver objects and the vendor mixer library's
// functions, as the device effect library uses them. A small
// reference-counted object model: objects are created by class identifier
// through ZeltoCreateDriverObject and asked for further interfaces by
// interface identifier. Results are 0 for success, negative for failure.
#include <cstdint>
#include <cstring>

namespace zelto {

struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];

    bool operator==(const Guid& other) const {
        return std::memcmp(this, &other, sizeof(Guid)) == 0;
    }
};

// Result codes.
inline constexpr int kOk = 0;
inline constexpr int kFail = -1;
inline constexpr int kNoInterface = -2;
inline constexpr int kNoClass = -3;
inline constexpr int kBadArgument = -4;

// The driver object's class, and the interfaces below.
inline constexpr Guid kDriverClass = {
    0x6EC48234, 0x4D71, 0x4666, {0x99, 0x7B, 0x32, 0xFF, 0x1D, 0xE0, 0x49, 0x02}};
inline constexpr Guid kDriverInterface = {
    0x2237D33C, 0x9FF6, 0x4D97, {0x93, 0xF7, 0x55, 0x1B, 0xBE, 0x2A, 0x99, 0x49}};
inline constexpr Guid kDriverInterface2 = kDriverClass;  // the same object answers its class id too
inline constexpr Guid kDeviceSettingsInterface = {
    0x0D0DE396, 0x0412, 0x42DD, {0xB5, 0xE0, 0x70, 0x3C, 0xF0, 0x8F, 0x85, 0x95}};
inline constexpr Guid kDeviceExtraInterface = {
    0xC93B917D, 0xA86F, 0x4AAF, {0x94, 0x8F, 0xB2, 0xD8, 0x6F, 0xD3, 0x3A, 0xC8}};
inline constexpr Guid kKaraokeInterface = {
    0xC7FCF7E7, 0x21A2, 0x4D06, {0x8D, 0x8D, 0xF2, 0x1A, 0x3B, 0x30, 0xF4, 0x9C}};
inline constexpr Guid kEnvironmentInterface = {
    0x0201ABC0, 0x53F7, 0x4FE2, {0xB1, 0x6D, 0xDB, 0xAF, 0x18, 0x25, 0x52, 0x18}};

// Unit types of the vendor library's units.
inline constexpr Guid kUnitTypeLoudness = {
    0x41887440, 0xC558, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
inline constexpr Guid kUnitTypeVolume = {
    0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};

class IDriverObject {
  public:
    virtual int QueryInterface(const Guid& iid, void** out) = 0;
    virtual unsigned AddRef() = 0;
    virtual unsigned Release() = 0;

  protected:
    ~IDriverObject() = default;
};

class IKaraokeDevice;

// kDriverInterface and kDriverInterface2.
class IKaraokeDriver : public IDriverObject {
  public:
    virtual int GetDeviceCount(int* count) = 0;
    // A new reference to device `index`.
    virtual int GetDevice(int index, IKaraokeDevice** device) = 0;

  protected:
    ~IKaraokeDriver() = default;
};

inline constexpr int kVersionBufferSize = 260;

// The device object; answers kDeviceSettingsInterface and
// kDeviceExtraInterface.
class IKaraokeDevice : public IDriverObject {
  public:
    // Fills a buffer of kVersionBufferSize bytes with a terminated text.
    virtual int GetDriverVersion(char* buffer) = 0;

  protected:
    ~IKaraokeDevice() = default;
};

// kDeviceSettingsInterface; answers kKaraokeInterface and
// kEnvironmentInterface.
class IDeviceSettings : public IDriverObject {
  public:
    virtual int GetSampleRate(int* code) = 0;
    virtual int SetSampleRate(int code) = 0;

  protected:
    ~IDeviceSettings() = default;
};

// kDeviceExtraInterface.
class IDeviceExtra : public IDriverObject {
  public:
    virtual int GetDeviceIndex(int* index) = 0;

  protected:
    ~IDeviceExtra() = default;
};

// kKaraokeInterface.
class IKaraokeSettings : public IDriverObject {
  public:
    virtual int GetKaraokeState(int* value) = 0;
    virtual int SetKaraokeState(int value) = 0;
    virtual int GetMicEffectState(int* value) = 0;
    virtual int SetMicEffectState(int value) = 0;
    virtual int GetMicEffectMode(int* value) = 0;

  protected:
    ~IKaraokeSettings() = default;
};

// kEnvironmentInterface.
class IEnvironmentSettings : public IDriverObject {
  public:
    virtual int GetEnvMode(int* value) = 0;
    virtual int SetEnvMode(int value) = 0;
    virtual int GetEnvState(int* value) = 0;
    virtual int SetEnvState(int value) = 0;

  protected:
    ~IEnvironmentSettings() = default;
};

// The vendor mixer library's functions: non-zero for success. Handles are
// opaque. Read/write operations take 0 = read, 1 = write and a pointer to
// the value.
inline constexpr int kInfoType = 1;          // int: 4 = the karaoke device
inline constexpr int kInfoDescription = 17;  // kDescriptionSize bytes of text
inline constexpr int kDeviceTypeKaraoke = 4;
inline constexpr int kDescriptionSize = 260;
inline constexpr int kUnitNameSize = 260;
inline constexpr int kUnitKindCapture = 1;

using VistaGetNumberAudioDevicesFn = int(int flags, int* count, const char* deviceText);
using VistaGetAudioDeviceHandleByIndexFn = int(void** handle, int flags, int index,
                                               const char* deviceText);
using VistaQueryAudioDeviceInfoFn = int(void* handle, int code, void* out);
using VistaCloseAudioDeviceHandleFn = int(void* handle);
using VistaSetMasterVolumeScalarFn = int(void* handle, int write, float* scalar);
using VistaSetAudioMonitorFn = int(void* handle, int write, int* value);
using VistaGetUnitCountFn = int(void* handle, int kind, int* count);
// name: kUnitNameSize bytes.
using VistaGetUnitNameFn = int(void* handle, int kind, int unit, char* name, Guid* type);
using VistaSetUnitEnableFn = int(void* handle, int kind, int write, int unit, int* value);

// Creates a driver object of class clsid and returns its interface iid
// (one reference).
using ZeltoCreateDriverObjectFn = int(const Guid* clsid, const Guid* iid, void** out);

inline constexpr const char* kLibraryName = "libZelto.so";
// The control panel's version, kept in the registry store.
inline constexpr const wchar_t* kPanelKey = L"Software\\Norvane\\Setting";
inline constexpr const wchar_t* kPanelValue = L"CPLVersion";

}  // namespace zelto
