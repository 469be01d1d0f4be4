#include "evaluation/NoteScorer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>

#include "evaluation/ScoreFunctions.h"
#include "evaluation/ScoringExports.h"

using evaluation::FrameRow;
using evaluation::HopRecord;
using evaluation::kNoPitch;
using evaluation::PhraseRecord;
using evaluation::SaturatePitchCode;

namespace {

constexpr float kVoiced = 0.8f;
constexpr float kSustained = 0.5f;
constexpr int kStableSpan = 8;  // quarter tones around the onset frame
constexpr int kEdgeFrames = 3;
constexpr float kAcceptShare = 0.2f;
constexpr float kLockError = 8.0f;
constexpr float kLearnError = 10.0f;
constexpr int kLearnMs = 10000;
constexpr int kShortRun = 6;
constexpr int kLongNote = 20;

int RoundToOctave(int x) {
    return x >= 0 ? (x + 24) / 48 * 48 : (x - 24) / 48 * 48;
}

int CeilDiv(int a, int b) {
    return a >= 0 ? (a + b - 1) / b : a / b;
}

}  // namespace

CNoteScorer::CNoteScorer(const MelodyEntry* entries, int count, float hopMs, float searchSpanMs,
                         float* noteScores, FrameRow* rows, int rowCount)
    : noteScores_(noteScores), rows_(rows), rowCount_(rows != nullptr ? rowCount : 0) {
    evaluation::ResetScoreFunction();
    if (entries == nullptr || count <= 0 || !(hopMs >= 1.0f) || noteScores == nullptr) {
        return;
    }
    try {
        hopMs_ = hopMs;
        hop_ = static_cast<int>(hopMs);
        search_ = static_cast<int>(searchSpanMs / hopMs + 0.5f);
        count_ = count;
        times_.resize(count);
        pitches_.resize(count);
        for (int j = 0; j < count; ++j) {
            times_[j] = evaluation::MelodyTime(entries[j]);
            pitches_[j] = evaluation::MelodyPitch(entries[j]);
        }
        // Pitch range of the notes, from the first entry to the one before
        // the closing rest.
        bool any = false;
        for (int j = 0; j + 1 < count; ++j) {
            if (Rest(j)) {
                continue;
            }
            lowest_ = any ? std::min(lowest_, Pitch(j)) : Pitch(j);
            highest_ = any ? std::max(highest_, Pitch(j)) : Pitch(j);
            any = true;
        }
        Segment();
        int longest = 0;
        for (int p = 0; p < static_cast<int>(phrases_.size()); ++p) {
            longest = std::max(longest, PhraseEnd(p) - PhraseStart(p));
        }
        capacity_ = search_ + 1 + static_cast<int>(longest / hopMs_);
        voicing_.assign(capacity_, 0.0f);
        level_.assign(capacity_, 0.0f);
        pitch_.assign(capacity_, 0);
        reference_.assign(capacity_, 0);
        difference_.assign(capacity_, 0);
    } catch (const std::bad_alloc&) {
        return;
    }
    MarkRows();
    usable_ = true;
    done_ = phrases_.empty();
    if (!done_) {
        OpenWindow(0);
    }
}

void CNoteScorer::AddPhrase(int first, int count, int flag) {
    PhraseRecord ph;
    ph.firstEntry = first;
    ph.entryCount = count;
    ph.splitFlag = flag;
    phrases_.push_back(ph);
}

void CNoteScorer::Segment() {
    int start = 0;
    while (start < count_ && Rest(start)) {
        ++start;
    }
    if (start >= count_) {
        return;  // rests only: nothing to score
    }
    int t0 = Time(start);
    int splits = 0;
    for (int k = start; k + 1 < count_; ++k) {
        if (!Rest(k) || Rest(k + 1)) {
            continue;
        }
        const int rest = Time(k + 1) - Time(k);
        if (rest > hop_) {
            ++splits;
        }
        if (rest < kMinBreakMs || Time(k) - t0 <= kMinPhraseMs) {
            continue;
        }
        const int length = Time(k) - t0;
        if (length > kMaxPhraseMs) {
            // Cut into pieces of about equal duration; the remainder up to
            // the break is the last piece.
            const int pieces = (length + kMaxPhraseMs - 1) / kMaxPhraseMs;
            const int target = length / pieces;
            int pieceStart = start;
            for (int e = start + 1; e < k; ++e) {
                const int distance = Time(e) - Time(pieceStart);
                if (distance > target) {
                    AddPhrase(pieceStart, e - pieceStart, distance > kMaxPhraseMs ? -1 : 0);
                    pieceStart = e;
                }
            }
            AddPhrase(pieceStart, k - pieceStart, 1);
        } else {
            AddPhrase(start, k - start, splits);
        }
        start = k + 1;
        t0 = Time(start);
        splits = 0;
    }
    // The last phrase takes at most 10 s of entries; later ones are never
    // scored.
    int n = 0;
    while (start + n < count_ && Time(start + n) - t0 <= kMaxPhraseMs) {
        ++n;
    }
    AddPhrase(start, n, start + n == count_ ? 1 : 0);
}

int CNoteScorer::PhraseStart(int p) const {
    if (p < 0 || p >= static_cast<int>(phrases_.size())) {
        return 0;
    }
    return Time(phrases_[p].firstEntry);
}

int CNoteScorer::PhraseEnd(int p) const {
    if (p < 0 || p >= static_cast<int>(phrases_.size())) {
        return 0;
    }
    if (p + 1 < static_cast<int>(phrases_.size())) {
        return Time(phrases_[p + 1].firstEntry);
    }
    return Time(count_ - 1);
}

void CNoteScorer::MarkRows() {
    if (rows_ == nullptr) {
        return;
    }
    for (int j = 0; j + 1 < count_; ++j) {
        if (Rest(j)) {
            continue;
        }
        const int startRow = CeilDiv(Time(j), hop_);
        const int endRow = CeilDiv(Time(j + 1), hop_) - 1;
        if (endRow >= rowCount_) {
            break;
        }
        if (startRow >= 0 && startRow < rowCount_) {
            rows_[startRow].mark = evaluation::kNoteStart;
        }
        if (endRow >= 0) {
            rows_[endRow].mark = evaluation::kNoteEnd;
        }
    }
}

void CNoteScorer::OpenWindow(int p) {
    current_ = p;
    windowStart_ = PhraseStart(p);
    windowEnd_ = PhraseEnd(p);
    const int limit = static_cast<int>(capacity_ * hopMs_);
    if (windowEnd_ - windowStart_ > limit) {
        windowEnd_ = windowStart_ + limit;
    }
    frames_ = 0;
}

void CNoteScorer::Store(const HopRecord& r) {
    if (frames_ >= capacity_) {
        return;
    }
    voicing_[frames_] = r.voicing;
    level_[frames_] = r.level;
    pitch_[frames_] = static_cast<std::int8_t>(evaluation::RoundedPitchCode(r.hz));
    ++frames_;
}

void CNoteScorer::Feed(const HopRecord* records, int n) {
    if (!usable_ || records == nullptr) {
        return;
    }
    for (int i = 0; i < n && !done_; ++i) {
        elapsed_ += hopMs_;
        if (elapsed_ <= windowStart_) {
            continue;
        }
        if (elapsed_ >= windowEnd_) {
            ScorePhrase(current_);
            if (current_ + 1 < static_cast<int>(phrases_.size())) {
                OpenWindow(current_ + 1);
                if (windowStart_ < elapsed_) {
                    Store(records[i]);
                }
            } else {
                done_ = true;
            }
            continue;
        }
        Store(records[i]);
    }
}

void CNoteScorer::ScorePhrase(int p) {
    PhraseRecord& ph = phrases_[p];
    const int start = PhraseStart(p);
    Align(ph, start);
    ScoreNotes(ph, start);
    ph.scored = true;
}

void CNoteScorer::Align(PhraseRecord& ph, int start) {
    const int f = frames_;
    // Reference track: each note without its first and last few frames.
    std::fill(reference_.begin(), reference_.begin() + f, static_cast<std::int16_t>(kNoPitch));
    int b = 0;
    for (int j = ph.firstEntry; j < ph.firstEntry + ph.entryCount; ++j) {
        int e = f;
        if (j + 1 < count_) {
            e = std::min(f, static_cast<int>(std::floor((Time(j + 1) - start) / hopMs_ + 0.5)));
        }
        e = std::max(e, b);
        if (!Rest(j)) {
            const int g = std::min(kEdgeFrames, (e - b) / 4);
            for (int i = b + g; i < e - g; ++i) {
                reference_[i] = static_cast<std::int16_t>(Pitch(j));
            }
        }
        b = e;
    }
    const int length = std::min(b, f - search_);

    float bestError = 100000.0f;
    int offset = 0;
    float mean = 0.0f;
    for (int o = 0; o < search_ && length > 0; ++o) {
        int n = 0;
        int sum = 0;
        for (int i = 0; i < length; ++i) {
            if (reference_[i] == kNoPitch || !(voicing_[o + i] > kVoiced)) {
                continue;
            }
            const int d = pitch_[o + i] - reference_[i];
            difference_[n++] = static_cast<std::int16_t>(d);
            sum += d;
        }
        if (n == 0) {
            continue;
        }
        const float m = static_cast<float>(sum) / n;
        float spread = 0.0f;
        for (int i = 0; i < n; ++i) {
            spread += std::fabs(difference_[i] - m);
        }
        const float error = spread / n;
        if (static_cast<float>(n) / length > kAcceptShare && error < bestError) {
            bestError = error;
            offset = o;
            mean = m;
        }
    }
    float level = 0.0f;
    if (length > 0) {
        for (int i = offset; i < offset + length; ++i) {
            level += level_[i];
        }
        level /= length;
    }
    ph.vocalLevel = level;
    ph.alignmentError = bestError;

    const int index = static_cast<int>(&ph - phrases_.data());
    if (bestError < kLockError || !alignLock_ || index == 0) {
        ph.offset = offset;
        ph.octaveOffset = static_cast<int>(mean);
        if (bestError < kLockError) {
            alignLock_ = true;
        }
    } else {
        ph.offset = phrases_[index - 1].offset;
        ph.octaveOffset = phrases_[index - 1].octaveOffset;
    }
    ph.octaveOffset = RoundToOctave(ph.octaveOffset);

    if (!octaveLock_ && bestError < kLearnError && level > kLeastVocalLevel) {
        const int endEntry = std::min(ph.firstEntry + ph.entryCount, count_ - 1);
        learnDuration_ += Time(endEntry) - Time(ph.firstEntry);
        ++learnPhrases_;
        learnOffsetSum_ += ph.octaveOffset;
        if (learnDuration_ >= kLearnMs) {
            learnedOctave_ = RoundToOctave(learnOffsetSum_ / learnPhrases_);
            octaveLock_ = true;
        }
    }
}

int CNoteScorer::NoteWeight(int pitch) const {
    if (highest_ == lowest_) {
        return 1;  // every note at one pitch
    }
    return static_cast<int>(
        static_cast<float>(pitch - lowest_) / static_cast<float>(highest_ - lowest_) + 1.0f);
}

void CNoteScorer::SetRowPitch(int fromMs, int toMs, int sung) {
    if (rows_ == nullptr) {
        return;
    }
    const int first = std::max(0, CeilDiv(fromMs, hop_));
    const int last = std::min(rowCount_ - 1, CeilDiv(toMs, hop_) - 1);
    for (int row = first; row <= last; ++row) {
        rows_[row].notePitch = sung;
    }
}

void CNoteScorer::ScoreNotes(PhraseRecord& ph, int start) {
    const int f = frames_;
    const int octave = octaveLock_ ? learnedOctave_ : ph.octaveOffset;
    int s = std::max(ph.offset, 0);
    float weightTotal = 0.0f;
    float weighted = 0.0f;
    for (int j = ph.firstEntry; j < ph.firstEntry + ph.entryCount; ++j) {
        const bool last = j + 1 >= count_;
        if (Rest(j)) {
            s = last ? f : (Time(j + 1) - start) / hop_ + ph.offset;
            continue;
        }
        // A note is never the closing entry, so j + 1 exists.
        const int nominal = (Time(j + 1) - Time(j)) / hop_;
        const int e = std::min(f, (Time(j + 1) - start) / hop_ + ph.offset);
        const int expected = SaturatePitchCode(ph.octaveOffset + Pitch(j));

        // Onset: the voiced frame whose neighbourhood is nearest the expected
        // pitch. Then the stable run around it, kept inside the note.
        int runStart = s;
        int runLength = 0;
        if (s < e) {
            int onset = s;
            int bestCost = INT_MAX;
            for (int i = s + 1; i < e - 1; ++i) {
                if (!(voicing_[i] > kVoiced)) {
                    continue;
                }
                const int cost = std::abs(pitch_[i - 1] - expected) +
                                 std::abs(pitch_[i] - expected) +
                                 std::abs(pitch_[i + 1] - expected);
                if (cost < bestCost) {
                    bestCost = cost;
                    onset = i;
                    if (cost == 0) {
                        break;
                    }
                }
            }
            const int anchor = pitch_[onset];
            auto steady = [&](int i) {
                return voicing_[i] > kSustained && std::abs(pitch_[i] - anchor) <= kStableSpan;
            };
            // An onset frame without voice starts no run: a silent note adds
            // nothing to the stable frames.
            if (voicing_[onset] > kSustained) {
                int hi = onset + 1;
                while (hi < e && steady(hi)) {
                    ++hi;
                }
                int lo = onset;
                while (lo - 1 >= s && steady(lo - 1)) {
                    --lo;
                }
                runStart = lo;
                runLength = hi - lo;
                s = hi;
            }
        }

        float score = 0.0f;
        int sum = 0;
        int voiced = 0;
        for (int i = runStart; i < runStart + runLength; ++i) {
            if (voicing_[i] > kVoiced) {
                sum += pitch_[i];
                ++voiced;
            }
        }
        if (voiced > 0) {
            const int sung = SaturatePitchCode(sum / voiced - octave);
            SetRowPitch(Time(j), Time(j + 1), sung);
            score = GetNoteScore(std::abs(sung - Pitch(j)));
        }
        int weight = NoteWeight(Pitch(j));
        expectedFrames_ += nominal;
        stableFrames_ += runLength;
        if (runLength < kShortRun && runLength < 0.5f * nominal && nominal >= kLongNote) {
            weight = 1;
            score *= (100 - evaluation::kShortNotePenaltyPercent) / 100.0f;
        }
        weightTotal += static_cast<float>(weight);
        weighted += static_cast<float>(weight) * score;
        if (rows_ != nullptr) {
            const int row = CeilDiv(Time(j), hop_);
            if (row >= 0 && row < rowCount_) {
                rows_[row].noteScore = score;
            }
        }
        noteScores_[j] = score;
    }
    ph.weightSum = static_cast<int>(weightTotal);
    ph.weightedScoreSum = ph.vocalLevel > kLeastVocalLevel ? weighted : 0.0f;
}

float CNoteScorer::PitchScore() const {
    float weighted = 0.0f;
    long long weights = 0;
    for (const PhraseRecord& ph : phrases_) {
        if (ph.scored) {
            weighted += ph.weightedScoreSum;
            weights += ph.weightSum;
        }
    }
    return weights > 0 ? weighted / static_cast<float>(weights) : 0.0f;
}

int CNoteScorer::MeanOffset() const {
    if (phrases_.empty()) {
        return 0;
    }
    long long sum = 0;
    for (const PhraseRecord& ph : phrases_) {
        sum += ph.offset;
    }
    if (sum < 0) {
        return 0;
    }
    return static_cast<int>(static_cast<double>(sum) / phrases_.size() + 0.5);
}

float CNoteScorer::Stability() const {
    if (expectedFrames_ <= 0) {
        return 0.0f;
    }
    return static_cast<float>(stableFrames_) / static_cast<float>(expectedFrames_) * 100.0f;
}
