#pragma once
// FTP with passive data connections: login, size and date from LIST,
// resume with REST, data with RETR.
#include <string>

#include "catalogue/DownloadPub.h"

class CDownloadFtp final : public CDownloadPub {
  public:
    using CDownloadPub::CDownloadPub;

    int Connect() override;
    int Probe() override;
    int Attempt() override;

  private:
    // Sends one command (at most 4095 bytes) and reads its reply.
    int Command(const std::string& command, std::string& reply);
    bool CommandExpect(const std::string& command, int code);
    // PASV, then a data connection to the control connection's peer at the
    // port the server gave.
    bool OpenPassive(CSocketClient& data);
    // Ends the dialogue politely and closes the control connection.
    void Quit();
    std::string PathBytes() const;
};
