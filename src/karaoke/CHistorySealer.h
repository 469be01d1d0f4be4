#pragma once
// The history of kept performances: every finished live performance is
// sealed, member by member, into the ".hlf" container in a numbered record
// folder under the history root; a replay unseals one into the temp folder;
// the history page lists and deletes them.
//
// Folder strings end with '/'. A record folder is the history root and the
// record id as ten zero-padded digits; only names of exactly ten digits
// count as records, so no other folder is ever listed, replayed or deleted
// by mistake.
//
// Thread use: Seal returns while nine threads seal the members; every
// operation that cleans the temp folder or starts a new seal (Seal, Unseal,
// LoadHistory, CleanTempFolder) first waits for them, and so does the
// destructor, so that a performance is never cut short. A record is built
// in a staging folder (".<ten digits>.sealing") and renamed into place when
// all nine members are done: a crash leaves either the whole record or none.
// The listing is guarded by a lock, for the download manager's worker
// threads.
#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "karaoke/HistoryEntry.h"

class CHistorySealer {
  public:
    static constexpr int kMemberCount = 9;
    static const wchar_t* const kMemberBaseNames[kMemberCount];
    static const wchar_t* const kMemberExtensions[kMemberCount];
    static constexpr const wchar_t* kInfoFileName = L"ResultInfo.ini";
    static constexpr const wchar_t* kInfoSection = L"information";

    // Result of one member's thread.
    enum MemberResult : int { kPending = -2, kMissing = -1, kDone = 0, kFailed = 1 };

    CHistorySealer() = default;
    CHistorySealer(std::wstring historyRoot, std::wstring tempFolder);
    ~CHistorySealer();
    CHistorySealer(const CHistorySealer&) = delete;
    CHistorySealer& operator=(const CHistorySealer&) = delete;

    void Configure(std::wstring historyRoot, std::wstring tempFolder);
    std::wstring HistoryRoot() const;
    std::wstring TempFolder() const;

    static std::wstring PlainName(int member);
    static std::wstring SealedName(int member);
    // root + "%010u/".
    static std::wstring RecordFolder(const std::wstring& root, std::uint32_t id);
    // The id of a record folder name of exactly ten digits (at most
    // 4294967295), else nullopt.
    static std::optional<std::uint32_t> ParseRecordId(std::wstring_view name);

    // The first free record folder under root, counting from 1 (a deleted
    // id is used again). Empty when root cannot be searched (not a folder,
    // no permission, ...) or every id is taken.
    static std::wstring NextRecordFolder(const std::wstring& root);

    // "TotalScore" of ResultInfo.ini: the text after the first 12
    // characters of the last line of the score file that holds
    // "Total Score", without its line end; "0" when there is none.
    static std::wstring ExtractTotalScore(const std::wstring& featureTrackPath);

    // Writes "ResultInfo.ini" into the folder (UTF-16LE with its byte-order
    // mark when created here; an existing file keeps its encoding and gets
    // the keys). TotalScore comes from the folder's "VocalFeatureTrack.txt".
    // karaokeTime 0 means now.
    static bool WriteInfoFile(const std::wstring& folder, const std::wstring& musicTitle,
                              const std::wstring& lyricPath, const std::wstring& songId,
                              std::uint64_t karaokeTime = 0);

    // Starts sealing the members found in sourceFolder into a new record;
    // returns that record's folder (final name), or empty when no record
    // folder could be made. The members are done after WaitSealed.
    std::wstring Seal(const std::wstring& sourceFolder);
    // Joins the sealing threads; the per-member results of the last Seal.
    std::array<int, kMemberCount> WaitSealed();

    // Deletes the files of the temp folder (creating it when missing) and
    // starts unsealing the record folder's members into it. False when the
    // temp folder cannot be made.
    bool Unseal(const std::wstring& recordFolder);
    // Joins the unsealing threads; the per-member results.
    std::array<int, kMemberCount> WaitUnsealed();

    // Waits for sealing, then deletes every file directly inside the temp
    // folder (creating the folder when it is missing). For the player,
    // before a new performance.
    bool CleanTempFolder();

    // Rescans the history root; the entries sorted by record id. Folders
    // without a readable "ResultInfo.hlf" are left out.
    std::vector<HistoryEntry> LoadHistory();
    // Rescans and returns a copy of the list.
    std::vector<HistoryEntry> GetHistoryList();
    // The list of the last rescan.
    std::vector<HistoryEntry> CachedHistory() const;
    // Deletes the record folder of id with everything in it, then rescans.
    // False when the record does not exist or could not be deleted.
    bool DeleteRecord(std::uint32_t id);

  private:
    static void DeleteFilesIn(const std::wstring& folder);
    std::vector<HistoryEntry> Rescan();

    mutable std::mutex configMutex_;  // guards the two folders; taken last
    std::wstring historyRoot_;
    std::wstring tempFolder_;

    std::mutex sealMutex_;  // one Seal/Unseal/clean-up at a time
    std::vector<std::thread> sealThreads_;
    std::array<std::atomic<int>, kMemberCount> sealResults_{};
    std::vector<std::thread> unsealThreads_;
    std::array<std::atomic<int>, kMemberCount> unsealResults_{};

    mutable std::mutex listMutex_;
    std::vector<HistoryEntry> list_;
};
