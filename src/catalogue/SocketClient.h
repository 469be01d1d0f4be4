#pragma once
// One TCP connection of a transfer: connect and send bounded by time-outs,
// receives that a stop ends at once, and FTP reply reading.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "catalogue/DownloadTypes.h"
#include "platform/net/Socket.h"
#include "platform/thread/Event.h"

class CSocketClient {
  public:
    // index: the connection's index (-1 for a probe connection); stop: the
    // owning connection's stop event.
    CSocketClient(int index, const platform::Event& stop, const DownloadOptions& options);

    bool ConnectTo(const std::wstring& host, std::uint16_t port);
    bool ConnectTo(const std::string& host, std::uint16_t port);
    bool SendAll(std::string_view bytes);

    // Receives at most buffer.size() bytes, waiting at most the receive
    // time-out.
    platform::NetStatus Receive(std::span<char> buffer, std::size_t& received);

    // Reads one complete FTP reply, multi-line replies ("123-" ... "123 ")
    // included. Returns its code (0 when none could be read); `text` is the
    // reply's last line.
    int ReadReply(std::string& text);
    // Reads a reply and tells whether its code is `code`.
    bool ExpectReply(int code);

    void Close() noexcept;
    void Abort() noexcept { socket_.Abort(); }
    bool IsConnected() const noexcept { return connected_; }
    int Index() const noexcept { return index_; }
    std::string PeerAddress() const { return socket_.PeerAddress(); }

    // What ended the last failed operation.
    platform::NetStatus LastStatus() const noexcept { return last_; }

  private:
    bool ReadLine(std::string& line);

    int index_;
    const platform::Event& stop_;
    const DownloadOptions& options_;
    platform::TcpSocket socket_;
    std::string pending_;  // received control bytes not yet taken as lines
    bool connected_ = false;
    platform::NetStatus last_ = platform::NetStatus::Ok;
};
