#include "catalogue/DownloadPub.h"

#include <algorithm>
#include <filesystem>

#include "catalogue/DownloadMTR.h"
#include "catalogue/DownloadUrl.h"
#include "platform/debug/DebugLog.h"
#include "platform/net/Connectivity.h"
#include "platform/text/Utf.h"

namespace {

// Larger than the 4 KiB a socket read traditionally takes here: on
// loopback that many reads cost a fifth of the throughput.
constexpr std::size_t kReceiveChunk = 16384;
constexpr std::size_t kWriteBuffer = 40960;
constexpr std::size_t kFlushAt = 32768;
constexpr int kAttempts = 3;
constexpr int kRetryWaitMs = 100;

}  // namespace

CDownloadPub::CDownloadPub(int index, CDownloadMTR* owner, const DownloadOptions& options)
    : index_(index),
      owner_(owner),
      options_(options),
      socket_(index, stopEvent_, options),
      userAgent_(platform::FromUtf8(kDownloadUserAgent)) {}

CDownloadPub::~CDownloadPub() {
    destroying_ = true;
    Stop();
    socket_.Close();
    CloseLocalFile();
}

int CDownloadPub::Connect() {
    return socket_.ConnectTo(host_, port_) ? 0 : FailureOf(socket_);
}

int CDownloadPub::Probe() {
    return 0;
}

void CDownloadPub::Stop() {
    stopped_ = true;
    stopEvent_.Set();
    socket_.Abort();
}

bool CDownloadPub::SetUrl(const std::wstring& url) {
    const auto parsed = download::ParseUrl(url);
    if (!parsed) {
        return false;
    }
    url_ = download::ComposeUrl(*parsed);
    scheme_ = parsed->scheme;
    host_ = parsed->host;
    path_ = parsed->path;
    port_ = parsed->port;
    return true;
}

void CDownloadPub::CopyRequestState(const CDownloadPub& other) {
    SetUrl(other.url_);
    cookie_ = other.cookie_;
    referer_ = other.referer_;
    user_ = other.user_;
    password_ = other.password_;
    contentLength_ = other.contentLength_;
    supportsRanges_ = other.supportsRanges_;
    lastModified_ = other.lastModified_;
}

void CDownloadPub::SetCredentials(const std::wstring& user, const std::wstring& password) {
    user_ = user;
    password_ = password;
}

std::int64_t CDownloadPub::Received() const {
    std::lock_guard lock(receivedLock_);
    return received_;
}

std::int64_t CDownloadPub::RangeLength() const {
    std::lock_guard lock(rangeLock_);
    return rangeLength_;
}

int CDownloadPub::NetFailure() const {
    platform::IConnectivity& c =
        options_.connectivity != nullptr ? *options_.connectivity : platform::SystemConnectivity();
    return c.IsConnected() ? kDownloadFailed : kDownloadNotConnected;
}

int CDownloadPub::FailureOf(const CSocketClient& socket) const {
    if (stopped_ || socket.LastStatus() == platform::NetStatus::Stopped) {
        return kDownloadStopped;
    }
    if (socket.LastStatus() == platform::NetStatus::TimedOut) {
        Diagnostic("Download: the server did not answer in time.\n");
    }
    return NetFailure();
}

bool CDownloadPub::OpenLocalFile() {
    CloseLocalFile();
    const std::filesystem::path path(platform::ToUtf8(localPath_));
    if (!std::filesystem::exists(path)) {
        std::ofstream create(path, std::ios::binary | std::ios::app);
        if (!create) {
            return false;
        }
    }
    file_.open(path, std::ios::binary | std::ios::in | std::ios::out);
    return file_.is_open();
}

void CDownloadPub::CloseLocalFile() {
    if (file_.is_open()) {
        file_.close();
    }
    file_.clear();
}

void CDownloadPub::Event(int code, std::int64_t value, const std::wstring& text) {
    if (owner_ != nullptr) {
        owner_->OnConnectionEvent(index_, code, value, text);
    }
}

void CDownloadPub::Diagnostic(const std::string& line) const {
    platform::DebugOutput(line);
}

bool CDownloadPub::WaitStop(int ms) const {
    return const_cast<platform::Event&>(stopEvent_).Wait(ms) || stopped_;
}

int CDownloadPub::Download(std::int64_t rangeStart, std::int64_t rangeLength,
                           std::int64_t received) {
    rangeStart_ = rangeStart;
    {
        std::lock_guard lock(rangeLock_);
        rangeLength_ = rangeLength;
        if (contentLength_ >= 0 && (rangeLength_ < 0 || rangeLength_ > contentLength_)) {
            rangeLength_ = contentLength_ - rangeStart_;
        }
    }
    Event(kEventRangeLength, RangeLength());
    {
        std::lock_guard lock(receivedLock_);
        received_ = received;
    }
    int result = kDownloadFailed;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (attempt > 0 && WaitStop(kRetryWaitMs)) {
            result = kDownloadStopped;
            break;
        }
        finalFailure_ = false;
        if (!OpenLocalFile()) {
            Diagnostic("Download: the temporary file cannot be opened.\n");
            result = kDownloadFileError;
            break;
        }
        result = Attempt();
        CloseLocalFile();
        socket_.Close();
        if (result == kDownloadOk || result == kDownloadStopped || result == kDownloadFileError ||
            result == kDownloadRefused || finalFailure_ || stopped_) {
            break;
        }
    }
    result_ = stopped_ ? kDownloadStopped : result;
    return result_;
}

int CDownloadPub::ReceiveData(CSocketClient& socket, const char* data, std::size_t count) {
    std::vector<char> buffer;
    buffer.reserve(kWriteBuffer);
    std::string decoded;
    bool writeFailed = false;
    bool framingError = false;
    std::int64_t bodyBytes = 0;  // body bytes seen in this response
    const std::int64_t length = RangeLength();

    auto remaining = [&]() -> std::int64_t {
        if (length < 0) {
            return INT64_MAX;
        }
        return std::max<std::int64_t>(
            0, length - Received() - static_cast<std::int64_t>(buffer.size()));
    };
    auto flush = [&]() {
        if (buffer.empty() || writeFailed) {
            return;
        }
        const std::int64_t at = rangeStart_ + Received();
        file_.seekp(at);
        file_.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        file_.flush();
        if (!file_) {
            writeFailed = true;
            return;
        }
        const auto delta = static_cast<std::int64_t>(buffer.size());
        std::int64_t now;
        {
            std::lock_guard lock(receivedLock_);
            received_ += delta;
            now = received_;
        }
        buffer.clear();
        if (owner_ != nullptr) {
            owner_->OnProgress(index_, now, delta);
        }
    };
    auto take = [&](const char* p, std::size_t n) {
        if (decoder_ != nullptr) {
            decoded.clear();
            if (!decoder_->Feed(p, n, decoded)) {
                framingError = true;
                return;
            }
            p = decoded.data();
            n = decoded.size();
        }
        bodyBytes += static_cast<std::int64_t>(n);
        const auto keep = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(n), remaining()));
        std::size_t done = 0;
        while (done < keep) {
            const std::size_t room = kWriteBuffer - buffer.size();
            const std::size_t part = std::min(room, keep - done);
            buffer.insert(buffer.end(), p + done, p + done + part);
            done += part;
            if (buffer.size() >= kFlushAt) {
                flush();
            }
        }
    };
    auto complete = [&]() {
        return remaining() == 0 || (decoder_ != nullptr && decoder_->Done()) ||
               (announced_ >= 0 && bodyBytes >= announced_);
    };

    if (count > 0) {
        take(data, count);
    }
    bool netError = false;
    char chunk[kReceiveChunk];
    while (!complete() && !framingError && !writeFailed && !stopped_) {
        std::size_t want = sizeof chunk;
        if (decoder_ == nullptr) {
            want = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(want), remaining()));
        }
        std::size_t n = 0;
        const platform::NetStatus s = socket.Receive(std::span<char>(chunk, want), n);
        if (s == platform::NetStatus::Ok) {
            take(chunk, n);
            continue;
        }
        if (s == platform::NetStatus::TimedOut) {
            Diagnostic("Download: the server stopped sending.\n");
            netError = true;
        } else if (s == platform::NetStatus::Failed) {
            netError = true;
        }
        break;  // end of stream or stop
    }
    flush();
    if (writeFailed) {
        Diagnostic("Download: writing the temporary file failed.\n");
        return kDownloadFileError;
    }
    if (stopped_) {
        return kDownloadStopped;
    }
    if (framingError) {
        Diagnostic("Download: the server sent a malformed chunked body.\n");
        return NetFailure();
    }
    if (length >= 0) {
        return Received() >= length ? kDownloadOk : NetFailure();
    }
    if (decoder_ != nullptr) {
        return decoder_->Done() ? kDownloadOk : NetFailure();
    }
    if (announced_ >= 0) {
        return bodyBytes >= announced_ ? kDownloadOk : NetFailure();
    }
    return !netError && Received() > 0 ? kDownloadOk : NetFailure();
}
