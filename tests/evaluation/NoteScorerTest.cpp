#include "evaluation/NoteScorer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "evaluation/PitchCode.h"
#include "evaluation/ScoringExports.h"

using evaluation::FrameRow;
using evaluation::HopRecord;
using evaluation::kNoPitch;
using evaluation::MakeMelodyEntry;
using evaluation::MelodyPitch;
using evaluation::MelodyTime;

namespace {

// Three phrases of eight 400 ms notes (a C major scale), 600 ms rests
// between them, starting at 1 s; the closing rest 100 ms after the last rest.
std::vector<MelodyEntry> ScaleMelody() {
    const int scale[] = {-36, -28, -20, -16, -8, 0, 8, 12};
    std::vector<MelodyEntry> m;
    int t = 1000;
    for (int phrase = 0; phrase < 3; ++phrase) {
        for (int code : scale) {
            m.push_back(MakeMelodyEntry(t, code));
            t += 400;
        }
        m.push_back(MakeMelodyEntry(t, kNoPitch));
        t += 600;
    }
    m.push_back(MakeMelodyEntry(t - 500, kNoPitch));
    return m;
}

int ReferenceAt(const std::vector<MelodyEntry>& m, int ms) {
    int code = kNoPitch;
    for (MelodyEntry e : m) {
        if (MelodyTime(e) <= ms) {
            code = MelodyPitch(e);
        }
    }
    return code;
}

struct Singer {
    int shift = 0;       // quarter tones
    int lateMs = 0;      // sings this much after the reference
    float level = 3000;  // envelope peak while singing
    bool silent = false;
};

// One hop record per 16 ms (record r stands for the hop at 16 r ms).
std::vector<HopRecord> Sing(const std::vector<MelodyEntry>& m, const Singer& s, int hops) {
    std::vector<HopRecord> out;
    float held = 65.406f;
    for (int r = 0; r < hops; ++r) {
        const int code = ReferenceAt(m, 16 * r - s.lateMs);
        HopRecord h;
        if (s.silent) {
            h = {65.406f, 0.0f, 0.0f};
        } else if (code == kNoPitch) {
            h = {held, 0.2f, 150.0f};  // breathing between phrases
        } else {
            held = static_cast<float>(evaluation::PitchCodeToHz(code + s.shift));
            h = {held, 0.95f, s.level};
        }
        out.push_back(h);
    }
    return out;
}

struct Result {
    float pitch;
    float stability;
    std::vector<evaluation::PhraseRecord> phrases;
    std::vector<float> scores;
};

Result Score(const std::vector<MelodyEntry>& m, const Singer& s) {
    std::vector<float> scores(m.size(), -1.0f);
    CNoteScorer scorer(m.data(), static_cast<int>(m.size()), 16.0f, 300.0f, scores.data());
    EXPECT_TRUE(scorer.Usable());
    const auto records = Sing(m, s, MelodyTime(m.back()) / 16 + 40);
    // Five records at a time, as the engine feeds them.
    for (size_t i = 0; i < records.size(); i += 5) {
        scorer.Feed(records.data() + i, static_cast<int>(std::min<size_t>(5, records.size() - i)));
    }
    EXPECT_TRUE(scorer.Done());
    return {scorer.PitchScore(), scorer.Stability(), scorer.Phrases(), scores};
}

}  // namespace

TEST(CNoteScorer, SegmentsTheScaleIntoThreePhrases) {
    const auto m = ScaleMelody();
    std::vector<float> scores(m.size(), -1.0f);
    CNoteScorer scorer(m.data(), static_cast<int>(m.size()), 16.0f, 300.0f, scores.data());
    ASSERT_EQ(scorer.Phrases().size(), 3u);
    EXPECT_EQ(scorer.PhraseStart(0), 1000);
    EXPECT_EQ(scorer.PhraseEnd(0), 4800);
    EXPECT_EQ(scorer.PhraseStart(2), 8600);
    EXPECT_EQ(scorer.PhraseEnd(2), MelodyTime(m.back()));
    EXPECT_EQ(scorer.Phrases()[0].entryCount, 8);   // the rest ends it, not in it
    EXPECT_EQ(scorer.Phrases()[2].entryCount, 10);  // the last takes its rests
    EXPECT_EQ(scorer.Phrases()[2].splitFlag, 1);
}

TEST(CNoteScorer, SingersFedAsHopRecords) {
    const auto m = ScaleMelody();
    const float onPitch = Score(m, {}).pitch;
    EXPECT_GE(onPitch, 99.0f);
    EXPECT_LE(onPitch, 100.0f);

    // An octave low: each phrase learns -48 and scores as the reference
    // (up to the truncation of negative averages toward zero).
    const Result low = Score(m, {.shift = -48});
    EXPECT_NEAR(low.pitch, onPitch, 0.5f);
    for (const auto& ph : low.phrases) {
        EXPECT_EQ(ph.octaveOffset, -48);
    }

    // Sharp singers score lower in order, near the curve's 93.3 and 75.
    const float sharp2 = Score(m, {.shift = 2}).pitch;
    const float sharp4 = Score(m, {.shift = 4}).pitch;
    EXPECT_LT(sharp2, onPitch - 3.0f);
    EXPECT_GT(sharp2, 92.0f);
    EXPECT_LT(sharp4, sharp2 - 10.0f);
    EXPECT_GT(sharp4, 74.0f);
    EXPECT_LT(sharp4, 85.4f);

    // Too quiet (level 600 < 700) or silent: 0, each phrase still weighs.
    const Result quiet = Score(m, {.level = 600.0f});
    EXPECT_EQ(quiet.pitch, 0.0f);
    for (const auto& ph : quiet.phrases) {
        EXPECT_GT(ph.weightSum, 0);
        EXPECT_EQ(ph.weightedScoreSum, 0.0f);
    }
    EXPECT_EQ(Score(m, {.silent = true}).pitch, 0.0f);
    EXPECT_EQ(Score(m, {.silent = true}).stability, 0.0f);
}

TEST(CNoteScorer, ALateSingerIsAlignedByTheOffset) {
    const auto m = ScaleMelody();
    const Result late = Score(m, {.lateMs = 300});
    for (const auto& ph : late.phrases) {
        EXPECT_GE(ph.offset, 15);
        EXPECT_LE(ph.offset, 18);
    }
    EXPECT_GE(late.pitch, 99.0f);
}

TEST(CNoteScorer, StableRunStopsAtTheNoteEnd) {
    // A scale sung perfectly: with the run bounded by each note's end,
    // stability stays near 100 and never swallows the next notes.
    const auto m = ScaleMelody();
    const Result r = Score(m, {});
    EXPECT_GT(r.stability, 90.0f);
    EXPECT_LE(r.stability, 101.0f);
    for (size_t j = 0; j + 1 < m.size(); ++j) {
        if (MelodyPitch(m[j]) == kNoPitch) {
            EXPECT_EQ(r.scores[j], -1.0f) << j;
        } else {
            EXPECT_GE(r.scores[j], 90.0f) << j;
        }
    }
}

TEST(CNoteScorer, ShortRunOnALongNoteIsPenalized) {
    // One note of 50 hops of which only 5 are sung: 60 % of its score.
    const std::vector<MelodyEntry> m = {MakeMelodyEntry(0, 0), MakeMelodyEntry(800, kNoPitch),
                                        MakeMelodyEntry(2000, kNoPitch)};
    std::vector<float> scores(m.size(), -1.0f);
    CNoteScorer scorer(m.data(), 3, 16.0f, 300.0f, scores.data());
    std::vector<HopRecord> records(140, HopRecord{440.0f, 0.0f, 2000.0f});
    for (int r = 10; r < 15; ++r) {
        records[r].voicing = 0.95f;
    }
    scorer.Feed(records.data(), static_cast<int>(records.size()));
    ASSERT_TRUE(scorer.Done());
    EXPECT_FLOAT_EQ(scores[0], 60.0f);
    EXPECT_EQ(scorer.Phrases()[0].weightSum, 1);
    EXPECT_EQ(scorer.StableFrames(), 5);
    EXPECT_EQ(scorer.ExpectedFrames(), 50);
}

TEST(CNoteScorer, LongPhraseIsCutIntoPieces) {
    // A 25 s phrase of 500 ms notes between two rests: three pieces.
    std::vector<MelodyEntry> m = {MakeMelodyEntry(0, kNoPitch)};
    for (int t = 1000; t < 26000; t += 500) {
        m.push_back(MakeMelodyEntry(t, (t / 500) % 2 ? 0 : 8));
    }
    m.push_back(MakeMelodyEntry(26000, kNoPitch));
    m.push_back(MakeMelodyEntry(27000, 0));
    m.push_back(MakeMelodyEntry(27500, kNoPitch));
    m.push_back(MakeMelodyEntry(27600, kNoPitch));
    std::vector<float> scores(m.size(), -1.0f);
    CNoteScorer scorer(m.data(), static_cast<int>(m.size()), 16.0f, 300.0f, scores.data());
    ASSERT_EQ(scorer.Phrases().size(), 4u);
    EXPECT_EQ(scorer.PhraseStart(0), 1000);
    EXPECT_EQ(scorer.Phrases()[2].splitFlag, 1);
    for (int p = 0; p < 3; ++p) {
        EXPECT_LE(scorer.PhraseEnd(p) - scorer.PhraseStart(p), 10000) << p;
    }
    EXPECT_EQ(scorer.PhraseStart(3), 27000);

    // Breaks need a rest of at least 100 ms after more than 2 s of phrase.
    const std::vector<MelodyEntry> noBreak = {
        MakeMelodyEntry(0, 0),           MakeMelodyEntry(2500, kNoPitch),  // 90 ms rest
        MakeMelodyEntry(2590, 0),        MakeMelodyEntry(3000, kNoPitch), MakeMelodyEntry(3500, 4),
        MakeMelodyEntry(4000, kNoPitch), MakeMelodyEntry(4100, kNoPitch)};
    CNoteScorer one(noBreak.data(), static_cast<int>(noBreak.size()), 16.0f, 300.0f, scores.data());
    ASSERT_EQ(one.Phrases().size(), 2u);
    EXPECT_EQ(one.PhraseStart(1), 3500);
}

TEST(CNoteScorer, MelodyOfRestsOnlyScoresZero) {
    const std::vector<MelodyEntry> m = {MakeMelodyEntry(0, kNoPitch),
                                        MakeMelodyEntry(1000, kNoPitch),
                                        MakeMelodyEntry(1100, kNoPitch)};
    std::vector<float> scores(m.size(), -1.0f);
    std::vector<FrameRow> rows(100);
    CNoteScorer scorer(m.data(), 3, 16.0f, 300.0f, scores.data(), rows.data(), 100);
    ASSERT_TRUE(scorer.Usable());
    EXPECT_TRUE(scorer.Phrases().empty());
    std::vector<HopRecord> records(200, HopRecord{440.0f, 0.95f, 3000.0f});
    scorer.Feed(records.data(), 200);
    EXPECT_EQ(scorer.PitchScore(), 0.0f);
    EXPECT_EQ(scorer.MeanOffset(), 0);
    EXPECT_EQ(scorer.Stability(), 0.0f);
}

TEST(CNoteScorer, MarksAndNotePitchesInTheFrameTable) {
    const auto m = ScaleMelody();
    std::vector<float> scores(m.size(), -1.0f);
    const int rowCount = MelodyTime(m.back()) / 16 + 200;
    std::vector<FrameRow> rows(rowCount);
    CNoteScorer scorer(m.data(), static_cast<int>(m.size()), 16.0f, 300.0f, scores.data(),
                       rows.data(), rowCount);
    // First note 1000-1400 ms: start row ceil(1000/16) = 63, end row 87.
    EXPECT_EQ(rows[63].mark, evaluation::kNoteStart);
    EXPECT_EQ(rows[87].mark, evaluation::kNoteEnd);
    EXPECT_EQ(rows[62].mark, evaluation::kNoMark);
    const auto records = Sing(m, {.shift = -48}, rowCount);
    scorer.Feed(records.data(), rowCount);
    // The note pitch is octave-corrected back to the reference.
    EXPECT_EQ(rows[70].notePitch, -36);
    EXPECT_GE(rows[63].noteScore, 90.0f);
    EXPECT_EQ(scorer.MeanOffset(), 0);
}

TEST(CNoteScorer, SettersDuringAPerformanceChangeLaterNotes) {
    const auto m = ScaleMelody();
    std::vector<float> scores(m.size(), -1.0f);
    SetScoreFunction(0);  // reset by the scorer's construction
    CNoteScorer scorer(m.data(), static_cast<int>(m.size()), 16.0f, 300.0f, scores.data());
    const auto records = Sing(m, {.shift = 2}, MelodyTime(m.back()) / 16 + 40);
    scorer.Feed(records.data(), 300);  // the first phrase (ends at 4800 ms)
    SetScoreFunction(0);
    SetLinearScoringParam(0, 25);
    scorer.Feed(records.data() + 300, static_cast<int>(records.size()) - 300);
    EXPECT_NEAR(scores[0], 93.3f, 0.5f);   // symmetric default
    EXPECT_NEAR(scores[10], 50.0f, 0.5f);  // linear: 2 quarter tones sharp
    SetScoreFunction(2);
    SetLinearScoringParam(0, 25);
}
