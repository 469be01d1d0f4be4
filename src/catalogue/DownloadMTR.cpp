#include "catalogue/DownloadMTR.h"

#include <array>
#include <chrono>
#include <climits>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>

#include "catalogue/DownloadFtp.h"
#include "catalogue/DownloadHttp.h"
#include "catalogue/DownloadUrl.h"
#include "platform/debug/DebugLog.h"
#include "platform/net/Connectivity.h"
#include "platform/text/Format.h"
#include "platform/text/Utf.h"

namespace fs = std::filesystem;

namespace {

constexpr int kProbeAttempts = 3;
constexpr int kRetryWaitMs = 100;
constexpr int kMaxCount = 16;
constexpr std::int64_t kRecordBytes = 12;

bool EqualNoCase(const std::wstring& a, const wchar_t* b) {
    const std::size_t n = std::wcslen(b);
    if (a.size() != n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (static_cast<wchar_t>(std::towlower(a[i])) != b[i]) {
            return false;
        }
    }
    return true;
}

void PutInt32(char* out, std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

std::int32_t GetInt32(const char* in) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    }
    return static_cast<std::int32_t>(v);
}

std::int64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

}  // namespace

CDownloadMTR::CDownloadMTR(IDownloadTaskListener* owner, std::int64_t declaredSize)
    : owner_(owner), declaredSize_(declaredSize) {}

CDownloadMTR::~CDownloadMTR() {
    Stop();
    std::lock_guard lock(lock_);
    connections_.clear();
    probe_.reset();
}

bool CDownloadMTR::SetCount(int count) {
    if (count < 1 || count > kMaxCount) {
        return false;
    }
    count_ = count;
    return true;
}

void CDownloadMTR::SetCredentials(const std::wstring& user, const std::wstring& password) {
    user_ = user;
    password_ = password;
}

void CDownloadMTR::Stop() {
    stopped_ = true;
    std::lock_guard lock(lock_);
    if (probe_) {
        probe_->Stop();
    }
    for (auto& c : connections_) {
        c->Stop();
    }
}

std::wstring CDownloadMTR::FinalPath() const {
    std::lock_guard lock(lock_);
    return finalPath_;
}

void CDownloadMTR::Send(int connection, int code, std::int64_t value, const std::wstring& text) {
    if (owner_ != nullptr) {
        DownloadEvent e;
        e.connection = connection;
        e.code = code;
        e.value = value;
        e.text = text;
        e.sender = this;
        owner_->OnDownloadEvent(e);
    }
}

void CDownloadMTR::OnConnectionEvent(int index, int code, std::int64_t value,
                                     const std::wstring& text) {
    if (code == kEventFileName) {
        redirectName_ = text;
    }
    Send(index, code, value, text);
}

void CDownloadMTR::OnProgress(int index, std::int64_t received, std::int64_t /*delta*/) {
    if (index < 0 || static_cast<std::size_t>(index) >= progress_.size()) {
        return;
    }
    progress_[static_cast<std::size_t>(index)] = received;
    std::int64_t total = 0;
    for (std::int64_t p : progress_) {
        total += p;
    }
    Send(-1, kEventProgress, total);
}

std::unique_ptr<CDownloadPub> CDownloadMTR::MakeConnection(int index) {
    std::unique_ptr<CDownloadPub> c;
    if (EqualNoCase(scheme_, L"ftp")) {
        c = std::make_unique<CDownloadFtp>(index, this, options_);
    } else {
        c = std::make_unique<CDownloadHttp>(index, this, options_);
    }
    c->SetUrl(url_);
    c->SetCredentials(user_, password_);
    return c;
}

int CDownloadMTR::ProbeFile() {
    CDownloadPub* probe = nullptr;
    {
        std::lock_guard lock(lock_);
        probe_ = MakeConnection(-1);
        probe = probe_.get();
        if (stopped_) {
            probe->Stop();
        }
    }
    int rc = kDownloadFailed;
    for (int attempt = 0; attempt < kProbeAttempts; ++attempt) {
        if (attempt > 0) {
            platform::Event pause(platform::Event::Mode::ManualReset);
            for (int waited = 0; waited < kRetryWaitMs && !stopped_; waited += 10) {
                pause.Wait(10);
            }
        }
        if (stopped_) {
            return kDownloadStopped;
        }
        rc = probe->Probe();
        if (rc == kDownloadOk || rc == kDownloadRefused || rc == kDownloadStopped ||
            probe->FailureIsFinal()) {
            break;
        }
    }
    return stopped_ ? kDownloadStopped : rc;
}

bool CDownloadMTR::ReadTrailer(const std::string& tempPath, std::int64_t length) {
    const std::int64_t size = FileSize(tempPath);
    if (size < length + kRecordBytes + 4) {
        return false;
    }
    std::ifstream in(tempPath, std::ios::binary);
    char tail[4];
    in.seekg(size - 4);
    if (!in.read(tail, 4)) {
        return false;
    }
    const int count = GetInt32(tail);
    if (count < 1 || count > kMaxCount || size != length + kRecordBytes * count + 4) {
        return false;
    }
    std::vector<char> raw(static_cast<std::size_t>(kRecordBytes * count));
    in.seekg(length);
    if (!in.read(raw.data(), static_cast<std::streamsize>(raw.size()))) {
        return false;
    }
    std::vector<RangeRecord> table(static_cast<std::size_t>(count));
    std::int64_t next = 0;
    for (int i = 0; i < count; ++i) {
        RangeRecord& r = table[static_cast<std::size_t>(i)];
        r.start = GetInt32(&raw[static_cast<std::size_t>(i) * 12]);
        r.length = GetInt32(&raw[static_cast<std::size_t>(i) * 12 + 4]);
        r.received = GetInt32(&raw[static_cast<std::size_t>(i) * 12 + 8]);
        // The ranges must tile the file from 0 to its end, in order.
        if (r.start != next || r.length < 0 || r.received < 0 || r.received > r.length) {
            return false;
        }
        next = r.start + r.length;
    }
    if (next != length) {
        return false;
    }
    ranges_ = table;
    count_ = count;
    return true;
}

bool CDownloadMTR::WriteTrailer(const std::string& tempPath, std::int64_t length) {
    std::vector<char> raw(ranges_.size() * 12 + 4);
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        PutInt32(&raw[i * 12], ranges_[i].start);
        PutInt32(&raw[i * 12 + 4], ranges_[i].length);
        PutInt32(&raw[i * 12 + 8], ranges_[i].received);
    }
    PutInt32(&raw[ranges_.size() * 12], static_cast<std::int64_t>(ranges_.size()));
    std::fstream out(tempPath, std::ios::binary | std::ios::in | std::ios::out);
    if (!out) {
        return false;
    }
    out.seekp(length);
    out.write(raw.data(), static_cast<std::streamsize>(raw.size()));
    out.flush();
    return static_cast<bool>(out);
}

bool CDownloadMTR::AllRangesComplete() const {
    for (const RangeRecord& r : ranges_) {
        if (r.length < 0 || r.received < r.length) {
            return false;
        }
    }
    return true;
}

int CDownloadMTR::Run() {
    finished_ = false;
    result_ = kDownloadOk;
    Send(-1, kEventStarted, -1);
    const auto parsed = download::ParseUrl(url_);
    if (!parsed) {
        platform::DebugOutput(
            platform::Format("Download: invalid URL {}\n", platform::ToUtf8(url_)));
        return Finish(kDownloadFailed);
    }
    scheme_ = parsed->scheme;
    if (!EqualNoCase(scheme_, L"http") && !EqualNoCase(scheme_, L"ftp")) {
        platform::DebugOutput(
            platform::Format("Download: unsupported address {}\n", platform::ToUtf8(url_)));
        return Finish(EqualNoCase(scheme_, L"https") ? kDownloadRefused : kDownloadFailed);
    }
    const int probed = ProbeFile();
    if (probed != kDownloadOk) {
        return Finish(probed);
    }
    contentLength_ = probe_->ContentLength();
    supportsRanges_ = probe_->SupportsRanges();
    lastModified_ = probe_->LastModified();

    const std::wstring name =
        fileName_.empty() && !redirectName_.empty() ? redirectName_ : fileName_;
    {
        std::lock_guard lock(lock_);
        finalPath_ = download::TargetPath(folder_, name, parsed->path);
    }
    const std::string finalPath = platform::ToUtf8(finalPath_);
    const std::string tempPath = platform::ToUtf8(finalPath_ + kDownloadTempSuffix);
    std::error_code ec;
    if (restart_) {
        fs::remove(finalPath, ec);
        fs::remove(tempPath, ec);
    } else if (contentLength_ >= 0 && FileSize(finalPath) == contentLength_ &&
               fs::is_regular_file(finalPath, ec)) {
        return Finish(kDownloadOk);
    }
    ranges_.clear();
    useTrailer_ = supportsRanges_ && contentLength_ > 0 && contentLength_ <= INT32_MAX;
    if (!useTrailer_) {
        count_ = 1;
    }
    bool resumed = useTrailer_ && ReadTrailer(tempPath, contentLength_);
    if (useTrailer_ && !resumed && fs::exists(tempPath, ec)) {
        platform::DebugOutput("Download: the temporary file does not fit; starting again.\n");
    }
    if (!resumed) {
        {
            std::ofstream create(tempPath, std::ios::binary | std::ios::trunc);
            if (!create) {
                platform::DebugOutput("Download: the temporary file cannot be created.\n");
                return Finish(kDownloadFileError);
            }
        }
        if (useTrailer_) {
            fs::resize_file(tempPath,
                            static_cast<std::uintmax_t>(contentLength_ + kRecordBytes * count_ + 4),
                            ec);
            if (ec) {
                return Finish(kDownloadFileError);
            }
        }
        std::int64_t start = 0;
        for (int i = 0; i < count_; ++i) {
            RangeRecord r;
            r.start = start;
            if (contentLength_ < 0) {
                r.length = -1;
            } else {
                r.length = contentLength_ / count_ + (i == 0 ? contentLength_ % count_ : 0);
            }
            start += r.length;
            ranges_.push_back(r);
        }
        if (useTrailer_ && !WriteTrailer(tempPath, contentLength_)) {
            return Finish(kDownloadFileError);
        }
    }
    progress_.assign(ranges_.size(), 0);
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        progress_[i] = ranges_[i].received;
    }
    if (contentLength_ == 0 || (useTrailer_ && AllRangesComplete())) {
        return Finish(kDownloadOk);  // nothing left to ask for
    }
    {
        std::lock_guard lock(lock_);
        connections_.clear();
        for (int i = 0; i < count_; ++i) {
            auto c = MakeConnection(i);
            c->CopyRequestState(*probe_);
            c->SetLocalPath(finalPath_ + kDownloadTempSuffix);
            if (stopped_) {
                c->Stop();
            }
            connections_.push_back(std::move(c));
        }
        running_ = count_;
    }
    int result = kDownloadOk;
    for (std::size_t i = 0; i < ranges_.size(); ++i) {
        RangeRecord& r = ranges_[i];
        if (r.length >= 0 && r.received >= r.length) {
            --running_;
            continue;
        }
        CDownloadPub& c = *connections_[i];
        const int rc = c.Download(r.start, r.length, r.received);
        r.received = c.Received();
        --running_;
        if (rc != kDownloadOk) {
            result = rc;
            break;
        }
    }
    return Finish(result);
}

int CDownloadMTR::Finish(int result) {
    if (stopped_) {
        result = kDownloadStopped;
    }
    const std::string finalPath = platform::ToUtf8(finalPath_);
    const std::string tempPath = platform::ToUtf8(finalPath_ + kDownloadTempSuffix);
    std::error_code ec;
    if (result != kDownloadOk) {
        if (useTrailer_ && !ranges_.empty() && fs::exists(tempPath, ec)) {
            WriteTrailer(tempPath, contentLength_);
        }
    } else if (!finalPath_.empty() && fs::exists(tempPath, ec)) {
        if (useTrailer_) {
            fs::resize_file(tempPath, static_cast<std::uintmax_t>(contentLength_), ec);
        }
        // rename() replaces an older target of another size.
        fs::rename(tempPath, finalPath, ec);
        if (ec) {
            platform::DebugOutput("Download: the file cannot be moved into place.\n");
            result = kDownloadFileError;
        } else if (lastModified_ != 0) {
            const auto when = std::chrono::file_clock::from_sys(
                std::chrono::system_clock::time_point(std::chrono::seconds(lastModified_)));
            fs::last_write_time(finalPath, when, ec);
        }
    } else if (!finalPath_.empty() && contentLength_ == 0 && !fs::exists(finalPath, ec)) {
        std::ofstream empty(finalPath, std::ios::binary);
        if (!empty) {
            result = kDownloadFileError;
        }
    }
    result_ = result;
    finished_ = true;
    Send(-1, kEventFinished, result);
    return result;
}
