#pragma once
// A program started as a child process with its own argument list (never
// through a shell), for the loopback servers that tests, benchmarks and
// tools run. It is stopped by its own pid.
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is the program (looked up on PATH when it has no "/"); the
    // child's output and errors go to logPath ("" keeps the parent's).
    bool Start(const std::vector<std::string>& argv, const std::string& logPath = "");
    bool IsRunning();
    // SIGTERM, then SIGKILL after graceMs; reaps the child. Returns its
    // exit status (-1 when it was killed or never ran).
    int Stop(int graceMs = 3000);
    // Sends SIGINT, as Ctrl-C in a terminal would.
    void Interrupt();
    // Ends the child at once with SIGKILL and reaps it.
    void Kill();
    // Waits for the child to end by itself (timeoutMs < 0: for ever);
    // returns its exit status, or -1 on time-out.
    int Wait(int timeoutMs);
    int Pid() const noexcept { return pid_; }

  private:
    int pid_ = -1;
    int status_ = -1;
};

// True when `path` names an executable file.
bool IsExecutable(const std::string& path);

int CurrentProcessId() noexcept;
bool IsSuperUser() noexcept;

// Tries to connect to host:port until it answers or timeoutMs passes.
bool WaitForPort(const std::string& host, unsigned short port, int timeoutMs);

}  // namespace platform
