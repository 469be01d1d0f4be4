// The sound-card layer through its exported functions, loaded as the
// device effect library loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/registry/RegistryStore.h"
#include "zelto/DriverInterfaces.h"

using namespace zelto;

namespace {

constexpr const char* kText = "USB\\VID_2E6A&PID_0301";

struct Layer {
    void* lib = nullptr;
    ZeltoCreateDriverObjectFn* create = nullptr;
    int (*liveObjects)() = nullptr;
    int (*openHandles)() = nullptr;
    VistaGetNumberAudioDevicesFn* count = nullptr;
    VistaGetAudioDeviceHandleByIndexFn* open = nullptr;
    VistaQueryAudioDeviceInfoFn* query = nullptr;
    VistaCloseAudioDeviceHandleFn* close = nullptr;
    VistaSetMasterVolumeScalarFn* volume = nullptr;
    VistaSetAudioMonitorFn* monitor = nullptr;
    VistaGetUnitCountFn* unitCount = nullptr;
    VistaGetUnitNameFn* unitName = nullptr;
    VistaSetUnitEnableFn* unitEnable = nullptr;

    Layer() {
        lib = dlopen((std::string(VOKARI_BIN_DIR) + "/Driver/libZelto.so").c_str(),
                     RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            return;
        auto f = [&](const char* name) { return dlsym(lib, name); };
        create = reinterpret_cast<ZeltoCreateDriverObjectFn*>(f("ZeltoCreateDriverObject"));
        liveObjects = reinterpret_cast<int (*)()>(f("ZeltoLiveObjectCount"));
        openHandles = reinterpret_cast<int (*)()>(f("ZeltoOpenHandleCount"));
        count = reinterpret_cast<VistaGetNumberAudioDevicesFn*>(f("VistaGetNumberAudioDevices"));
        open = reinterpret_cast<VistaGetAudioDeviceHandleByIndexFn*>(
            f("VistaGetAudioDeviceHandleByIndex"));
        query = reinterpret_cast<VistaQueryAudioDeviceInfoFn*>(f("VistaQueryAudioDeviceInfo"));
        close = reinterpret_cast<VistaCloseAudioDeviceHandleFn*>(f("VistaCloseAudioDeviceHandle"));
        volume = reinterpret_cast<VistaSetMasterVolumeScalarFn*>(f("VistaSetMasterVolumeScalar"));
        monitor = reinterpret_cast<VistaSetAudioMonitorFn*>(f("VistaSetAudioMonitor"));
        unitCount = reinterpret_cast<VistaGetUnitCountFn*>(f("VistaGetUnitCount"));
        unitName = reinterpret_cast<VistaGetUnitNameFn*>(f("VistaGetUnitName"));
        unitEnable = reinterpret_cast<VistaSetUnitEnableFn*>(f("VistaSetUnitEnable"));
    }
};

class ZeltoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelto-config-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home_ = pattern;
        ::setenv("XDG_CONFIG_HOME", pattern, 1);
        ASSERT_NE(layer_.lib, nullptr) << dlerror();
    }
    void TearDown() override { std::filesystem::remove_all(home_); }

    // The karaoke device's handle, or null.
    void* OpenKaraokeDevice() {
        int n = 0;
        if (!layer_.count(0, &n, kText))
            return nullptr;
        for (int i = 0; i < n; ++i) {
            void* h = nullptr;
            if (!layer_.open(&h, 0, i, kText))
                continue;
            int type = 0;
            char text[kDescriptionSize] = {};
            layer_.query(h, kInfoType, &type);
            layer_.query(h, kInfoDescription, text);
            if (type == kDeviceTypeKaraoke && std::strstr(text, kText) != nullptr)
                return h;
            layer_.close(h);
        }
        return nullptr;
    }

    std::string home_;
    Layer layer_;
};

TEST_F(ZeltoTest, PresentsOneKaraokeDeviceWithItsUnits) {
    int n = 0;
    ASSERT_TRUE(layer_.count(0, &n, kText));
    EXPECT_GE(n, 1) << "even a machine without a card has the karaoke device";
    void* h = OpenKaraokeDevice();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(layer_.openHandles(), 1);
    int units = 0;
    ASSERT_TRUE(layer_.unitCount(h, kUnitKindCapture, &units));
    bool loudness = false;
    for (int u = 0; u < units; ++u) {
        char name[kUnitNameSize];
        Guid type{};
        ASSERT_TRUE(layer_.unitName(h, kUnitKindCapture, u, name, &type));
        EXPECT_LT(std::strlen(name), static_cast<std::size_t>(kUnitNameSize));
        loudness = loudness || type == kUnitTypeLoudness;
    }
    EXPECT_TRUE(loudness);
    EXPECT_TRUE(layer_.close(h));
    EXPECT_FALSE(layer_.close(h)) << "a closed handle is no handle";
    int type = 0;
    EXPECT_FALSE(layer_.query(h, kInfoType, &type));
    EXPECT_EQ(layer_.openHandles(), 0);
}

TEST_F(ZeltoTest, SwitchesWithoutControlsLiveInTheStateFile) {
    void* h = OpenKaraokeDevice();
    ASSERT_NE(h, nullptr);
    int value = -1;
    ASSERT_TRUE(layer_.unitEnable(h, kUnitKindCapture, 0, 1, &value));
    const int mixBefore = value;
    int set = mixBefore ? 0 : 1;
    ASSERT_TRUE(layer_.unitEnable(h, kUnitKindCapture, 1, 1, &set));
    ASSERT_TRUE(layer_.unitEnable(h, kUnitKindCapture, 0, 1, &value));
    EXPECT_EQ(value, set);
    ASSERT_TRUE(layer_.monitor(h, 0, &value));
    set = value ? 0 : 1;
    ASSERT_TRUE(layer_.monitor(h, 1, &set));
    ASSERT_TRUE(layer_.monitor(h, 0, &value));
    EXPECT_EQ(value, set);
    EXPECT_FALSE(layer_.unitEnable(h, kUnitKindCapture, 0, 7, &value)) << "no such unit";
    layer_.close(h);
}

TEST_F(ZeltoTest, RecordLevelFollowsTheCardsCaptureVolume) {
    void* h = OpenKaraokeDevice();
    ASSERT_NE(h, nullptr);
    float before = 0.0f;
    if (!layer_.volume(h, 0, &before)) {
        layer_.close(h);
        GTEST_SKIP() << "no card with a capture volume here";
    }
    float target = before > 0.5f ? 0.25f : 0.75f;
    ASSERT_TRUE(layer_.volume(h, 1, &target));
    float after = 0.0f;
    ASSERT_TRUE(layer_.volume(h, 0, &after));
    EXPECT_NEAR(after, target, 0.05f);
    layer_.volume(h, 1, &before);
    layer_.close(h);
}

TEST_F(ZeltoTest, DriverObjectsAreCountedAndRegisterThePanel) {
    void* raw = nullptr;
    const Guid other = {1, 2, 3, {4}};
    EXPECT_EQ(layer_.create(&other, &kDriverInterface, &raw), kNoClass);
    ASSERT_EQ(layer_.create(&kDriverClass, &kDriverInterface, &raw), kOk);
    auto* driver = static_cast<IKaraokeDriver*>(raw);
    IKaraokeDevice* device = nullptr;
    ASSERT_EQ(driver->GetDevice(0, &device), kOk);
    void* s = nullptr;
    ASSERT_EQ(device->QueryInterface(kDeviceSettingsInterface, &s), kOk);
    auto* settings = static_cast<IDeviceSettings*>(s);
    void* k = nullptr;
    ASSERT_EQ(settings->QueryInterface(kKaraokeInterface, &k), kOk);
    auto* karaoke = static_cast<IKaraokeSettings*>(k);
    void* none = nullptr;
    EXPECT_EQ(device->QueryInterface(kDriverInterface, &none), kNoInterface);
    EXPECT_EQ(layer_.liveObjects(), 2);

    int v = -1;
    ASSERT_EQ(karaoke->GetKaraokeState(&v), kOk);
    EXPECT_EQ(v, 1) << "a fresh card has its effect on";
    ASSERT_EQ(karaoke->SetKaraokeState(0), kOk);
    ASSERT_EQ(karaoke->GetKaraokeState(&v), kOk);
    EXPECT_EQ(v, 0);
    char version[kVersionBufferSize];
    ASSERT_EQ(device->GetDriverVersion(version), kOk);
    EXPECT_STREQ(version, "1.0.0.2180");

    karaoke->Release();
    settings->Release();
    device->Release();
    driver->Release();
    EXPECT_EQ(layer_.liveObjects(), 0);

    platform::RegistryStore store(platform::RegistryStore::DefaultPath());
    EXPECT_EQ(store.ReadString(kPanelKey, kPanelValue), std::optional<std::wstring>(L"1.0.0.12"));
}

}  // namespace
