#include "platform/net/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/clock/Clock.h"
#include "platform/net/Socket.h"

extern char** environ;

namespace platform {

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::string& logPath) {
    if (argv.empty() || pid_ > 0) {
        return false;
    }
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!logPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    pid_ = pid;
    status_ = -1;
    return true;
}

bool ChildProcess::IsRunning() {
    if (pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::Wait(int timeoutMs) {
    const std::uint64_t start = MonotonicMs();
    while (IsRunning()) {
        if (timeoutMs >= 0 && MonotonicMs() - start >= static_cast<std::uint64_t>(timeoutMs)) {
            return -1;
        }
        SleepMs(10);
    }
    return status_;
}

int ChildProcess::Stop(int graceMs) {
    if (!IsRunning()) {
        return status_;
    }
    kill(pid_, SIGTERM);
    if (Wait(graceMs) < 0 && IsRunning()) {
        kill(pid_, SIGKILL);
        Wait(-1);
        return -1;
    }
    return status_;
}

int CurrentProcessId() noexcept {
    return static_cast<int>(getpid());
}

bool IsSuperUser() noexcept {
    return geteuid() == 0;
}

void ChildProcess::Interrupt() {
    if (IsRunning()) {
        kill(pid_, SIGINT);
    }
}

void ChildProcess::Kill() {
    if (IsRunning()) {
        kill(pid_, SIGKILL);
        Wait(-1);
    }
}

bool IsExecutable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

bool WaitForPort(const std::string& host, unsigned short port, int timeoutMs) {
    const std::uint64_t start = MonotonicMs();
    for (;;) {
        TcpSocket s;
        if (s.Connect(host, port, nullptr, 1000) == NetStatus::Ok) {
            return true;
        }
        if (MonotonicMs() - start >= static_cast<std::uint64_t>(timeoutMs)) {
            return false;
        }
        SleepMs(20);
    }
}

}  // namespace platform
