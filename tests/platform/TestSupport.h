#pragma once
// Small helpers shared by the tests: private temporary folders, scoped
// environment variables, whole-file access and child processes with their
// output and exit status.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/text/Utf.h"

extern char** environ;

namespace testing_support {

class TempDir {
  public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vokari-test-XXXXXX").string();
        char* made = mkdtemp(pattern.data());
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Without a trailing '/'.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Folder string in the program's convention: wide, ending with '/'.
    std::wstring Folder() const { return platform::FromUtf8(path_) + L"/"; }
    std::wstring WFile(const std::string& name) const { return platform::FromUtf8(File(name)); }

  private:
    std::string path_;
};

class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Apply(value);
    }
    ~ScopedEnv() { Apply(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    void Apply(const std::optional<std::string>& v) {
        if (v) {
            setenv(name_.c_str(), v->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    std::string name_;
    std::optional<std::string> old_;
};

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// Waits for a condition, polling; generous time-outs keep loaded machines
// from failing the tests.
template <typename Condition>
bool WaitFor(Condition condition, int timeoutMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A child process with its stdout and stderr on pipes.
class Child {
  public:
    // env: "NAME=value" entries added to (or replacing in) the environment.
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env = {}) {
        int out[2], err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);

        std::vector<std::string> environment;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const std::string& add : env) {
                if (entry.substr(0, entry.find('=') + 1) == add.substr(0, add.find('=') + 1)) {
                    replaced = true;
                }
            }
            if (!replaced) {
                environment.push_back(entry);
            }
        }
        environment.insert(environment.end(), env.begin(), env.end());
        std::vector<char*> envp, args;
        for (std::string& e : environment) {
            envp.push_back(e.data());
        }
        envp.push_back(nullptr);
        std::vector<std::string> argvCopy = argv;
        for (std::string& a : argvCopy) {
            args.push_back(a.data());
        }
        args.push_back(nullptr);
        started_ = std::chrono::steady_clock::now();
        if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
    }
    ~Child() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            Wait(60000);
        }
        if (outFd_ >= 0) {
            close(outFd_);
        }
        if (errFd_ >= 0) {
            close(errFd_);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Waits until stdout holds the text (false if the child ends first or
    // the time runs out).
    bool WaitForOutput(const std::string& text, int timeoutMs = 60000) {
        WaitFor(
            [&] {
                Pump(0);
                return out_.find(text) != std::string::npos || Reap();
            },
            timeoutMs);
        while (Pump(0)) {
        }
        return out_.find(text) != std::string::npos;
    }

    // Exit code, or -signal; nullopt on time-out.
    std::optional<int> Wait(int timeoutMs = 60000) {
        const bool ended = WaitFor(
            [&] {
                Pump(0);
                return Reap();
            },
            timeoutMs);
        while (Pump(0)) {
        }
        return ended ? status_ : std::nullopt;
    }

    void Kill(int signal) { kill(pid_, signal); }

    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }
    double ElapsedMs() const { return std::chrono::duration<double, std::milli>(elapsed_).count(); }

  private:
    bool Reap() {
        if (status_ || pid_ <= 0) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            elapsed_ = std::chrono::steady_clock::now() - started_;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        return status_.has_value();
    }

    // Reads what is available; true if anything was read.
    bool Pump(int timeoutMs) {
        bool any = false;
        for (int round = 0; round < 64; ++round) {
            pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
            if (poll(fds, 2, round == 0 ? timeoutMs : 0) <= 0) {
                break;
            }
            bool read = false;
            char buffer[4096];
            for (int i = 0; i < 2; ++i) {
                if ((fds[i].revents & (POLLIN | POLLHUP)) == 0) {
                    continue;
                }
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof(buffer));
                if (n > 0) {
                    (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
                    read = any = true;
                }
            }
            if (!read) {
                break;
            }
        }
        return any;
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::optional<int> status_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::duration elapsed_{};
};

// A fake "xdg-open" in its own folder: it appends its first argument to a
// log file. Put Folder() on PATH to have the shell-open facility find it.
class FakeOpener {
  public:
    FakeOpener() {
        const std::string script = dir_.File("xdg-open");
        WriteBytes(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + Log() + "'\n");
        chmod(script.c_str(), 0755);
    }
    std::string Folder() const { return dir_.Path(); }
    std::string Log() const { return dir_.File("opened.log"); }
    std::string Opened() const { return ReadBytes(Log()); }

  private:
    TempDir dir_;
};

}  // namespace testing_support
