#include "catalogue/DownloadFtp.h"

#include <ctime>

#include "catalogue/DownloadUrl.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace {

constexpr std::size_t kMaxCommand = 4095;
constexpr std::size_t kMaxListing = 1 << 20;

bool Preliminary(int code) {
    return code >= 100 && code <= 199;
}
bool Completion(int code) {
    return code >= 200 && code <= 299;
}

}  // namespace

std::string CDownloadFtp::PathBytes() const {
    return platform::ToUtf8(path_);
}

int CDownloadFtp::Command(const std::string& command, std::string& reply) {
    if (command.size() > kMaxCommand) {
        return 0;
    }
    if (!socket_.SendAll(command)) {
        return 0;
    }
    return socket_.ReadReply(reply);
}

bool CDownloadFtp::CommandExpect(const std::string& command, int code) {
    std::string reply;
    return Command(command, reply) == code;
}

int CDownloadFtp::Connect() {
    if (!socket_.ConnectTo(host_, port_)) {
        Diagnostic(platform::Format("Download: cannot connect to {}:{}.\n", platform::ToUtf8(host_),
                                    port_));
        return FailureOf(socket_);
    }
    std::string reply;
    if (!Completion(socket_.ReadReply(reply))) {
        Diagnostic("Download: no FTP greeting.\n");
        return FailureOf(socket_);
    }
    const std::string user = user_.empty() ? "anonymous" : platform::ToUtf8(user_);
    int code = Command("USER " + user + "\r\n", reply);
    if (code == 331) {
        code = Command("PASS " + platform::ToUtf8(password_) + "\r\n", reply);
    }
    if (code != 230) {
        Diagnostic("Download: FTP login failed.\n");
        return FailureOf(socket_);
    }
    return kDownloadOk;
}

bool CDownloadFtp::OpenPassive(CSocketClient& data) {
    std::string reply;
    if (Command("PASV\r\n", reply) != 227) {
        return false;
    }
    const auto address = download::ParsePassiveReply(reply);
    if (!address) {
        return false;
    }
    // The address in the reply is never trusted: data goes to the same
    // host as the control connection.
    const std::string peer = socket_.PeerAddress();
    return data.ConnectTo(peer.empty() ? address->host : peer, address->port);
}

void CDownloadFtp::Quit() {
    if (socket_.IsConnected() && !stopped_) {
        socket_.SendAll("QUIT\r\n");
    }
    socket_.Close();
}

int CDownloadFtp::Probe() {
    int rc = Connect();
    if (rc != kDownloadOk) {
        socket_.Close();
        return rc;
    }
    std::string reply;
    if (!CommandExpect("TYPE A\r\n", 200)) {
        rc = FailureOf(socket_);
        socket_.Close();
        return rc;
    }
    supportsRanges_ = Command("REST 1\r\n", reply) == 350;
    if (supportsRanges_ && !CommandExpect("REST 0\r\n", 350)) {
        rc = FailureOf(socket_);
        socket_.Close();
        return rc;
    }
    CSocketClient data(index_, stopEvent_, options_);
    if (!OpenPassive(data)) {
        rc = FailureOf(socket_.LastStatus() != platform::NetStatus::Ok ? socket_ : data);
        socket_.Close();
        return rc;
    }
    const int listed = Command("LIST " + PathBytes() + "\r\n", reply);
    if (!Preliminary(listed)) {
        Diagnostic("Download: the FTP server refused the listing.\n");
        finalFailure_ = listed >= 500;  // a permanent refusal: no second try
        rc = FailureOf(socket_);
        socket_.Close();
        return rc;
    }
    std::string listing;
    char chunk[4096];
    for (;;) {
        std::size_t n = 0;
        const platform::NetStatus s = data.Receive(chunk, n);
        if (s == platform::NetStatus::Closed) {
            break;
        }
        if (s != platform::NetStatus::Ok || listing.size() > kMaxListing) {
            rc = FailureOf(data);
            socket_.Close();
            return rc;
        }
        listing.append(chunk, n);
    }
    data.Close();
    if (!Completion(socket_.ReadReply(reply))) {
        rc = FailureOf(socket_);
        socket_.Close();
        return rc;
    }
    Quit();
    contentLength_ = -1;
    std::size_t start = 0;
    while (start < listing.size()) {
        std::size_t end = listing.find('\n', start);
        if (end == std::string::npos) {
            end = listing.size();
        }
        const auto entry = download::ParseListingLine(
            std::string_view(listing).substr(start, end - start), std::time(nullptr));
        start = end + 1;
        if (entry) {
            contentLength_ = entry->size;
            lastModified_ = entry->modified;
            break;
        }
    }
    if (contentLength_ < 0) {
        Diagnostic("Download: the FTP listing gave no size.\n");
    } else {
        Event(kEventSize, contentLength_);
    }
    return kDownloadOk;
}

int CDownloadFtp::Attempt() {
    int rc = Connect();
    if (rc != kDownloadOk) {
        socket_.Close();
        return rc;
    }
    std::string reply;
    CSocketClient data(index_, stopEvent_, options_);
    if (!supportsRanges_ && rangeStart_ == 0 && Received() > 0) {
        std::lock_guard lock(receivedLock_);
        received_ = 0;  // no REST on this server: start the file again
    }
    const std::int64_t offset = rangeStart_ + Received();
    int retrieved = 0;
    const bool ok = CommandExpect("TYPE I\r\n", 200) && OpenPassive(data) &&
                    (offset == 0 || CommandExpect(platform::Format("REST {}\r\n", offset), 350)) &&
                    Preliminary(retrieved = Command("RETR " + PathBytes() + "\r\n", reply));
    if (!ok) {
        finalFailure_ = retrieved >= 500;
        rc = FailureOf(socket_.LastStatus() != platform::NetStatus::Ok ? socket_ : data);
        data.Close();
        socket_.Close();
        return rc;
    }
    const int result = ReceiveData(data, nullptr, 0);
    data.Close();
    if (result == kDownloadOk) {
        socket_.ReadReply(reply);  // 226; the data is complete either way
    }
    Quit();
    return result;
}
