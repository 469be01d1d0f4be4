#include "audio/MFSampleGenerator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>

#include "audio/DecoderTestSupport.h"
#include "platform/debug/DebugLog.h"
#include "platform/media/MediaEncoder.h"
#include "platform/media/MediaSource.h"

using namespace decoder_test;
using platform::AudioFormat;
using platform::HResult;
using platform::MediaEncodeOptions;
using platform::MediaSource;

namespace {

constexpr int kDecodeTimeoutMs = 120000;

// Stands in for the mixer: records what the generator hands over and when.
class RecordingSink final : public IMFSampleGeneratorSink {
  public:
    ~RecordingSink() override {
        for (std::FILE* f : files_) {
            if (f != nullptr) {
                std::fclose(f);
            }
        }
    }

    void SetSourceFile(std::FILE* file, bool voice) override {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex_);
            if (files_[voice] != nullptr) {
                std::fclose(files_[voice]);  // a new run of the same source
            }
            files_[voice] = file;
            readyBeforeFile_ = readyBeforeFile_ || ready_[voice];
            if (generator_ != nullptr) {
                bytesAtHandOver_ = generator_->BytesWritten();
                stateAtHandOver_ = generator_->State();
            }
            hook = onFile_;
        }
        if (hook) {
            hook();
        }
    }

    void SetSourceReady(bool voice, bool ready) override {
        std::lock_guard lock(mutex_);
        ready_[voice] = ready;
        if (ready) {
            ++readyCount_;
            fileWhenReady_[voice] = files_[voice] != nullptr;
        }
        changed_.notify_all();
    }

    void Watch(const MFSampleGenerator* generator) { generator_ = generator; }
    void OnFile(std::function<void()> hook) { onFile_ = std::move(hook); }

    bool Ready(bool voice = false) const {
        std::lock_guard lock(mutex_);
        return ready_[voice];
    }
    std::FILE* File(bool voice = false) const {
        std::lock_guard lock(mutex_);
        return files_[voice];
    }
    bool FileWhenReady(bool voice = false) const {
        std::lock_guard lock(mutex_);
        return fileWhenReady_[voice];
    }
    bool ReadyBeforeFile() const { return readyBeforeFile_; }
    int ReadyCount() const { return readyCount_; }
    std::uint64_t BytesAtHandOver() const { return bytesAtHandOver_; }
    MFSampleGenerator::ReaderState StateAtHandOver() const { return stateAtHandOver_; }

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::FILE* files_[2] = {nullptr, nullptr};
    bool ready_[2] = {false, false};
    bool fileWhenReady_[2] = {false, false};
    bool readyBeforeFile_ = false;
    int readyCount_ = 0;
    const MFSampleGenerator* generator_ = nullptr;
    std::uint64_t bytesAtHandOver_ = 0;
    MFSampleGenerator::ReaderState stateAtHandOver_ = MFSampleGenerator::ReaderStateStopped;
    std::function<void()> onFile_;
};

MFSampleGenerator::Options InFolder(const TempFolder& folder, bool early = true) {
    MFSampleGenerator::Options options;
    options.tempFolder = folder.Folder() + "KTV_Temp2/";
    options.earlyHandOver = early;
    return options;
}

std::shared_ptr<const MediaSource> OpenSource(const std::string& path) {
    std::shared_ptr<MediaSource> source;
    EXPECT_EQ(MediaSource::Open(path, &source), platform::kOk) << path;
    return source;
}

// Configures and starts; waits until the whole source is decoded.
void DecodeAll(MFSampleGenerator& generator, const std::string& path) {
    auto source = OpenSource(path);
    ASSERT_TRUE(source);
    ASSERT_EQ(
        generator.Configure(source, platform::kEnginePeriodFrames, platform::kEngineAudioFormat),
        platform::kOk);
    ASSERT_EQ(generator.StartSource(), platform::kOk);
    ASSERT_TRUE(generator.WaitUntilDone(kDecodeTimeoutMs)) << "decoding did not finish";
}

std::vector<std::int16_t> HandedOverPcm(std::FILE* file) {
    EXPECT_NE(file, nullptr);
    if (file == nullptr) {
        return {};
    }
    std::fseek(file, 0, SEEK_SET);
    return ReadAll(file);
}

struct DecodeCase {
    const char* name;
    const char* container;
    const char* codec;
    std::uint32_t rate;
    std::uint16_t channels;
    double levelTolerance;  // relative
};

class DecodeFormats : public ::testing::TestWithParam<DecodeCase> {};

// Every source becomes 48000 Hz stereo 16-bit of the source's length; a
// 1 kHz tone stays 1 kHz at the level it was written with, and mono comes
// out on both channels at full level.
TEST_P(DecodeFormats, BecomesEngineFormatWithToneAndLengthKept) {
    const DecodeCase& c = GetParam();
    if (!platform::HasAudioEncoder(c.codec)) {
        GTEST_SKIP() << "this FFmpeg has no encoder " << c.codec;
    }
    TempFolder folder;
    constexpr double kSeconds = 2.5;
    constexpr double kAmplitude = 0.5;
    MediaEncodeOptions options;
    options.container = c.container;
    options.codec = c.codec;
    options.sampleRate = c.rate;
    options.channels = c.channels;
    const std::string path = Encode(folder, std::string(c.name) + "." + c.container, options,
                                    Tone(c.rate, c.channels, kSeconds, 1000.0, kAmplitude));

    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder));
    DecodeAll(generator, path);
    EXPECT_EQ(generator.IsResampling(), c.rate != 48000);
    EXPECT_EQ(generator.State(), MFSampleGenerator::ReaderStateEnded);
    ASSERT_TRUE(sink.Ready());
    ASSERT_TRUE(sink.FileWhenReady()) << "the flag came before the file";

    const std::vector<std::int16_t> pcm = HandedOverPcm(sink.File());
    const std::size_t frames = pcm.size() / 2;
    EXPECT_EQ(pcm.size() * 2, generator.BytesWritten());
    EXPECT_NEAR(static_cast<double>(frames), kSeconds * 48000, platform::kEnginePeriodFrames)
        << "length differs from the source's by more than one block";

    const auto left = Channel(pcm, 2, 0, 12000, frames - 12000);
    const auto right = Channel(pcm, 2, 1, 12000, frames - 12000);
    EXPECT_NEAR(Frequency(left, 48000), 1000.0, 5.0);
    EXPECT_NEAR(SinePeak(left), kAmplitude * 32768, kAmplitude * 32768 * c.levelTolerance);
    EXPECT_NEAR(SinePeak(right), kAmplitude * 32768, kAmplitude * 32768 * c.levelTolerance);
    if (c.channels == 1) {
        EXPECT_EQ(left, right) << "mono must be copied to both channels unchanged";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DecodeFormats,
    // The MP3 encoder itself takes about 5 % off a pure tone's level; the
    // lossless cases must keep it within 1 %.
    ::testing::Values(DecodeCase{"mp3_44100_mono", "mp3", "libmp3lame", 44100, 1, 0.07},
                      DecodeCase{"mp3_48000_stereo", "mp3", "libmp3lame", 48000, 2, 0.07},
                      DecodeCase{"wav_22050_u8_mono", "wav", "pcm_u8", 22050, 1, 0.01},
                      DecodeCase{"wav_44100_s16_stereo", "wav", "pcm_s16le", 44100, 2, 0.01},
                      DecodeCase{"wav_48000_s24_mono", "wav", "pcm_s24le", 48000, 1, 0.01},
                      DecodeCase{"wav_32000_s32_stereo", "wav", "pcm_s32le", 32000, 2, 0.01},
                      DecodeCase{"wav_96000_f32_stereo", "wav", "pcm_f32le", 96000, 2, 0.01},
                      DecodeCase{"flac_11025_mono", "flac", "flac", 11025, 1, 0.01}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// The recordings a replay decodes, as the WAV writer stores them (46-byte
// header with an 18-byte format chunk).
void WriteRecording(const std::string& path, const std::vector<std::int16_t>& samples) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
        }
    };
    auto u16 = [&](std::uint16_t v) {
        out.put(static_cast<char>(v & 0xFF));
        out.put(static_cast<char>(v >> 8));
    };
    const auto data = static_cast<std::uint32_t>(samples.size() * 2);
    out.write("RIFF", 4);
    u32(data + 38);
    out.write("WAVEfmt ", 8);
    u32(18);
    u16(1);
    u16(2);
    u32(48000);
    u32(192000);
    u16(4);
    u16(16);
    u16(0);
    out.write("data", 4);
    u32(data);
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(data));
}

// A source already in the engine's format is copied sample for sample:
// an FFmpeg-written WAV and a kept recording alike.
TEST(MFSampleGenerator, EngineFormatSourcePassesBitExact) {
    TempFolder folder;
    std::vector<float> samples(48000 * 2);
    std::vector<std::int16_t> expected(samples.size());
    std::uint32_t seed = 12345;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto v = static_cast<std::int16_t>(static_cast<std::int32_t>(seed >> 16) - 32768);
        expected[i] = v;
        samples[i] = static_cast<float>(v) / 32768.0f;  // exact in float, exact back to 16 bits
    }
    MediaEncodeOptions options;  // WAV, 48000, stereo, 16-bit
    const std::string encoded = Encode(folder, "exact.wav", options, samples);
    const std::string recording = folder.File("Mixed.wav");
    WriteRecording(recording, expected);

    for (const std::string& path : {encoded, recording}) {
        SCOPED_TRACE(path);
        RecordingSink sink;
        MFSampleGenerator generator(&sink, false, InFolder(folder, false));
        DecodeAll(generator, path);
        EXPECT_FALSE(generator.IsResampling());
        EXPECT_EQ(HandedOverPcm(sink.File()), expected);
    }
}

// Live: the mixer gets a read handle once 10 s are written, long before the
// end, and that handle reads the whole song although the file was still
// growing behind it.
TEST(MFSampleGenerator, LiveSourceIsHandedOverAfterTenSecondsAndReadsToTheEnd) {
    TempFolder folder;
    MediaEncodeOptions options;
    options.sampleRate = 44100;
    const std::string path = Encode(folder, "long.wav", options, Tone(44100, 2, 14.0));

    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder, true));
    sink.Watch(&generator);
    DecodeAll(generator, path);

    EXPECT_GE(sink.BytesAtHandOver(), MFSampleGenerator::kEarlyHandOverBytes);
    EXPECT_LT(sink.BytesAtHandOver(), MFSampleGenerator::kEarlyHandOverBytes + 192000)
        << "handed over much later than at 10 s";
    EXPECT_NE(sink.StateAtHandOver(), MFSampleGenerator::ReaderStateEnded);
    EXPECT_TRUE(sink.FileWhenReady());
    EXPECT_FALSE(sink.ReadyBeforeFile());
    EXPECT_EQ(sink.ReadyCount(), 1);

    const std::vector<std::int16_t> viaHandle = HandedOverPcm(sink.File());
    EXPECT_EQ(viaHandle.size() * 2, generator.BytesWritten());
    EXPECT_EQ(viaHandle, ReadPcm(generator.TempFilePath()));
    EXPECT_NEAR(static_cast<double>(viaHandle.size() / 2), 14.0 * 48000, 768);
}

// The mixer reads the early handle while the decoder is still writing:
// whatever it reads is in order and nothing is skipped at a false end.
TEST(MFSampleGenerator, EarlyHandleReadConcurrentlyMatchesTheFile) {
    TempFolder folder;
    MediaEncodeOptions options;
    options.sampleRate = 22050;
    options.channels = 1;
    const std::string path = Encode(folder, "growing.wav", options, Tone(22050, 1, 30.0, 440.0));

    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder, true));
    auto source = OpenSource(path);
    ASSERT_EQ(generator.Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    ASSERT_EQ(generator.StartSource(), platform::kOk);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!sink.Ready() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(sink.Ready());
    // Read in mixer-sized blocks straight away, racing the writer.
    std::vector<std::int16_t> read;
    std::int16_t block[1536];
    std::size_t n;
    while ((n = std::fread(block, sizeof(std::int16_t), 1536, sink.File())) > 0) {
        read.insert(read.end(), block, block + n);
    }
    ASSERT_TRUE(generator.WaitUntilDone(kDecodeTimeoutMs));
    EXPECT_EQ(read, ReadPcm(generator.TempFilePath()));
    EXPECT_NEAR(static_cast<double>(read.size() / 2), 30.0 * 48000, 768);
}

// Hand-over at the end: a live song under 10 s, and a replay of any length.
TEST(MFSampleGenerator, ShortSongOrReplayIsHandedOverOnlyAtTheEnd) {
    struct Case {
        double seconds;
        bool early;
    };
    for (const Case c : {Case{4.0, true}, Case{12.0, false}}) {
        SCOPED_TRACE(c.seconds);
        TempFolder folder;
        const std::string path =
            Encode(folder, "song.wav", MediaEncodeOptions{}, Tone(48000, 2, c.seconds));
        RecordingSink sink;
        MFSampleGenerator generator(&sink, false, InFolder(folder, c.early));
        sink.Watch(&generator);
        DecodeAll(generator, path);
        EXPECT_EQ(sink.StateAtHandOver(), MFSampleGenerator::ReaderStateEnded);
        EXPECT_EQ(sink.BytesAtHandOver(), generator.BytesWritten());
        EXPECT_EQ(generator.BytesWritten(), static_cast<std::uint64_t>(c.seconds * 192000));
        ASSERT_NE(sink.File(), nullptr);
        EXPECT_EQ(std::ftell(sink.File()), static_cast<long>(generator.BytesWritten()))
            << "the file is handed over positioned at its end";
        EXPECT_TRUE(sink.FileWhenReady());
    }
}

// The voice recording of a replay goes to "KTEMP2" and to the voice slot.
TEST(MFSampleGenerator, VoiceSourceUsesItsOwnFileAndFlag) {
    TempFolder folder;
    const std::string path = Encode(folder, "Vocal.wav", MediaEncodeOptions{}, Tone(48000, 2, 1.0));
    RecordingSink sink;
    MFSampleGenerator generator(&sink, true, InFolder(folder, false));
    DecodeAll(generator, path);
    EXPECT_EQ(std::filesystem::path(generator.TempFilePath()).filename(), "KTEMP2");
    EXPECT_TRUE(sink.Ready(true));
    EXPECT_FALSE(sink.Ready(false));
    EXPECT_NE(sink.File(true), nullptr);
    EXPECT_EQ(sink.File(false), nullptr);
}

// Whatever goes wrong before decoding, the ready flag is set (the window
// would otherwise wait for ever) and the error is returned.
TEST(MFSampleGenerator, FailedConfigurationSetsReadyAndReportsTheError) {
    TempFolder folder;
    // A picture: a file that opens but has no audio stream.
    {
        std::ofstream ppm(folder.File("picture.ppm"), std::ios::binary);
        ppm << "P6\n2 2\n255\n";
        ppm << std::string(12, '\x7f');
    }
    const std::string song = Encode(folder, "song.wav", MediaEncodeOptions{}, Tone(48000, 2, 0.5));
    {
        std::ofstream blocker(folder.File("not_a_folder"));
        blocker << "x";
    }
    struct Case {
        const char* name;
        std::string path;
        AudioFormat target;
        std::string tempFolder;
        HResult expected;
    };
    const AudioFormat engine = platform::kEngineAudioFormat;
    const Case cases[] = {
        {"no audio stream", folder.File("picture.ppm"), engine, folder.Folder(),
         platform::kMediaNoAudioStream},
        {"8-bit target", song, AudioFormat{48000, 2, 8}, folder.Folder(), platform::kInvalidArg},
        {"temp folder cannot be made", song, engine, folder.File("not_a_folder") + "/sub/",
         platform::kAccessDenied},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSink sink;
        MFSampleGenerator::Options options;
        options.tempFolder = c.tempFolder;
        MFSampleGenerator generator(&sink, false, options);
        auto source = OpenSource(c.path);
        ASSERT_TRUE(source);
        EXPECT_EQ(generator.Configure(source, 768, c.target), c.expected);
        EXPECT_FALSE(generator.IsConfigured());
        EXPECT_TRUE(sink.Ready());
        EXPECT_EQ(sink.File(), nullptr);
        EXPECT_EQ(generator.StartSource(), platform::kUnexpected);
        EXPECT_EQ(generator.State(), MFSampleGenerator::ReaderStateStopped);
    }
}

// Files the source resolver must refuse, with a reason.
TEST(MFSampleGenerator, UnreadableFilesAreRefusedWhenOpened) {
    TempFolder folder;
    const std::string song = Encode(folder, "song.wav", MediaEncodeOptions{}, Tone(48000, 2, 0.5));
    {
        std::ifstream in(song, std::ios::binary);
        std::string header(20, '\0');
        in.read(header.data(), 20);
        std::ofstream(folder.File("cut_header.wav"), std::ios::binary) << header;
        std::ofstream(folder.File("noise.mp3"), std::ios::binary) << std::string(64, '\x01');
        std::ofstream(folder.File("empty.mp3"), std::ios::binary);
    }
    struct Case {
        const char* name;
        HResult expected;
    };
    for (const Case c : {Case{"missing.mp3", platform::kNotFound},
                         Case{"cut_header.wav", platform::kMediaInvalidFile},
                         Case{"noise.mp3", platform::kMediaInvalidFile},
                         Case{"empty.mp3", platform::kMediaInvalidFile}}) {
        SCOPED_TRACE(c.name);
        std::shared_ptr<MediaSource> source;
        EXPECT_EQ(MediaSource::Open(folder.File(c.name), &source), c.expected);
        EXPECT_FALSE(source);
    }
}

// A file cut in the middle decodes up to the cut; the ready flag comes and
// the mixer gets what was decoded.
TEST(MFSampleGenerator, TruncatedFileDecodesUpToTheCut) {
    if (!platform::HasAudioEncoder("libmp3lame")) {
        GTEST_SKIP() << "no MP3 encoder";
    }
    TempFolder folder;
    MediaEncodeOptions options;
    options.container = "mp3";
    options.codec = "libmp3lame";
    options.sampleRate = 44100;
    const std::string whole = Encode(folder, "whole.mp3", options, Tone(44100, 2, 6.0));
    const auto size = std::filesystem::file_size(whole);
    std::filesystem::copy_file(whole, folder.File("cut.mp3"));
    std::filesystem::resize_file(folder.File("cut.mp3"), size / 2);

    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder));
    DecodeAll(generator, folder.File("cut.mp3"));
    EXPECT_TRUE(sink.Ready());
    const auto pcm = HandedOverPcm(sink.File());
    EXPECT_NEAR(static_cast<double>(pcm.size() / 2), 3.0 * 48000, 0.2 * 48000);
}

TEST(MFSampleGenerator, StartTwiceAnswersAlreadyRunning) {
    TempFolder folder;
    const std::string path = Encode(folder, "song.wav", MediaEncodeOptions{}, Tone(48000, 2, 1.0));
    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder));
    auto source = OpenSource(path);
    ASSERT_EQ(generator.Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    EXPECT_EQ(generator.StartSource(), platform::kOk);
    EXPECT_EQ(generator.StartSource(), platform::kFalse);
    ASSERT_TRUE(generator.WaitUntilDone(kDecodeTimeoutMs));
    EXPECT_EQ(generator.StartSource(), platform::kFalse);
}

// StopSource during decoding: the next sample is only logged, nothing more
// is written, the file is closed, and the mixer's early handle ends there
// instead of waiting for data that will never come.
TEST(MFSampleGenerator, StopEndsDecodingAndReleasesTheReader) {
    TempFolder folder;
    MediaEncodeOptions options;
    options.sampleRate = 44100;
    const std::string path = Encode(folder, "long.wav", options, Tone(44100, 2, 20.0));
    platform::CapturedDebugOutput log;
    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder, true));
    sink.Watch(&generator);
    sink.OnFile([&] { generator.StopSource(); });  // stop at the hand-over
    DecodeAll(generator, path);

    EXPECT_EQ(generator.State(), MFSampleGenerator::ReaderStateStopped);
    EXPECT_EQ(generator.BytesWritten(), sink.BytesAtHandOver()) << "written after the stop";
    EXPECT_TRUE(log.Contains("MFSampleGenerator::StopSource.\n"));
    EXPECT_TRUE(
        log.Contains("m_ReaderState != ReaderStatePlaying && m_ReaderState != ReaderStatePreRoll, "
                     "m_ReaderState = 0.\n"));
    const auto pcm = HandedOverPcm(sink.File());  // would hang on a reader left waiting
    EXPECT_EQ(pcm.size() * 2, generator.BytesWritten());
    EXPECT_EQ(std::filesystem::file_size(generator.TempFilePath()), generator.BytesWritten());
}

// Shutting down in the middle of a song joins the decode thread (nothing is
// written afterwards); the same generator can be configured and run again,
// and destroying a running one does not hang.
TEST(MFSampleGenerator, ShutdownDuringDecodingThenConfigureAgain) {
    TempFolder folder;
    MediaEncodeOptions options;
    options.sampleRate = 44100;
    const std::string path = Encode(folder, "song.wav", options, Tone(44100, 2, 20.0));
    auto source = OpenSource(path);
    RecordingSink sink;
    MFSampleGenerator generator(&sink, false, InFolder(folder, false));
    ASSERT_EQ(generator.Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    ASSERT_EQ(generator.StartSource(), platform::kOk);
    EXPECT_EQ(generator.Shutdown(), platform::kOk);
    EXPECT_FALSE(generator.IsConfigured());
    EXPECT_NE(generator.State(), MFSampleGenerator::ReaderStatePreRoll);
    const std::uint64_t written = generator.BytesWritten();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(generator.BytesWritten(), written) << "written after Shutdown returned";

    ASSERT_EQ(generator.Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    ASSERT_EQ(generator.StartSource(), platform::kOk);
    ASSERT_TRUE(generator.WaitUntilDone(kDecodeTimeoutMs));
    EXPECT_NEAR(static_cast<double>(HandedOverPcm(sink.File()).size() / 2), 20.0 * 48000, 768);

    RecordingSink other;
    auto running = std::make_unique<MFSampleGenerator>(&other, false, InFolder(folder, false));
    ASSERT_EQ(running->Configure(source, 768, platform::kEngineAudioFormat), platform::kOk);
    ASSERT_EQ(running->StartSource(), platform::kOk);
    running.reset();
}

TEST(MFResampler, OutputCapacityDoesNotOverflow) {
    struct Case {
        std::uint64_t bytes;
        std::uint32_t in, out;
        std::uint64_t expected;
    };
    for (const Case c :
         {Case{17640, 44100, 48000, 19200 + 480}, Case{200000, 44100, 48000, 217687 + 480},
          Case{4000000000ull, 8000, 48000, 24000000000ull + 480}, Case{100, 0, 48000, 0}}) {
        EXPECT_EQ(MFResampler::OutputCapacity(c.bytes, c.in, c.out), c.expected) << c.bytes;
    }
}

TEST(MFResampler, RefusesToPassSamplesThroughBeforeInitialize) {
    platform::CapturedDebugOutput log;
    MFResampler resampler;
    std::vector<std::byte> in(4000), out(7, std::byte{1});
    EXPECT_EQ(resampler.Resample(in, &out), platform::kUnexpected);
    EXPECT_TRUE(log.Contains("MFResampler::Resample failed,  m_bIsInitialized = FALSE.\n"));
}

}  // namespace

namespace {

// Without a folder given, the temp files live in the user's own temp
// folder, never under a fixed name in a shared one.
TEST(MFSampleGenerator, TempFilesGoToThePerUserTempFolder) {
    TempFolder folder;
    const std::string runtime = folder.Folder() + "runtime";
    std::filesystem::create_directories(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old != nullptr ? old : "";
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string path = Encode(folder, "song.wav", MediaEncodeOptions{}, Tone(48000, 2, 0.5));
    {
        RecordingSink sink;
        MFSampleGenerator generator(&sink, false);
        DecodeAll(generator, path);
        EXPECT_EQ(generator.TempFilePath(), runtime + "/vokari/KTV_Temp2/KTEMP1");
        EXPECT_TRUE(std::filesystem::exists(generator.TempFilePath()));
    }
    if (old != nullptr) {
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace
