#include "karaoke/CHistorySealer.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "karaoke/context/HlfContainer.h"
#include "platform/debug/DebugLog.h"
#include "platform/folders/Folders.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Format.h"
#include "platform/text/Number.h"
#include "platform/text/Utf.h"

namespace fs = std::filesystem;

const wchar_t* const CHistorySealer::kMemberBaseNames[kMemberCount] = {
    L"Mixed",      L"Vocal",      L"ResultInfo",     L"PitchData", L"Score", L"VocalFeatureTrack",
    L"PitchData2", L"VolumeData", L"MaxFeatureCount"};

const wchar_t* const CHistorySealer::kMemberExtensions[kMemberCount] = {
    L".wav", L".wav", L".ini", L".txt", L".txt", L".txt", L".txt", L".txt", L".txt"};

namespace {

constexpr std::size_t kProfileBufferChars = 260;
constexpr const wchar_t* kSealedExtension = L".hlf";
// The listing's copies of the information files; a folder of its own, so
// that a listing never deletes the files of a performance being recorded or
// replayed in the temp folder.
constexpr const wchar_t* kListScratch = L"HistoryList/";

std::string U8(const std::wstring& s) {
    return platform::ToUtf8(s);
}

std::wstring WithSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'/')
        folder += L'/';
    return folder;
}

void JoinAll(std::vector<std::thread>& threads) {
    for (auto& t : threads) {
        if (t.joinable())
            t.join();
    }
    threads.clear();
}

template <typename Results>
std::array<int, CHistorySealer::kMemberCount> Snapshot(const Results& results) {
    std::array<int, CHistorySealer::kMemberCount> out{};
    for (int i = 0; i < CHistorySealer::kMemberCount; ++i)
        out[i] = results[i].load();
    return out;
}

}  // namespace

CHistorySealer::CHistorySealer(std::wstring historyRoot, std::wstring tempFolder) {
    Configure(std::move(historyRoot), std::move(tempFolder));
}

CHistorySealer::~CHistorySealer() {
    std::lock_guard lock(sealMutex_);
    JoinAll(sealThreads_);
    JoinAll(unsealThreads_);
}

void CHistorySealer::Configure(std::wstring historyRoot, std::wstring tempFolder) {
    std::lock_guard lock(configMutex_);
    historyRoot_ = WithSlash(std::move(historyRoot));
    tempFolder_ = WithSlash(std::move(tempFolder));
}

std::wstring CHistorySealer::HistoryRoot() const {
    std::lock_guard lock(configMutex_);
    return historyRoot_;
}

std::wstring CHistorySealer::TempFolder() const {
    std::lock_guard lock(configMutex_);
    return tempFolder_;
}

std::wstring CHistorySealer::PlainName(int member) {
    return std::wstring(kMemberBaseNames[member]) + kMemberExtensions[member];
}

std::wstring CHistorySealer::SealedName(int member) {
    return std::wstring(kMemberBaseNames[member]) + kSealedExtension;
}

std::wstring CHistorySealer::RecordFolder(const std::wstring& root, std::uint32_t id) {
    return platform::Format(L"{}{:010}/", WithSlash(root), id);
}

std::optional<std::uint32_t> CHistorySealer::ParseRecordId(std::wstring_view name) {
    if (name.size() != 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (wchar_t c : name) {
        if (c < L'0' || c > L'9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

std::wstring CHistorySealer::NextRecordFolder(const std::wstring& root) {
    // A root that exists must be a folder we can search: otherwise every
    // id would look taken (or free) for ever. A missing root is fine; it is
    // created with the record.
    // Without the trailing slash: stat of "file/" reports ENOTDIR, which the
    // library reads as "not found".
    std::wstring bare = root;
    while (bare.size() > 1 && bare.back() == L'/')
        bare.pop_back();
    const fs::path rootPath(U8(bare));
    std::error_code ec;
    const fs::file_type rootType = fs::status(rootPath, ec).type();
    if (rootType != fs::file_type::not_found) {
        if (rootType != fs::file_type::directory)
            return {};
        fs::directory_iterator probe(rootPath, ec);
        if (ec)
            return {};
    }
    for (std::uint64_t id = 1; id <= 0xFFFFFFFFu; ++id) {
        const std::wstring folder = RecordFolder(root, static_cast<std::uint32_t>(id));
        const fs::file_status st = fs::symlink_status(fs::path(U8(folder)), ec);
        if (st.type() == fs::file_type::not_found)
            return folder;
        if (ec)
            return {};
    }
    return {};
}

std::wstring CHistorySealer::ExtractTotalScore(const std::wstring& featureTrackPath) {
    std::string bytes;
    if (!platform::ReadWholeFile(featureTrackPath, bytes))
        return L"0";
    std::wstring found;
    bool any = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos)
            end = bytes.size();
        std::string_view line(bytes.data() + pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        if (line.find("Total Score") == std::string_view::npos)
            continue;
        any = true;
        found = line.size() > 12 ? platform::FromUtf8(line.substr(12)) : std::wstring();
    }
    if (!any || found.empty())
        return L"0";
    return found;
}

bool CHistorySealer::WriteInfoFile(const std::wstring& folder, const std::wstring& musicTitle,
                                   const std::wstring& lyricPath, const std::wstring& songId,
                                   std::uint64_t karaokeTime) {
    const std::wstring dir = WithSlash(folder);
    const std::wstring path = dir + kInfoFileName;
    // A new file starts with the UTF-16LE byte-order mark, which keeps every
    // later write in UTF-16LE. "x": an existing file is left as it is and
    // only gets the keys.
    if (std::FILE* f = std::fopen(U8(path).c_str(), "wbx")) {
        const unsigned char bom[2] = {0xFF, 0xFE};
        const bool ok = std::fwrite(bom, 1, 2, f) == 2;
        if (std::fclose(f) != 0 || !ok)
            return false;
    }
    if (karaokeTime == 0)
        karaokeTime = LocalFileTimeNow();
    const std::wstring score = ExtractTotalScore(dir + L"VocalFeatureTrack.txt");
    platform::ProfileFile profile;
    if (!profile.Load(path))
        return false;
    bool ok = profile.Set(kInfoSection, L"MusicTitle", musicTitle);
    ok = profile.Set(kInfoSection, L"LyricPath", lyricPath) && ok;
    ok = profile.Set(kInfoSection, L"KaraokeTime", platform::Format(L"{}", karaokeTime)) && ok;
    ok = profile.Set(kInfoSection, L"TotalScore", score) && ok;
    ok = profile.Set(kInfoSection, L"SongID", songId) && ok;
    return profile.Save(path) && ok;
}

std::wstring CHistorySealer::Seal(const std::wstring& sourceFolder) {
    std::lock_guard lock(sealMutex_);
    JoinAll(sealThreads_);
    for (auto& r : sealResults_)
        r = kPending;

    const std::wstring historyRoot = HistoryRoot();
    const std::wstring destination = NextRecordFolder(historyRoot);
    if (destination.empty()) {
        platform::DebugOutput(L"Seal: no free record folder under " + historyRoot + L"\n");
        return {};
    }
    std::wstring name = destination.substr(historyRoot.size());
    name.pop_back();  // the slash
    const std::wstring staging = historyRoot + L"." + name + L".sealing/";
    platform::DeleteFolderTree(staging);  // left over by a crash
    if (!platform::MakeWholePath(staging)) {
        platform::DebugOutput(L"Seal: cannot create " + staging + L"\n");
        return {};
    }

    // Each thread gets its paths by value; the last one to finish puts the
    // record in place.
    auto remaining = std::make_shared<std::atomic<int>>(kMemberCount);
    const std::wstring source = WithSlash(sourceFolder);
    for (int i = 0; i < kMemberCount; ++i) {
        sealThreads_.emplace_back([this, i, remaining, plain = source + PlainName(i),
                                   sealed = staging + SealedName(i), staging, destination] {
            int result = kMissing;
            if (platform::FileExists(plain)) {
                const hlf::Status s = hlf::EncipherFile(U8(plain), U8(sealed));
                result = s == hlf::Status::Ok ? kDone : kFailed;
                if (s != hlf::Status::Ok) {
                    platform::DebugOutput(platform::Format(L"Seal: {}: {}\n", plain,
                                                           platform::FromUtf8(hlf::StatusText(s))));
                }
            }
            sealResults_[i] = result;
            if (remaining->fetch_sub(1) != 1)
                return;
            // Without its information file a record cannot be listed; keep
            // no such half record.
            std::error_code ec;
            if (!platform::FileExists(staging + SealedName(2))) {
                platform::DeleteFolderTree(staging);
                return;
            }
            std::wstring target = destination;
            target.pop_back();
            fs::rename(fs::path(U8(staging.substr(0, staging.size() - 1))), fs::path(U8(target)),
                       ec);
            if (ec)
                platform::DebugOutput(L"Seal: cannot move the record into " + destination + L"\n");
        });
    }
    return destination;
}

std::array<int, CHistorySealer::kMemberCount> CHistorySealer::WaitSealed() {
    std::lock_guard lock(sealMutex_);
    JoinAll(sealThreads_);
    return Snapshot(sealResults_);
}

void CHistorySealer::DeleteFilesIn(const std::wstring& folder) {
    for (const auto& f : platform::FindFiles(folder, L"*.*")) {
        if (!f.isFolder)
            platform::DeleteFile(platform::JoinPath(folder, f.name));
    }
}

bool CHistorySealer::Unseal(const std::wstring& recordFolder) {
    std::lock_guard lock(sealMutex_);
    JoinAll(sealThreads_);  // they may still read the temp folder
    JoinAll(unsealThreads_);
    for (auto& r : unsealResults_)
        r = kPending;
    const std::wstring temp = TempFolder();
    if (!platform::MakeWholePath(temp))
        return false;
    DeleteFilesIn(temp);
    const std::wstring source = WithSlash(recordFolder);
    for (int i = 0; i < kMemberCount; ++i) {
        unsealThreads_.emplace_back(
            [this, i, sealed = source + SealedName(i), plain = temp + PlainName(i)] {
                int result = kMissing;
                if (platform::FileExists(sealed)) {
                    const hlf::Status s = hlf::DecipherFile(U8(sealed), U8(plain));
                    result = s == hlf::Status::Ok ? kDone : kFailed;
                    if (s != hlf::Status::Ok) {
                        platform::DebugOutput(platform::Format(
                            L"Unseal: {}: {}\n", sealed, platform::FromUtf8(hlf::StatusText(s))));
                    }
                }
                unsealResults_[i] = result;
            });
    }
    return true;
}

std::array<int, CHistorySealer::kMemberCount> CHistorySealer::WaitUnsealed() {
    std::lock_guard lock(sealMutex_);
    JoinAll(unsealThreads_);
    return Snapshot(unsealResults_);
}

bool CHistorySealer::CleanTempFolder() {
    std::lock_guard lock(sealMutex_);
    JoinAll(sealThreads_);
    JoinAll(unsealThreads_);
    const std::wstring temp = TempFolder();
    if (!platform::MakeWholePath(temp))
        return false;
    DeleteFilesIn(temp);
    return true;
}

std::vector<HistoryEntry> CHistorySealer::Rescan() {
    std::vector<HistoryEntry> entries;
    const std::wstring root = HistoryRoot();
    const std::wstring scratch = TempFolder() + kListScratch;
    if (!platform::MakeWholePath(scratch)) {
        platform::DebugOutput(L"LoadHistory: cannot create " + scratch + L"\n");
        return entries;
    }
    DeleteFilesIn(scratch);
    int copies = 0;
    for (const auto& found : platform::FindFiles(root, L"*.*")) {
        if (!found.isFolder)
            continue;
        const auto id = ParseRecordId(found.name);
        if (!id)
            continue;
        const std::wstring info = root + found.name + L"/" + SealedName(2);
        if (!platform::FileExists(info))
            continue;
        const std::wstring copy = platform::Format(L"{}ResultInfo{}.ini", scratch, copies);
        if (hlf::DecipherFile(U8(info), U8(copy)) != hlf::Status::Ok)
            continue;
        ++copies;
        HistoryEntry e;
        e.recordId = *id;
        platform::ProfileFile profile;
        if (profile.Load(copy)) {
            auto get = [&](const wchar_t* key) {
                std::wstring v = profile.Get(kInfoSection, key).value_or(L"");
                if (v.size() >= kProfileBufferChars)
                    v.resize(kProfileBufferChars - 1);
                return v;
            };
            CopyHistoryText(e.musicTitle, get(L"MusicTitle"));
            CopyHistoryText(e.songId, get(L"SongID"));
            e.totalScore = static_cast<float>(platform::ParseLeadingDouble(get(L"TotalScore")));
            const std::int64_t time = platform::ParseLeadingInt64(get(L"KaraokeTime"));
            e.karaokeTime = FileTimeToSystemTime(time > 0 ? static_cast<std::uint64_t>(time) : 0);
        }
        entries.push_back(e);
    }
    DeleteFilesIn(scratch);
    std::sort(entries.begin(), entries.end(),
              [](const HistoryEntry& a, const HistoryEntry& b) { return a.recordId < b.recordId; });
    return entries;
}

std::vector<HistoryEntry> CHistorySealer::LoadHistory() {
    std::lock_guard lock(listMutex_);
    list_ = Rescan();
    return list_;
}

std::vector<HistoryEntry> CHistorySealer::GetHistoryList() {
    return LoadHistory();
}

std::vector<HistoryEntry> CHistorySealer::CachedHistory() const {
    std::lock_guard lock(listMutex_);
    return list_;
}

bool CHistorySealer::DeleteRecord(std::uint32_t id) {
    const std::wstring folder = RecordFolder(HistoryRoot(), id);
    const bool existed = platform::FolderExists(folder);
    const bool deleted = existed && platform::DeleteFolderTree(folder);
    LoadHistory();
    return deleted;
}
