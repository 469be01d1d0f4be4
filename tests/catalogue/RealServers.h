#pragma once
// Real servers from Debian packages, each started on a free loopback port
// in its own temporary folder and stopped by its pid.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/net/ChildProcess.h"

namespace testnet {

std::uint16_t FreePort();

// Why a server cannot run here ("" when it can).
std::string MissingServer(const std::string& program);

class RealServer {
  public:
    virtual ~RealServer();
    std::uint16_t Port() const { return port_; }
    // The folder the server serves.
    const std::filesystem::path& Root() const { return root_; }
    std::string Put(const std::string& name, const std::string& bytes) const;
    const std::string& Error() const { return error_; }

  protected:
    RealServer();
    bool Launch(const std::vector<std::string>& argv);

    std::filesystem::path dir_;
    std::filesystem::path root_;
    std::uint16_t port_ = 0;
    std::string error_;
    platform::ChildProcess process_;
};

// nginx with a generated configuration; every request goes into an access
// log of "request|status|range|user agent|referer|cookie" lines.
class NginxServer final : public RealServer {
  public:
    bool Start(const std::string& locations = "");
    std::vector<std::string> Log() const;
};

// python3's http.server (HTTP/1.0, no ranges).
class PythonHttpServer final : public RealServer {
  public:
    bool Start();
};

// pyftpdlib, anonymous and read-only.
class PyFtpServer final : public RealServer {
  public:
    bool Start();
};

// vsftpd, anonymous and read-only, with a banner of the given lines.
class VsftpdServer final : public RealServer {
  public:
    bool Start(const std::vector<std::string>& banner = {});
};

}  // namespace testnet

namespace testnet {

// The demo catalogue service from tools/, on three free loopback ports.
class DemoService final : public RealServer {
  public:
    bool Start(const std::string& failure = "none");
    std::uint16_t FilePort() const { return filePort_; }
    std::uint16_t MusicPort() const { return musicPort_; }
    // GET on the catalogue port; returns the body ("" on failure).
    std::string Get(const std::string& target) const;
    void Fail(const std::string& mode) const;
    std::vector<std::string> Log() const;

  private:
    std::uint16_t filePort_ = 0;
    std::uint16_t musicPort_ = 0;
};

}  // namespace testnet
