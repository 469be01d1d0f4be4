#include "platform/text/CodePage936.h"

#include <iconv.h>
#include <cerrno>

#include <algorithm>
#include <array>

namespace platform {

namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// One conversion descriptor per call: iconv_t carries shift state and is
// not safe to share between threads.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(from) == "CP936") {
            cd_ = iconv_open(to, "GBK");
        } else if (cd_ == reinterpret_cast<iconv_t>(-1) && std::string_view(to) == "CP936") {
            cd_ = iconv_open("GBK", from);
        }
    }
    ~Converter() {
        if (Ok()) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return cd_; }

  private:
    iconv_t cd_;
};

}  // namespace

std::wstring FromCodePage936(std::string_view bytes) {
    std::wstring out;
    Converter conv("WCHAR_T", "CP936");
    if (!conv.Ok()) {
        // Without the code page only ASCII can be trusted.
        for (const char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            out += b < 0x80 ? static_cast<wchar_t>(b) : kReplacement;
        }
        return out;
    }
    out.reserve(bytes.size());
    std::array<wchar_t, 256> buffer{};
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = reinterpret_cast<char*>(buffer.data());
        std::size_t outLeft = sizeof(buffer);
        const std::size_t r = iconv(conv.Get(), &in, &inLeft, &outPtr, &outLeft);
        const std::size_t produced = (sizeof(buffer) - outLeft) / sizeof(wchar_t);
        out.append(buffer.data(), produced);
        if (r != static_cast<std::size_t>(-1)) {
            continue;
        }
        if (errno == E2BIG) {
            continue;
        }
        // EILSEQ (a bad byte) or EINVAL (a character cut off at the end):
        // replace one byte and go on from the next.
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string ToCodePage936(std::wstring_view text) {
    std::string out;
    Converter conv("CP936", "WCHAR_T");
    if (!conv.Ok()) {
        for (const wchar_t c : text) {
            out += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return out;
    }
    out.reserve(text.size() * 2);
    std::array<char, 512> buffer{};
    char* in = reinterpret_cast<char*>(const_cast<wchar_t*>(text.data()));
    std::size_t inLeft = text.size() * sizeof(wchar_t);
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        const std::size_t r = iconv(conv.Get(), &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), buffer.size() - outLeft);
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        out += '?';
        in += sizeof(wchar_t);
        inLeft -= std::min(inLeft, sizeof(wchar_t));
        iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

}  // namespace platform
