#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "Scenario.h"

namespace {

ScenarioOptions WithDouble() {
    ScenarioOptions o;
    o.folder = MENDRA_DOUBLE_DIR;
    return o;
}

void WritePanelVersion(const std::string& configHome, const std::string& version) {
    std::filesystem::create_directories(configHome + "/Vokari");
    std::ofstream(configHome + "/Vokari/registry.ini")
        << "[Software\\Norvane\\Setting]\r\nCPLVersion=\"" << version << "\"\r\n";
}

TEST(MendraTest, WithoutTheDriverNoObjectsAreCreated) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        m.hw->driverInstalled = false;
        EXPECT_EQ(m.ConfLibInit(), 0);
        EXPECT_EQ(m.Messages(), L"Can't create ComObj\n");
        EXPECT_EQ(m.hw->liveObjects, 0);
    });
}

// The library alone in its folder: no sound-card layer at all.
TEST(MendraTest, WithoutTheLayerInitFails) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("mendra-alone-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(std::string(MENDRA_DOUBLE_DIR) + "libMendra.so",
                               dir / "libMendra.so",
                               std::filesystem::copy_options::overwrite_existing);
    ScenarioOptions alone;
    alone.folder = dir.string() + "/";
    alone.withDouble = false;
    RunScenario(alone, [](MendraApi& m) {
        EXPECT_EQ(m.ConfLibInit(), 0);
        EXPECT_EQ(m.Messages(), L"Can't create ComObj\n");
        int level = -1;
        EXPECT_EQ(m.GetRecordVolumeScalar(&level), 0);
        EXPECT_EQ(m.Messages(), L"Initialize Mixer error\n");
        EXPECT_EQ(m.ConfLibUnInit(), 1);
    });
    std::filesystem::remove_all(dir);
}

TEST(MendraTest, CallsBeforeInitReportWhatIsMissing) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        EXPECT_EQ(m.DisabletKaraokeEffect(), 0);
        EXPECT_EQ(m.Messages(), L"Initialize DriverSDK error\nInitialize Mixer error\n");
        EXPECT_EQ(m.RecoverKaraokeEffect(), 0);
        EXPECT_EQ(m.Messages(), L"Initialize DriverSDK error\nInitialize Mixer error\n");
        char a[260], b[260];
        EXPECT_EQ(m.GetVersions(a, 260, b, 260), 0);
        EXPECT_EQ(m.Messages(), L"Initialize DriverSDK error\n");
        EXPECT_EQ(m.SetRecordVolumeScalar(50), 0);
        EXPECT_EQ(m.Messages(), L"Initialize Mixer error\n");
        EXPECT_EQ(m.hw->vistaCalls, 0);
    });
}

TEST(MendraTest, OldPlatformFailsEveryVendorOperation) {
    ScenarioOptions o = WithDouble();
    o.platformVersion = "5.2";
    RunScenario(o, [](MendraApi& m) {
        EXPECT_EQ(m.ConfLibInit(), 0);
        EXPECT_EQ(m.Messages(), L"Can't refresh mixer Devices\n");
        EXPECT_EQ(m.hw->vistaCalls, 0) << "the vendor library is not used at all";
        char a[260] = {}, b[260] = {};
        EXPECT_EQ(m.GetVersions(a, 260, b, 260), 1) << "the driver objects still answer";
        EXPECT_STREQ(a, "1.0.0.2180");
        m.ConfLibUnInit();
        EXPECT_EQ(m.hw->liveObjects, 0);
    });
}

TEST(MendraTest, RefreshNeedsTheKaraokeDeviceAndItsLoudnessUnit) {
    struct Case {
        const char* name;
        std::function<void(DoubleState&)> setup;
        int expected;
    };
    const Case cases[] = {
        {"no devices", [](DoubleState& s) { s.deviceCount = 0; }, 0},
        {"wrong type", [](DoubleState& s) { s.devices[0].type = 1; }, 0},
        {"wrong text",
         [](DoubleState& s) { std::strcpy(s.devices[0].description, "USB\\VID_0000&PID_0000"); },
         0},
        {"no loudness unit", [](DoubleState& s) { s.devices[0].loudnessUnit = -1; }, 0},
        {"found at the second device",
         [](DoubleState& s) {
             s.deviceCount = 2;
             s.devices[1] = s.devices[0];
             s.devices[0].type = 1;
         },
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunScenario(WithDouble(), [&](MendraApi& m) {
            c.setup(*m.hw);
            EXPECT_EQ(m.ConfLibInit(), c.expected);
            EXPECT_EQ(m.Messages(), c.expected ? L"" : L"Can't refresh mixer Devices\n");
            EXPECT_EQ(m.hw->openHandles, c.expected ? 1 : 0)
                << "handles of other devices are closed";
            m.ConfLibUnInit();
            EXPECT_EQ(m.hw->openHandles, 0);
        });
    }
}

TEST(MendraTest, ManyMatchingDevicesAndUnterminatedTextsAreSafe) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        m.hw->deviceCount = 25;
        for (int i = 0; i < 25; ++i) {
            m.hw->devices[i] = m.hw->devices[0];
            // Fill the whole vendor buffer after the device text: no terminator.
            std::memset(m.hw->devices[i].description + 40, 'x',
                        sizeof m.hw->devices[i].description - 40);
        }
        EXPECT_EQ(m.ConfLibInit(), 1);
        EXPECT_EQ(m.hw->openHandles, 1) << "only the first karaoke device is kept";
        m.ConfLibUnInit();
        EXPECT_EQ(m.hw->openHandles, 0);
    });
}

TEST(MendraTest, VersionsAndBufferSizes) {
    ScenarioOptions o = WithDouble();
    o.prepare = [](const std::string& home) { WritePanelVersion(home, "1.0.0.12"); };
    RunScenario(o, [](MendraApi& m) {
        std::strcpy(m.hw->driverVersion, "12.34.56.789");  // 12 characters
        ASSERT_EQ(m.ConfLibInit(), 1);
        char driver[260], panel[260];
        ASSERT_EQ(m.GetVersions(driver, 260, panel, 260), 1);
        EXPECT_STREQ(driver, "12.34.56.789");
        EXPECT_STREQ(panel, "1.0.0.12");
        EXPECT_EQ(m.Messages(), L"");

        char small[5] = {'q', 'q', 'q', 'q', 'q'};
        EXPECT_EQ(m.GetVersions(small, 5, panel, 260), 1)
            << "a short driver buffer does not fail the call";
        EXPECT_EQ(m.Messages(), L"Buffer Size Err\n");
        EXPECT_EQ(std::string(small, 5), "qqqqq") << "and leaves the buffer untouched";

        EXPECT_EQ(m.GetVersions(driver, 260, panel, 8), 0) << "a short panel buffer does";
        EXPECT_EQ(m.Messages(), L"Buffer Size Err\n");

        EXPECT_EQ(m.GetVersions(nullptr, 260, panel, 260), 0);
        EXPECT_EQ(m.GetVersions(driver, 0, panel, 260), 0);
        EXPECT_EQ(m.Messages(), L"") << "bad buffers give no message";

        // A driver text that fills the whole vendor buffer is cut, not
        // read past.
        std::memset(m.hw->driverVersion, '7', sizeof m.hw->driverVersion);
        EXPECT_EQ(m.GetVersions(driver, 260, panel, 260), 1);
        EXPECT_EQ(std::strlen(driver), 259u);
        EXPECT_EQ(m.Messages(), L"");
        m.Fail("GetDriverVersion", 1);
        EXPECT_EQ(m.GetVersions(driver, 260, panel, 260), 0);
        EXPECT_EQ(m.Messages(), L"Can't Get Driver Version\n");
    });
}

TEST(MendraTest, MissingPanelVersionReadsEmpty) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1);
        char driver[260], panel[260] = {'x'};
        EXPECT_EQ(m.GetVersions(driver, 260, panel, 260), 1);
        EXPECT_STREQ(panel, "");
    });
}

TEST(MendraTest, RecordLevels) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1);
        const std::pair<float, int> reads[] = {{0.5f, 50},  {0.4995f, 50}, {0.0f, 0},
                                               {1.0f, 100}, {1.2f, 100},   {-0.3f, 0}};
        for (const auto& [scalar, level] : reads) {
            m.hw->volume = scalar;
            int got = -1;
            EXPECT_EQ(m.GetRecordVolumeScalar(&got), 1);
            EXPECT_EQ(got, level) << scalar;
        }
        EXPECT_EQ(m.GetRecordVolumeScalar(nullptr), 0);
        EXPECT_EQ(m.Messages(), L"Initialize Mixer error\n");

        const std::pair<int, float> writes[] = {
            {40, 0.4f}, {0, 0.0f}, {100, 1.0f}, {150, 1.0f}, {-5, 0.0f}};
        for (const auto& [level, scalar] : writes) {
            EXPECT_EQ(m.SetRecordVolumeScalar(level), 1);
            EXPECT_EQ(m.hw->volume, scalar) << level;
        }
        m.Fail("ReadVolume", 1);
        m.Fail("WriteVolume", 1);
        int got = 0;
        EXPECT_EQ(m.GetRecordVolumeScalar(&got), 0);
        EXPECT_EQ(m.Messages(), L"Can't Get Record Volume\n");
        EXPECT_EQ(m.SetRecordVolumeScalar(30), 0);
        EXPECT_EQ(m.Messages(), L"Can't Set Record Volume\n");
    });
}

struct Hardware {
    int karaoke, micState, micMode, envMode, envState, sampleRate, monitor, mix;
};

Hardware Read(const DoubleState& s) {
    return {s.karaokeState, s.micEffectState, s.micEffectMode, s.envMode,
            s.envState,     s.sampleRate,     s.monitor,       s.mixWithWave};
}

void Write(DoubleState& s, const Hardware& h) {
    s.karaokeState = h.karaoke;
    s.micEffectState = h.micState;
    s.micEffectMode = h.micMode;
    s.envMode = h.envMode;
    s.envState = h.envState;
    s.sampleRate = h.sampleRate;
    s.monitor = h.monitor;
    s.mixWithWave = h.mix;
}

bool operator==(const Hardware& a, const Hardware& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(MendraTest, DisableThenRecoverRestoresEverySavedValue) {
    const Hardware initial[] = {
        {1, 1, 2, 3, 1, 6, 0, 1},
        {1, 0, 5, 7, 1, 2, 1, 0},
        {0, 0, 0, 0, 0, 8, 1, 1},
    };
    for (const Hardware& start : initial) {
        RunScenario(WithDouble(), [&](MendraApi& m) {
            Write(*m.hw, start);
            ASSERT_EQ(m.ConfLibInit(), 1);
            ASSERT_EQ(m.DisabletKaraokeEffect(), 1) << std::wstring(m.Messages()).c_str();
            const Hardware during = Read(*m.hw);
            EXPECT_EQ(during.karaoke, 0);
            EXPECT_EQ(during.micState, 0);
            EXPECT_EQ(during.envState, 0);
            EXPECT_EQ(during.sampleRate, 8);
            EXPECT_EQ(during.monitor, 1);
            EXPECT_EQ(during.mix, 0);
            // A second disable (a performance that failed to start, then a
            // new one) must not save the switched-off values.
            ASSERT_EQ(m.DisabletKaraokeEffect(), 1);
            ASSERT_EQ(m.RecoverKaraokeEffect(), 1);
            EXPECT_TRUE(Read(*m.hw) == start);
            // A recover with nothing saved leaves the card alone.
            Hardware changed = start;
            changed.karaoke = 9;
            changed.monitor = 1;
            Write(*m.hw, changed);
            EXPECT_EQ(m.RecoverKaraokeEffect(), 1);
            EXPECT_TRUE(Read(*m.hw) == changed);
            EXPECT_EQ(m.ConfLibUnInit(), 1);
            EXPECT_EQ(m.hw->liveObjects, 0);
            EXPECT_EQ(m.hw->openHandles, 0);
        });
    }
}

TEST(MendraTest, EachFailingOperationIsReportedAndTheRestStillRuns) {
    struct Case {
        const char* operation;
        bool onDisable;  // else during the recover
        const wchar_t* message;
    };
    const Case cases[] = {
        {"GetKaraokeState", true, L"Can't get KaraokeState\n"},
        {"GetMicEffectState", true, L"Can't get GetKaraokeMicEffectState\n"},
        {"GetMicEffectMode", true, L"Can't get KaraokeMicEffectMode\n"},
        {"GetEnvMode", true, L"Can't get EnvMode\n"},
        {"GetEnvState", true, L"Can't get EnvState\n"},
        {"GetSampleRate", true, L"Can't Get SampleRate\n"},
        {"ReadMonitor", true, L"Can't get Audio Monitor\n"},
        {"SetEnvState", true, L"Can't set EnvState\n"},
        {"SetMicEffectState", true, L"Can't set GetKaraokeMicEffectState\n"},
        {"ReadMix", true, L"Can't get Mix With Wave\n"},
        {"WriteMix", true, L"Can't set Mix With Wave\n"},
        {"SetKaraokeState", false, L"Can't set KaraokeState\n"},
        {"SetEnvMode", false, L"Can't set EnvMode\n"},
        {"SetSampleRate", false, L"Can't Set SampleRate\n"},
        {"WriteMix", false, L"Can't set Mix With Wave\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + (c.onDisable ? " on disable" : " on recover"));
        RunScenario(WithDouble(), [&](MendraApi& m) {
            ASSERT_EQ(m.ConfLibInit(), 1);
            if (c.onDisable)
                m.Fail(c.operation, 1);
            EXPECT_EQ(m.DisabletKaraokeEffect(), c.onDisable ? 0 : 1);
            if (c.onDisable) {
                EXPECT_NE(m.Messages().find(c.message), std::wstring::npos) << m.Messages().size();
                // The last steps ran all the same.
                EXPECT_EQ(m.hw->monitor, 1);
                if (std::string(c.operation) != "SetKaraokeState") {
                    EXPECT_EQ(m.hw->karaokeState, 0);
                }
            }
            m.Fail(c.operation, c.onDisable ? 0 : 1);
            EXPECT_EQ(m.RecoverKaraokeEffect(), c.onDisable ? 1 : 0);
            if (!c.onDisable) {
                EXPECT_EQ(m.Messages(), c.message);
            }
        });
    }
}

TEST(MendraTest, MessagesAlwaysFitTheCallersBuffer) {
    RunScenario(WithDouble(), [](MendraApi& m) {
        ASSERT_EQ(m.ConfLibInit(), 1);
        m.FailAll(1);
        EXPECT_EQ(m.DisabletKaraokeEffect(), 0);
        const std::wstring all = m.Messages();
        EXPECT_GT(all.size(), 260u) << "every step failed";
        wchar_t buffer[260];
        std::wmemset(buffer, L'#', 260);
        ASSERT_EQ(m.DumpMSG(buffer, 260), 1);
        EXPECT_EQ(buffer[259], 0) << "terminated inside the buffer";
        EXPECT_EQ(std::wstring(buffer), all.substr(0, 259));
        EXPECT_EQ(m.DumpMSG(buffer, 0), 0);
        EXPECT_EQ(m.DumpMSG(nullptr, 260), 0);
        m.FailAll(0);
        m.ConfLibUnInit();
        EXPECT_EQ(m.hw->liveObjects, 0);
        EXPECT_EQ(m.hw->openHandles, 0);
    });
}

TEST(MendraTest, ObjectCreationFailuresReleaseWhatExists) {
    for (const char* op :
         {"QueryDriver2", "GetDeviceCount", "GetDevice", "QuerySettings", "QueryExtra"}) {
        SCOPED_TRACE(op);
        RunScenario(WithDouble(), [&](MendraApi& m) {
            m.Fail(op, 1);
            EXPECT_EQ(m.ConfLibInit(), 0);
            EXPECT_EQ(m.Messages(), L"Can't create ComObj\n");
            EXPECT_EQ(m.hw->liveObjects, 0);
            m.Fail(op, 0);
            EXPECT_EQ(m.ConfLibInit(), 1) << "a second attempt starts clean";
            EXPECT_EQ(m.ConfLibInit(), 1);
            EXPECT_EQ(m.hw->openHandles, 1);
            m.ConfLibUnInit();
            EXPECT_EQ(m.hw->liveObjects, 0);
        });
    }
}

TEST(MendraTest, ExportsOnlyItsEightFunctions) {
    const std::string lib = std::string(VOKARI_BIN_DIR) + "/Driver/libMendra.so";
    FILE* p = ::popen(("nm -D --defined-only " + lib).c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        const std::size_t sp = s.rfind(' ');
        if (sp == std::string::npos)
            continue;
        std::string name = s.substr(sp + 1);
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        names.insert(name);
    }
    ASSERT_EQ(::pclose(p), 0);
    const std::set<std::string> expected = {"ConfLibInit",           "ConfLibUnInit",
                                            "DisabletKaraokeEffect", "RecoverKaraokeEffect",
                                            "GetRecordVolumeScalar", "SetRecordVolumeScalar",
                                            "GetVersions",           "DumpMSG"};
    EXPECT_EQ(names, expected);
}

}  // namespace
