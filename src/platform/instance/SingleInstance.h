#pragma once
// One running instance per user. The first process to take an exclusive
// lock on "<name>.lock" in the per-user temporary folder is the owner; it
// listens on the Unix-domain socket "<name>.sock" beside the lock. A later
// process finds the lock taken and hands its start flags to the owner over
// the socket: four bytes, little-endian.
//
// The kernel drops the lock when the owner ends, even by a crash, so a
// socket file left behind is known to be stale and is replaced by the next
// owner. Only processes of the same user are listened to.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/thread/Event.h"

namespace platform {

class SingleInstance {
  public:
    enum class State { Owner, AnotherRuns, Unavailable };

    // folder: where the lock and the socket live (ending with '/'); empty
    // means the per-user temporary folder.
    explicit SingleInstance(std::wstring name, std::wstring folder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock and, as owner, binds the socket (connections queue up
    // until Listen). Unavailable when the folder or the lock file cannot be
    // used.
    State Acquire();
    State CurrentState() const { return state_; }

    // From a process that is not the owner: sends the flags to the owner.
    // Retries for up to timeoutMs while an owner that has just taken the
    // lock binds its socket. False when no owner listens.
    bool Notify(std::uint32_t flags, int timeoutMs = 2000);

    // Owner only: starts a thread that calls receiver(flags) for every
    // message. The receiver runs on that thread and must hand the flags on
    // (for example post them to the user-interface thread).
    bool Listen(std::function<void(std::uint32_t)> receiver);
    void StopListening();

    const std::string& SocketPath() const { return socketPath_; }

  private:
    void ListenLoop();

    std::wstring name_;
    std::wstring folder_;
    std::string lockPath_;
    std::string socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    State state_ = State::Unavailable;
    std::function<void(std::uint32_t)> receiver_;
    Event stop_{Event::Mode::ManualReset};
    std::thread listener_;
};

}  // namespace platform
