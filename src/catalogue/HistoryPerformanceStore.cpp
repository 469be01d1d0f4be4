#include "catalogue/HistoryPerformanceStore.h"

#include "karaoke/CHistorySealer.h"

std::vector<PerformanceRecord> CHistoryPerformanceStore::ListPerformances() {
    std::vector<PerformanceRecord> records;
    for (const HistoryEntry& e : sealer_.GetHistoryList()) {
        PerformanceRecord r;
        r.recordId = e.recordId;
        r.title = e.musicTitle;
        r.songId = e.songId;
        r.score = e.totalScore;
        r.time = SongDate{e.karaokeTime.year, e.karaokeTime.month,  e.karaokeTime.day,
                          e.karaokeTime.hour, e.karaokeTime.minute, e.karaokeTime.second};
        records.push_back(std::move(r));
    }
    return records;
}

bool CHistoryPerformanceStore::DeletePerformance(std::uint32_t recordId) {
    return sealer_.DeleteRecord(recordId);
}
