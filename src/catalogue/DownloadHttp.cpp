#include "catalogue/DownloadHttp.h"

#include "catalogue/DownloadUrl.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace {

// The low eight bits of each character, as the request line is 8-bit text.
std::string Narrow(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    bool wide = false;
    for (wchar_t c : text) {
        wide = wide || c > 0x7F;
    }
    if (wide) {
        return platform::ToUtf8(text);  // non-ASCII paths go out as UTF-8
    }
    for (wchar_t c : text) {
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

}  // namespace

std::string CDownloadHttp::RequestText(std::int64_t first, std::int64_t last) {
    if (referer_.empty()) {
        referer_ = download::UrlDirectory(url_);
    }
    std::string text = "GET " + Narrow(path_) + " HTTP/1.1\r\n";
    if (!user_.empty()) {
        text +=
            "Authorization: Basic " + download::Base64(Narrow(user_ + L":" + password_)) + "\r\n";
    }
    text += "Host: " + Narrow(host_);
    if (port_ != 80) {
        text += platform::Format(":{}", port_);
    }
    text += "\r\n";
    text += "Accept: */*\r\n";
    text += "Pragma: no-cache\r\n";
    text += "User-Agent: " + Narrow(userAgent_) + "\r\n";
    text += "Referer: " + Narrow(referer_) + "\r\n";
    text += "Connection: close\r\n";
    if (!cookie_.empty()) {
        text += "Cookie: " + Narrow(cookie_) + "\r\n";
    }
    text += platform::Format("Range: bytes={}-", first);
    if (last >= 0) {
        text += platform::Format("{}", last);
    }
    text += "\r\n\r\n";
    return text;
}

int CDownloadHttp::Exchange(std::int64_t first, std::int64_t last, HttpResponseHead& head,
                            std::string& body) {
    if (stopped_) {
        return kDownloadStopped;
    }
    if (!socket_.ConnectTo(host_, port_)) {
        Diagnostic(platform::Format("Download: cannot connect to {}:{}.\n", platform::ToUtf8(host_),
                                    port_));
        return FailureOf(socket_);
    }
    if (!socket_.SendAll(RequestText(first, last))) {
        return FailureOf(socket_);
    }
    std::string received;
    char chunk[4096];
    for (;;) {
        const std::size_t end = received.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = ParseResponseHead(std::string_view(received).substr(0, end));
            body = received.substr(end + 4);
            return kDownloadOk;
        }
        if (received.size() > options_.maxHeaderBytes) {
            Diagnostic("Download: the response header is too large.\n");
            finalFailure_ = true;
            return kDownloadFailed;
        }
        std::size_t n = 0;
        if (socket_.Receive(chunk, n) != platform::NetStatus::Ok) {
            if (socket_.LastStatus() == platform::NetStatus::Closed && !received.empty()) {
                Diagnostic("Download: the response ended inside its header.\n");
            }
            return FailureOf(socket_);
        }
        received.append(chunk, n);
    }
}

int CDownloadHttp::Request(std::int64_t first, std::int64_t last, HttpResponseHead& head,
                           std::string& body) {
    struct Saved {
        std::wstring url, host, path, scheme, referer;
        std::uint16_t port;
    };
    const Saved saved{url_, host_, path_, scheme_, referer_, port_};
    int redirects = 0;
    for (;;) {
        const int rc = Exchange(first, last, head, body);
        if (rc != kDownloadOk) {
            return rc;
        }
        if (head.status >= 300 && head.status <= 399 && !head.location.empty()) {
            if (++redirects > options_.maxRedirects) {
                Diagnostic("Download: too many redirects.\n");
                finalFailure_ = true;
                return kDownloadFailed;
            }
            referer_ = download::UrlDirectory(url_);
            const std::wstring location = platform::FromUtf8(head.location);
            const auto current = download::ParseUrl(url_);
            const std::wstring next = download::ResolveRedirect(*current, location);
            const auto parsed = download::ParseUrl(next);
            if (!parsed || parsed->scheme != L"http") {
                Diagnostic(
                    platform::Format("Download: redirect to an unsupported address refused: {}\n",
                                     platform::ToUtf8(next)));
                finalFailure_ = true;
                return kDownloadRefused;
            }
            SetUrl(next);
            if (!location.empty() && (location.front() == L'/' || location.front() == L'\\')) {
                Event(kEventFileName, 0, download::UrlFileName(path_));
            }
            continue;
        }
        if ((head.status >= 200 && head.status <= 299) ||
            (head.status == 500 && head.contentLength > 0)) {
            return kDownloadOk;
        }
        if (cookie_.empty()) {
            url_ = saved.url;
            host_ = saved.host;
            path_ = saved.path;
            scheme_ = saved.scheme;
            referer_ = saved.referer;
            port_ = saved.port;
            cookie_ = platform::FromUtf8(kDownloadMarkerCookie);
            continue;
        }
        cookie_.clear();
        Diagnostic(
            platform::Format("Download: the server refused the request ({}).\n", head.status));
        return kDownloadRefused;
    }
}

int CDownloadHttp::Probe() {
    HttpResponseHead head;
    std::string body;
    const int rc = Request(0, -1, head, body);
    socket_.Close();
    if (rc != kDownloadOk) {
        return rc;
    }
    supportsRanges_ = head.status == 206;
    contentLength_ = supportsRanges_ && head.rangeTotal >= 0 ? head.rangeTotal : head.contentLength;
    if (head.chunked && !supportsRanges_) {
        contentLength_ = -1;
    }
    if (contentLength_ >= 0) {
        Event(kEventSize, contentLength_);
    }
    lastModified_ = download::ParseHttpDate(head.lastModified).value_or(0);
    return kDownloadOk;
}

int CDownloadHttp::Attempt() {
    const std::int64_t offset = rangeStart_ + Received();
    const std::int64_t length = RangeLength();
    const std::int64_t last = length > 0 ? rangeStart_ + length - 1 : -1;
    HttpResponseHead head;
    std::string body;
    const int rc = Request(offset, last, head, body);
    if (rc != kDownloadOk) {
        return rc;
    }
    if (head.status == 206) {
        if (head.rangeFirst >= 0 && head.rangeFirst != offset) {
            Diagnostic("Download: the server answered another range.\n");
            return kDownloadFailed;
        }
    } else if (offset > 0) {
        // A full answer to a ranged request: only a range that starts the
        // file can take it, from its first byte.
        if (rangeStart_ != 0) {
            Diagnostic("Download: the server ignored the range.\n");
            finalFailure_ = true;
            return kDownloadFailed;
        }
        Diagnostic("Download: the server ignored the range; starting again from 0.\n");
        std::lock_guard lock(receivedLock_);
        received_ = 0;
    }
    chunked_ = CChunkedDecoder();
    decoder_ = head.chunked ? &chunked_ : nullptr;
    announced_ = head.chunked ? -1 : head.contentLength;
    const int result = ReceiveData(socket_, body.data(), body.size());
    decoder_ = nullptr;
    announced_ = -1;
    return result;
}
