// A live performance end to end on virtual sound cards that tick together
// (capture first in every period, as a card with one clock would): an MP3 backing track at 44100 Hz
// decoded and resampled by the render client's decoder, the capture and render clients, the mixer
// and the recordings. The song ends by itself at its duration, "Vocal.wav" holds the raw voice,
// "Mixed.wav" the voice over exactly the decoded music, and nothing is dropped at steady state.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "AudioTestSupport.h"
#include "audio/CWASAPICapture.h"
#include "audio/CWASAPIRender.h"
#include "audio/DecoderTestSupport.h"
#include "audio/SoundMixer.h"
#include "karaoke/context/KaraokeContext.h"
#include "platform/audio/AudioEndpoint.h"
#include "platform/audio/VirtualAudioDevice.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaSource.h"
#include "platform/thread/Event.h"

namespace {

std::vector<std::int16_t> WavData(const std::filesystem::path& path) {
    const audiotest::WavFile wav = audiotest::ReadWav(path);
    EXPECT_TRUE(wav.ok) << path;
    std::vector<std::int16_t> samples(wav.data.size() / 2);
    std::memcpy(samples.data(), wav.data.data(), samples.size() * 2);
    return samples;
}

TEST(DecoderEndToEnd, LiveSongOnVirtualCardsRecordsVoiceOverTheDecodedMp3) {
    if (!platform::HasAudioEncoder("libmp3lame")) {
        GTEST_SKIP() << "no MP3 encoder";
    }
    audiotest::TempFolder tmp;
    decoder_test::TempFolder folder;
    CKaraokeContext* context = GetKaraokeContext();
    ASSERT_NE(context, nullptr);
    context->SetReplay(false);
    context->SetBlockDuration(16);
    context->SetRecordFolder(tmp.Folder());
    context->SetProgramFolder(tmp.Folder());

    platform::MediaEncodeOptions options;
    options.container = "mp3";
    options.codec = "libmp3lame";
    options.sampleRate = 44100;
    const std::string song = decoder_test::Encode(folder, "song.mp3", options,
                                                  decoder_test::Tone(44100, 2, 3.0, 1000.0, 0.25));
    std::shared_ptr<platform::MediaSource> source;
    ASSERT_EQ(platform::MediaSource::Open(song, &source), platform::kOk);
    const std::int64_t duration = source->DurationMs();
    ASSERT_NEAR(static_cast<double>(duration), 3000.0, 100.0);

    constexpr std::int16_t kVoice = 1000;
    auto microphone = std::make_shared<platform::VirtualAudioDevice>("microphone");
    microphone->SetCaptureSamples(std::vector<std::int16_t>(48000 * 2, kVoice), true);
    auto speakers = std::make_shared<platform::VirtualAudioDevice>("speakers");
    auto clock = std::make_shared<platform::VirtualAudioClock>();
    microphone->UseClock(clock);
    speakers->UseClock(clock);
    using platform::AudioDirection;
    using platform::AudioEndpoint;

    SoundMixer mixer(platform::SystemClock(), nullptr);
    CWASAPICapture capture(&mixer, AudioEndpoint::Virtual(AudioDirection::Capture, microphone));
    CWASAPIRender render(&mixer, AudioEndpoint::Virtual(AudioDirection::Render, speakers));
    render.SetDecoderTempFolder(folder.Folder() + "KTV_Temp2/");
    ASSERT_EQ(render.SetSource(source, 0), kAudioOk);
    ASSERT_EQ(render.StartSources(), kAudioOk);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!mixer.IsMusicReady() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(mixer.IsMusicReady());

    platform::Event start;
    render.SetSongDuration(duration);
    ASSERT_EQ(mixer.Initialize(), kAudioOk);
    ASSERT_EQ(capture.InitializeClient(16, &start), kAudioOk);
    ASSERT_EQ(render.InitializeClient(16, &start), kAudioOk);
    ASSERT_EQ(mixer.Start(), kAudioOk);
    ASSERT_EQ(capture.StartClient(false), kAudioOk);
    ASSERT_EQ(render.StartClient(false), kAudioOk);

    std::atomic<bool> ended{false};
    std::thread ticker([&] {
        // At the cards' own pace (the mixer refills its music ring in the
        // time real periods give it). Once the render thread has ended a
        // tick waits in vain; a short time-out lets the ticker see the end.
        auto next = std::chrono::steady_clock::now();
        while (!ended.load()) {
            clock->Tick(1, 200);
            // Never in bursts to catch up: a late tick just starts the next period.
            next = std::max(next + std::chrono::milliseconds(16), std::chrono::steady_clock::now());
            std::this_thread::sleep_until(next);
        }
    });
    EXPECT_EQ(render.WaitForThreadEnd(), 1) << "the render thread ends by itself at the duration";
    ended = true;
    ticker.join();
    EXPECT_EQ(mixer.DroppedBlocks(), 0u) << "voice dropped at steady state";
    EXPECT_EQ(mixer.LostRecordingBlocks(), 0u);
    EXPECT_EQ(capture.StopClient(false), kAudioOk);
    EXPECT_EQ(render.StopClient(false), kAudioOk);  // stops the mixer: the recordings are closed
    render.StopSources();

    const auto vocal = WavData(tmp.Path() / "Vocal.wav");
    ASSERT_GE(vocal.size(), static_cast<std::size_t>(duration / 16) * 1536);
    for (std::size_t i = 0; i < vocal.size(); ++i) {
        ASSERT_EQ(vocal[i], kVoice) << "Vocal.wav holds the raw microphone, sample " << i;
    }

    const auto decoded = decoder_test::ReadPcm(folder.Folder() + "KTV_Temp2/KTEMP1");
    const auto mixed = WavData(tmp.Path() / "Mixed.wav");
    const std::size_t blocks = mixed.size() / 1536;
    EXPECT_NEAR(static_cast<double>(blocks), std::ceil(static_cast<double>(duration) / 16.0), 1.0);
    ASSERT_FALSE(decoded.empty());
    // The mixer plays whole blocks; a last partial block is silent.
    const std::size_t wholeBlocks = decoded.size() / 1536 * 1536;
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        const int music = i < wholeBlocks ? decoded[i] : 0;
        ASSERT_EQ(mixed[i], kVoice + music) << "Mixed.wav is voice + music, sample " << i;
    }
    // And the music is the song: the tone at its frequency.
    std::vector<double> left;
    for (std::size_t f = 12000; f < mixed.size() / 2 - 12000; ++f) {
        left.push_back(mixed[2 * f] - kVoice);
    }
    EXPECT_NEAR(decoder_test::Frequency(left, 48000), 1000.0, 5.0);
}

}  // namespace
