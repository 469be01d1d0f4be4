#pragma once
// The process's history sealer and its place in the karaoke subsystem: the
// steps of start-up, replay and shut-down that belong to the history, and
// keeping a finished performance.
#include <string>
#include <vector>

#include "karaoke/CHistorySealer.h"
#include "karaoke/KaraokeSystem.h"

class CKaraokeContext;

// Created on first use, configured from the karaoke context (history root
// and temp folder); null only when out of memory.
CHistorySealer* GetHistorySealer();
// Waits for its threads and deletes it.
void DeleteHistorySealer();

// Fills the history's steps of the seams: loadHistory, unsealRecord,
// finishHistoryWork and deleteHistorySealer.
void AddHistorySeams(KaraokeSystemSeams& seams);

// The end of a live performance: writes "ResultInfo.ini" into the
// context's record folder (the temp folder), starts sealing it into a new
// record and makes that record the context's record folder. Returns the
// record folder, empty when nothing could be kept.
std::wstring KeepPerformance(CKaraokeContext& context);

// For the download manager's worker threads and the pages.
std::vector<HistoryEntry> GetHistoryList();
bool DeleteRecord(std::uint32_t id);
