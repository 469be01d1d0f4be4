#pragma once
// The records the catalogue client hands to the pages: songs (from the
// catalogue or the downloaded list), kept performances, singer category
// entries and the version answer.
#include <cstdint>
#include <string>
#include <vector>

struct SongDate {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

class CSongItem {
  public:
    int kind = 0;    // 0 song, 1 kept performance
    int status = 0;  // 0 not on disk, 1 downloading, 2 on disk
    std::wstring songId;
    std::wstring a2;
    std::wstring name;
    std::wstring musicLocation;
    std::int32_t musicSize = 0;
    std::wstring lyricLocation;
    std::int32_t lyricSize = 0;
    bool iconOnDisk = false;
    std::wstring iconLocation;
    std::int32_t a14 = 0;
    std::wstring singer;
    std::wstring a20;
    std::wstring a21;
    std::int32_t alternativeBases = 0;
    std::int64_t bytesDone = 0;
    std::uint32_t recordNumber = 0;
    std::wstring title;
    float score = 0.0f;
    SongDate date;
};

class CSongTypeEntry {
  public:
    int group = 0;  // 1, 2, 3: the arrays "a", "b", "c"
    std::wstring singer;
    std::wstring indexText;
};

struct CVersionRecord {
    std::wstring version;
    std::wstring content;
    std::wstring packageUrl;
    bool forced = false;
    std::wstring packageHash;
};

// One kept performance as the history lists it.
struct PerformanceRecord {
    std::uint32_t recordId = 0;
    std::wstring title;
    std::wstring songId;
    float score = 0.0f;
    SongDate time;
};

// The history of kept performances, as far as the download manager pages
// and deletes it.
class IPerformanceStore {
  public:
    virtual ~IPerformanceStore() = default;
    virtual std::vector<PerformanceRecord> ListPerformances() = 0;
    virtual bool DeletePerformance(std::uint32_t recordId) = 0;
};
