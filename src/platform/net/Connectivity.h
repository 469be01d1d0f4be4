#pragma once
// Whether the machine is connected to a network at all. Transfers ask it
// after a failure to tell "no connection" from "the transfer failed"; tests
// inject a fixed answer so that result does not depend on the machine.
#include <atomic>

namespace platform {

class IConnectivity {
  public:
    virtual ~IConnectivity() = default;
    virtual bool IsConnected() = 0;
};

// Connected when some interface other than loopback is up and running and
// has an IPv4 or IPv6 address.
IConnectivity& SystemConnectivity() noexcept;

class FixedConnectivity final : public IConnectivity {
  public:
    explicit FixedConnectivity(bool connected) : connected_(connected) {}
    bool IsConnected() override { return connected_.load(); }
    void Set(bool connected) noexcept { connected_ = connected; }

  private:
    std::atomic<bool> connected_;
};

}  // namespace platform
