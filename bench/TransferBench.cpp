// Transfer engine throughput from nginx on loopback, side by side with
// curl in the same run, and the resume of a half-downloaded file.
//
//   bench_TransferBench [--benchmark_filter=...]
//   VOKARI_BENCH_MB=200 (file size in MiB)
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "catalogue/DownloadMTR.h"
#include "platform/net/ChildProcess.h"
#include "platform/net/Connectivity.h"
#include "platform/net/Socket.h"
#include "platform/text/Utf.h"

namespace fs = std::filesystem;

namespace {

struct Nginx {
    fs::path dir;
    std::uint16_t port = 0;
    std::int64_t size = 0;
    platform::ChildProcess process;
    bool ok = false;

    Nginx() {
        const char* mb = std::getenv("VOKARI_BENCH_MB");
        size = static_cast<std::int64_t>(mb != nullptr ? std::atoi(mb) : 200) << 20;
        dir = fs::temp_directory_path() /
              ("vokari-bench-" + std::to_string(platform::CurrentProcessId()));
        fs::remove_all(dir);
        fs::create_directories(dir / "www");
        fs::create_directories(dir / "tmp");
        fs::create_directories(dir / "out");
        {
            std::ofstream f(dir / "www/big.bin", std::ios::binary);
            std::string block(1 << 20, '\0');
            std::uint32_t x = 1;
            for (char& c : block) {
                x = x * 1664525u + 1013904223u;
                c = static_cast<char>(x >> 24);
            }
            for (std::int64_t i = 0; i < size >> 20; ++i) {
                f.write(block.data(), static_cast<std::streamsize>(block.size()));
            }
        }
        platform::TcpListener probe;
        probe.Listen();
        port = probe.Port();
        probe.Close();
        const std::string d = dir.string();
        std::ofstream conf(dir / "nginx.conf");
        conf << "daemon off;\nmaster_process off;\npid " << d << "/nginx.pid;\nerror_log " << d
             << "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
             << "  client_body_temp_path " << d << "/tmp/b;\n  proxy_temp_path " << d
             << "/tmp/p;\n  fastcgi_temp_path " << d << "/tmp/f;\n  uwsgi_temp_path " << d
             << "/tmp/u;\n  scgi_temp_path " << d << "/tmp/s;\n  sendfile on;\n"
             << "  server { listen 127.0.0.1:" << port << "; root " << d << "/www; }\n}\n";
        conf.close();
        ok = platform::IsExecutable("/usr/sbin/nginx") &&
             process.Start({"/usr/sbin/nginx", "-p", d, "-c", d + "/nginx.conf"},
                           d + "/server.log") &&
             platform::WaitForPort("127.0.0.1", port, 15000);
    }
    ~Nginx() {
        process.Stop();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/big.bin"; }
};

Nginx& Server() {
    static Nginx nginx;
    return nginx;
}

platform::FixedConnectivity gOnline(true);

int Engine(const std::string& url, const fs::path& folder, const std::wstring& name) {
    CDownloadMTR mtr;
    DownloadOptions options;
    options.connectivity = &gOnline;
    mtr.SetOptions(options);
    mtr.SetUrl(platform::FromUtf8(url));
    mtr.SetFolder(platform::FromUtf8(folder.string() + "/"));
    mtr.SetFileName(name);
    return mtr.Run();
}

bool Curl(const std::string& url, const fs::path& out) {
    platform::ChildProcess curl;
    return curl.Start({"curl", "-s", "-o", out.string(), url}) && curl.Wait(-1) == 0;
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_EngineAgainstCurl(benchmark::State& state) {
    Nginx& s = Server();
    if (!s.ok || !platform::IsExecutable("/usr/bin/curl")) {
        state.SkipWithError("nginx or curl is missing");
        return;
    }
    double engineSeconds = 0, curlSeconds = 0;
    for (auto _ : state) {
        fs::remove(s.dir / "out/engine.bin");
        fs::remove(s.dir / "out/curl.bin");
        auto t0 = std::chrono::steady_clock::now();
        if (Engine(s.Url(), s.dir / "out", L"engine.bin") != kDownloadOk) {
            state.SkipWithError("the engine failed");
            return;
        }
        auto t1 = std::chrono::steady_clock::now();
        if (!Curl(s.Url(), s.dir / "out/curl.bin")) {
            state.SkipWithError("curl failed");
            return;
        }
        auto t2 = std::chrono::steady_clock::now();
        engineSeconds += Seconds(t1 - t0);
        curlSeconds += Seconds(t2 - t1);
    }
    const double mb =
        static_cast<double>(s.size) / (1 << 20) * static_cast<double>(state.iterations());
    state.counters["engine_MiBps"] = mb / engineSeconds;
    state.counters["curl_MiBps"] = mb / curlSeconds;
    state.counters["engine_to_curl"] = curlSeconds / engineSeconds;  // goal: at least 0.8
}
BENCHMARK(BM_EngineAgainstCurl)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ResumeHalf(benchmark::State& state) {
    Nginx& s = Server();
    if (!s.ok) {
        state.SkipWithError("nginx is missing");
        return;
    }
    const fs::path source = s.dir / "www/big.bin";
    for (auto _ : state) {
        state.PauseTiming();
        // A temporary file with the first half and its trailer.
        const fs::path temp = s.dir / "out/resume.bin.DownloadTemp";
        fs::remove(s.dir / "out/resume.bin");
        fs::copy_file(source, temp, fs::copy_options::overwrite_existing);
        const std::int64_t half = s.size / 2;
        std::fstream f(temp, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(s.size);
        auto put = [&](std::int64_t v) {
            const auto u = static_cast<std::uint32_t>(v);
            const char b[4] = {static_cast<char>(u), static_cast<char>(u >> 8),
                               static_cast<char>(u >> 16), static_cast<char>(u >> 24)};
            f.write(b, 4);
        };
        put(0);
        put(s.size);
        put(half);
        put(1);
        f.close();
        state.ResumeTiming();
        if (Engine(s.Url(), s.dir / "out", L"resume.bin") != kDownloadOk) {
            state.SkipWithError("the resume failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * (s.size / 2));
}
BENCHMARK(BM_ResumeHalf)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
