#pragma once
// The kept performances of the karaoke history, as the download manager
// pages and deletes them.
#include "catalogue/SongItem.h"

class CHistorySealer;

class CHistoryPerformanceStore final : public IPerformanceStore {
  public:
    // The sealer must outlive the store.
    explicit CHistoryPerformanceStore(CHistorySealer& sealer) : sealer_(sealer) {}

    std::vector<PerformanceRecord> ListPerformances() override;
    bool DeletePerformance(std::uint32_t recordId) override;

  private:
    CHistorySealer& sealer_;
};
