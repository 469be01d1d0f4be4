#pragma once
// HTTP/1.1 over one connection per request, with redirects, the marker
// cookie retry and ranged requests.
#include <string>

#include "catalogue/DownloadPub.h"
#include "catalogue/HttpResponse.h"

class CDownloadHttp final : public CDownloadPub {
  public:
    using CDownloadPub::CDownloadPub;

    int Probe() override;
    int Attempt() override;

    // The request text for the given first byte and last byte (< 0: to the
    // end), exactly as sent.
    std::string RequestText(std::int64_t first, std::int64_t last);

  private:
    // One GET with redirects and the cookie retry; on 0 the head is in
    // `head` and the body bytes that came with it in `body`.
    int Request(std::int64_t first, std::int64_t last, HttpResponseHead& head, std::string& body);
    // Connects, sends, and reads the head.
    int Exchange(std::int64_t first, std::int64_t last, HttpResponseHead& head, std::string& body);

    CChunkedDecoder chunked_;
};
