// The ALSA backend on the devices every alsa-lib has without a sound card:
// "null" (silence in, everything out discarded) and "file" (what is played
// lands in a file), and devices that do not exist.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/audio/AudioEndpoint.h"
#include "platform/thread/Event.h"

namespace {

using namespace platform;

std::unique_ptr<AudioStream> Activate(AudioDirection direction, const std::string& name) {
    std::unique_ptr<AudioStream> stream;
    EXPECT_EQ(AudioEndpoint::Alsa(direction, name)->Activate(&stream), kOk);
    return stream;
}

// A missing device or a sound server that is not running is an error at
// once, in both directions, for the format check and the opening alike.
TEST(AudioAlsaEndpoint, MissingDevicesAreReportedNotHungOn) {
    // The "pulse" device must not find a server that happens to run.
    setenv("PULSE_SERVER", "unix:/nonexistent/vokari/pulse/native", 1);
    for (const char* name : {"vokari_no_such_device", "hw:17,0", "plughw:17,0", "pulse"}) {
        for (AudioDirection direction : {AudioDirection::Capture, AudioDirection::Render}) {
            SCOPED_TRACE(name);
            auto stream = Activate(direction, name);
            EXPECT_EQ(stream->IsFormatSupported(kEngineAudioFormat), kAudioDeviceNotFound);
            EXPECT_EQ(stream->Initialize(kEngineAudioFormat, 16), kAudioDeviceNotFound);
            EXPECT_EQ(stream->BufferFrames(), 0u);
            EXPECT_EQ(stream->Start(), kAudioNotInitialized);
        }
    }
    unsetenv("PULSE_SERVER");
}

TEST(AudioAlsaEndpoint, NullDeviceCapturesSilenceInWholePeriods) {
    auto capture = Activate(AudioDirection::Capture, "null");
    ASSERT_EQ(capture->IsFormatSupported(kEngineAudioFormat), kOk);
    ASSERT_EQ(capture->Initialize(kEngineAudioFormat, 16), kOk);
    EXPECT_EQ(capture->BufferFrames(), 768u);
    ASSERT_EQ(capture->Start(), kOk);
    Event shutdown;
    for (int k = 0; k < 20; ++k) {
        ASSERT_EQ(capture->Wait(shutdown, 5000), AudioWait::Ready) << k;
        const std::byte* data;
        std::uint32_t frames, flags;
        HResult hr = capture->AcquireCapture(&data, &frames, &flags);
        if (hr == kAudioBufferEmpty) {
            continue;
        }
        ASSERT_EQ(hr, kOk);
        ASSERT_EQ(frames, 768u);
        EXPECT_TRUE(
            std::all_of(data, data + frames * 4, [](std::byte b) { return b == std::byte{0}; }));
        ASSERT_EQ(capture->ReleaseCapture(frames), kOk);
    }
    // The device is always ready; the shutdown event still wins.
    shutdown.Set();
    EXPECT_EQ(capture->Wait(shutdown, 5000), AudioWait::Shutdown);
    EXPECT_EQ(capture->Stop(), kOk);
}

// What the render client writes reaches the device period by period, after
// the one period of silence the stream starts on; stopping and starting
// again starts on silence again.
TEST(AudioAlsaEndpoint, FileDeviceReceivesEveryRenderedPeriod) {
    const auto path = std::filesystem::path(::testing::TempDir()) / "vk_alsa_render.raw";
    std::filesystem::remove(path);
    std::vector<std::int16_t> expected;
    {
        auto render = Activate(AudioDirection::Render, "file:'" + path.string() + "',raw");
        ASSERT_EQ(render->Initialize(kEngineAudioFormat, 16), kOk);
        Event shutdown;
        std::int16_t stamp = 1;
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(render->Start(), kOk);
            expected.insert(expected.end(), 768 * 2, 0);
            for (int k = 0; k < 6; ++k, ++stamp) {
                ASSERT_EQ(render->Wait(shutdown, 5000), AudioWait::Ready);
                std::byte* data;
                ASSERT_EQ(render->AcquireRender(768, &data), kOk);
                std::vector<std::int16_t> period(768 * 2, stamp);
                std::memcpy(data, period.data(), 768 * 4);
                const bool silent = k == 3;
                ASSERT_EQ(render->ReleaseRender(768, silent ? kAudioBufferSilent : 0), kOk);
                expected.insert(expected.end(), 768 * 2, silent ? 0 : stamp);
            }
            ASSERT_EQ(render->Stop(), kOk);
        }
    }
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::int16_t> written(bytes.size() / 2);
    std::memcpy(written.data(), bytes.data(), written.size() * 2);
    EXPECT_EQ(written, expected);
    std::filesystem::remove(path);
}

// A device defined by the test's own ALSA configuration: the "file"
// plugin's input file stands in for a microphone, so real samples come in
// through the whole capture path, period after period, in order.
TEST(AudioAlsaEndpoint, CaptureFromAConfiguredDeviceDeliversItsSamples) {
    const auto folder = std::filesystem::path(::testing::TempDir()) / "vk_alsa_config";
    std::filesystem::create_directories(folder);
    const auto voice = folder / "voice.raw";
    std::vector<std::int16_t> samples(768 * 2 * 8);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>((i / 2) % 1000 - 500 + (i % 2) * 3);
    }
    std::ofstream(voice, std::ios::binary)
        .write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * 2));
    const auto config = folder / "asound.conf";
    std::ofstream(config) << "</usr/share/alsa/alsa.conf>\n"
                          << "pcm.vokari_test_voice {\n"
                          << "    type file\n"
                          << "    slave.pcm \"null\"\n"
                          << "    file \"/dev/null\"\n"
                          << "    infile \"" << voice.string() << "\"\n"
                          << "    format \"raw\"\n"
                          << "}\n";
    const char* old = std::getenv("ALSA_CONFIG_PATH");
    const std::string saved = old != nullptr ? old : "";
    setenv("ALSA_CONFIG_PATH", config.string().c_str(), 1);

    std::vector<std::int16_t> captured;
    {
        auto capture = Activate(AudioDirection::Capture, "vokari_test_voice");
        ASSERT_EQ(capture->Initialize(kEngineAudioFormat, 16), kOk);
        ASSERT_EQ(capture->Start(), kOk);
        Event shutdown;
        while (captured.size() < samples.size()) {
            ASSERT_EQ(capture->Wait(shutdown, 5000), AudioWait::Ready);
            const std::byte* data;
            std::uint32_t frames, flags;
            const HResult hr = capture->AcquireCapture(&data, &frames, &flags);
            if (hr == kAudioBufferEmpty) {
                continue;
            }
            ASSERT_EQ(hr, kOk);
            ASSERT_EQ(frames, 768u);
            const auto* s16 = reinterpret_cast<const std::int16_t*>(data);
            captured.insert(captured.end(), s16, s16 + frames * 2);
            ASSERT_EQ(capture->ReleaseCapture(frames), kOk);
        }
    }
    if (old != nullptr) {
        setenv("ALSA_CONFIG_PATH", saved.c_str(), 1);
    } else {
        unsetenv("ALSA_CONFIG_PATH");
    }
    EXPECT_EQ(captured, samples);
    std::filesystem::remove_all(folder);
}

}  // namespace
