#include "karaoke/HistoryService.h"

#include "karaoke/context/KaraokeContext.h"
#include "karaoke/context/SingleTon.h"

namespace {

using SealerInstance = SingleTon<CHistorySealer>;

void ConfigureFrom(CHistorySealer& sealer, const CKaraokeContext& context) {
    sealer.Configure(context.GetHistoryRoot(), context.GetTempFolder());
}

}  // namespace

CHistorySealer* GetHistorySealer() {
    CHistorySealer* sealer = SealerInstance::GetInstance();
    if (sealer != nullptr && sealer->HistoryRoot().empty()) {
        if (CKaraokeContext* context = GetKaraokeContext())
            ConfigureFrom(*sealer, *context);
    }
    return sealer;
}

void DeleteHistorySealer() {
    SealerInstance::ReleaseInstance();
}  // the destructor joins

void AddHistorySeams(KaraokeSystemSeams& seams) {
    seams.loadHistory = [](const std::wstring& historyRoot) {
        CHistorySealer* sealer = GetHistorySealer();
        if (sealer == nullptr)
            return;
        CKaraokeContext* context = GetKaraokeContext();
        sealer->Configure(historyRoot,
                          context != nullptr ? context->GetTempFolder() : sealer->TempFolder());
        sealer->LoadHistory();
    };
    seams.unsealRecord = [](int /*recordId*/, const std::wstring& recordFolder) -> std::wstring {
        CHistorySealer* sealer = GetHistorySealer();
        if (sealer == nullptr || !sealer->Unseal(recordFolder))
            return {};
        const auto results = sealer->WaitUnsealed();
        if (results[0] != CHistorySealer::kDone)
            return {};  // nothing to replay
        return sealer->TempFolder();
    };
    seams.finishHistoryWork = [] {
        if (CHistorySealer* sealer = SealerInstance::PeekInstance()) {
            sealer->WaitSealed();
            sealer->WaitUnsealed();
        }
    };
    seams.deleteHistorySealer = &DeleteHistorySealer;
}

std::wstring KeepPerformance(CKaraokeContext& context) {
    CHistorySealer* sealer = GetHistorySealer();
    if (sealer == nullptr)
        return {};
    ConfigureFrom(*sealer, context);
    const std::wstring source = context.GetRecordFolder();
    if (!CHistorySealer::WriteInfoFile(source, context.GetMusicTitle(), context.GetLyricPath(),
                                       context.GetSongId())) {
        return {};
    }
    const std::wstring record = sealer->Seal(source);
    if (!record.empty())
        context.SetRecordFolder(record);
    return record;
}

std::vector<HistoryEntry> GetHistoryList() {
    CHistorySealer* sealer = GetHistorySealer();
    return sealer != nullptr ? sealer->GetHistoryList() : std::vector<HistoryEntry>{};
}

bool DeleteRecord(std::uint32_t id) {
    CHistorySealer* sealer = GetHistorySealer();
    return sealer != nullptr && sealer->DeleteRecord(id);
}
