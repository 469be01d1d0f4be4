// The ALSA backend through a real sound server: a user-mode PulseAudio with
// a null sink, started by the test in a runtime folder of its own. A tone
// rendered to the "pulse" device comes back in a capture from the sink's
// monitor.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioEndpoint.h"
#include "platform/thread/Event.h"

extern char** environ;

namespace {

using namespace platform;
namespace fs = std::filesystem;

bool OnPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    std::size_t at = 0;
    while (at <= rest.size()) {
        const std::size_t end = rest.find(':', at);
        const std::string dir =
            rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return false;
}

class SoundServer {
  public:
    explicit SoundServer(const fs::path& folder) : folder_(folder) {}
    ~SoundServer() { Stop(); }

    // Starts the server and waits for its socket; false with a reason.
    bool Start(std::string* why) {
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::replace);
        const std::string log = (folder_ / "server.log").string();
        std::vector<std::string> env = {
            "XDG_RUNTIME_DIR=" + folder_.string(), "HOME=" + folder_.string(),
            "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "")};
        std::vector<std::string> args = {"pulseaudio",
                                         "-n",
                                         "--daemonize=no",
                                         "--exit-idle-time=-1",
                                         "--use-pid-file=no",
                                         "-L",
                                         "module-null-sink",
                                         "-L",
                                         "module-native-protocol-unix auth-anonymous=1"};
        std::vector<char*> argv, envp;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const int err =
            posix_spawnp(&pid_, "pulseaudio", &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (err != 0) {
            pid_ = -1;
            *why = std::string("cannot start pulseaudio: ") + std::strerror(err);
            return false;
        }
        const fs::path socket = folder_ / "pulse" / "native";
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            if (fs::exists(socket)) {
                socket_ = socket.string();
                return true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                *why = "pulseaudio ended at start-up; see " + log;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        *why = "pulseaudio made no socket within 30 s";
        return false;
    }

    void Stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

    const std::string& Socket() const { return socket_; }

  private:
    fs::path folder_;
    pid_t pid_ = -1;
    std::string socket_;
};

TEST(AudioPulseIntegration, ToneRenderedThroughTheServerComesBackInTheCapture) {
    if (!OnPath("pulseaudio")) {
        GTEST_SKIP()
            << "pulseaudio is not installed (Debian packages pulseaudio, libasound2-plugins)";
    }
    SoundServer server(fs::path(::testing::TempDir()) / "vk_pulse_runtime");
    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    setenv("PULSE_SERVER", ("unix:" + server.Socket()).c_str(), 1);

    std::unique_ptr<AudioStream> render, capture;
    ASSERT_EQ(AudioEndpoint::Alsa(AudioDirection::Render, "pulse")->Activate(&render), kOk);
    ASSERT_EQ(AudioEndpoint::Alsa(AudioDirection::Capture, "pulse")->Activate(&capture), kOk);
    ASSERT_EQ(render->IsFormatSupported(kEngineAudioFormat), kOk);
    ASSERT_EQ(render->Initialize(kEngineAudioFormat, 16), kOk);
    ASSERT_EQ(capture->Initialize(kEngineAudioFormat, 16), kOk);
    ASSERT_EQ(render->BufferFrames(), 768u);
    ASSERT_EQ(capture->BufferFrames(), 768u);
    ASSERT_EQ(render->Start(), kOk);
    ASSERT_EQ(capture->Start(), kOk);

    Event renderStop, captureStop;
    std::atomic<HResult> renderError{kOk};
    std::thread renderer([&] {
        std::uint64_t frame = 0;
        for (;;) {
            // A sound server may take a moment before it drains the first periods.
            const AudioWait w = render->Wait(renderStop, 5000);
            if (w == AudioWait::Shutdown) {
                return;
            }
            if (w != AudioWait::Ready) {
                renderError = w == AudioWait::Failed ? render->LastError() : kFail;
                return;
            }
            std::byte* data;
            if (render->AcquireRender(768, &data) != kOk) {
                renderError = kFail;
                return;
            }
            auto* samples = reinterpret_cast<std::int16_t*>(data);
            for (int i = 0; i < 768; ++i, ++frame) {
                const auto v = static_cast<std::int16_t>(
                    16384.0 * std::sin(2.0 * M_PI * 1000.0 * static_cast<double>(frame) / 48000.0));
                samples[2 * i] = v;
                samples[2 * i + 1] = v;
            }
            if (render->ReleaseRender(768, 0) != kOk) {
                renderError = render->LastError();
                return;
            }
        }
    });

    std::vector<std::int16_t> captured;
    captured.reserve(48000 * 2 * 5);
    HResult captureError = kOk;
    for (int periods = 0; periods < 250;) {  // 4 s
        const AudioWait w = capture->Wait(captureStop, 5000);
        if (w != AudioWait::Ready) {
            captureError = w == AudioWait::Failed ? capture->LastError() : kFail;
            break;
        }
        const std::byte* data;
        std::uint32_t frames, flags;
        const HResult hr = capture->AcquireCapture(&data, &frames, &flags);
        if (hr == kAudioBufferEmpty) {
            continue;
        }
        if (hr != kOk) {
            captureError = hr;
            break;
        }
        const auto* samples = reinterpret_cast<const std::int16_t*>(data);
        captured.insert(captured.end(), samples, samples + frames * 2);
        capture->ReleaseCapture(frames);
        ++periods;
    }
    renderStop.Set();
    renderer.join();
    render->Stop();
    capture->Stop();
    render.reset();
    capture.reset();
    unsetenv("PULSE_SERVER");
    server.Stop();

    ASSERT_EQ(renderError.load(), kOk);
    ASSERT_EQ(captureError, kOk);
    // The last two seconds: the tone, at the level it was played.
    ASSERT_GE(captured.size(), std::size_t{4 * 48000 * 2 - 2 * 768 * 2});
    const std::size_t from = captured.size() / 2 - 2 * 48000;
    double sum = 0;
    int crossings = 0;
    double first = -1, last = -1;
    for (std::size_t i = from + 1; i < captured.size() / 2; ++i) {
        const double a = captured[2 * (i - 1)], b = captured[2 * i];
        sum += b * b;
        if (a < 0 && b >= 0) {
            const double t = static_cast<double>(i - 1) + (-a) / (b - a);
            if (first < 0) {
                first = t;
            } else {
                ++crossings;
            }
            last = t;
        }
    }
    const double peak = std::sqrt(2.0 * sum / static_cast<double>(captured.size() / 2 - from - 1));
    EXPECT_GT(crossings, 0) << "nothing came back";
    if (crossings > 0) {
        EXPECT_NEAR(crossings * 48000.0 / (last - first), 1000.0, 10.0);
    }
    EXPECT_NEAR(peak, 16384.0, 16384.0 * 0.1);
}

}  // namespace
