#include "evaluation/ScoreEngine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "dsp/PitchShifter.h"
#include "evaluation/PitchCode.h"

using evaluation::FrameRow;
using evaluation::kNoPitch;

namespace evaluation {

int FrameTableRows(int lastMs) {
    const long long samples = static_cast<long long>(lastMs) * kEvalRate / 1000;
    return static_cast<int>(samples / kEvalHop) + 200;
}

}  // namespace evaluation

// ---------------------------------------------------------------------------
// CPitchEvaluator

int CPitchEvaluator::Init(const MelodyEntry* melody, int count, int channels, float* noteScores) {
    if (channels != 1 && channels != 2) {
        return evaluation::kEvalBadChannels;
    }
    channels_ = channels;
    if (melody == nullptr || count <= 0) {
        return evaluation::kEvalEmptyMelody;
    }
    melody_ = melody;
    count_ = count;
    rowCount_ = evaluation::FrameTableRows(evaluation::MelodyTime(melody[count - 1]));
    rows_.reset(new (std::nothrow) FrameRow[rowCount_]);
    if (rows_ == nullptr) {
        return evaluation::kEvalNoMemory;
    }
    detector_.reset(new (std::nothrow) CPitchDetector(16.0f, 32768.0f, evaluation::kEvalRate,
                                                      CPitchDetector::kDefaultOptions));
    if (detector_ == nullptr || !detector_->Usable()) {
        return evaluation::kEvalNoMemory;
    }
    scorer_.reset(new (std::nothrow) CNoteScorer(melody, count, 16.0f, 300.0f, noteScores,
                                                 rows_.get(), rowCount_));
    if (scorer_ == nullptr || !scorer_->Usable()) {
        // A melody of rests only gives the scorer nothing to score.
        return scorer_ == nullptr ? evaluation::kEvalNoMemory : evaluation::kEvalEmptyMelody;
    }
    return evaluation::kEvalOk;
}

void CPitchEvaluator::AdvanceReference() {
    elapsed_ += evaluation::kBlockMs;
    if (current_ >= count_) {
        // Two entries sharing the last time were consumed together: the
        // walk is over and must not read past the melody.
        reference_ = kNoPitch;
        return;
    }
    const int d = evaluation::MelodyTime(melody_[current_]);
    if (d > elapsed_) {
        return;
    }
    if (next_ < count_) {
        if (d < evaluation::MelodyTime(melody_[next_])) {
            reference_ = evaluation::MelodyPitch(melody_[current_]);
            current_ += 1;
            next_ += 1;
        } else {
            reference_ = evaluation::MelodyPitch(melody_[next_]);
            current_ += 2;
            next_ += 2;
        }
    } else {
        reference_ = kNoPitch;
    }
}

int CPitchEvaluator::LivePitch(float hz, float peak) {
    int next = kNoPitch;
    if (reference_ == kNoPitch) {
        for (int i = current_; i < count_; ++i) {
            if (!evaluation::IsRest(melody_[i])) {
                next = evaluation::MelodyPitch(melody_[i]);
                break;
            }
        }
    }
    return live_.Next(evaluation::HopPitchCode(hz), reference_, next, peak);
}

int CPitchEvaluator::ProcessHop(const short* hop) {
    if (hops_ >= rowCount_ || detector_ == nullptr) {
        return kNoPitch;
    }
    for (int i = 0; i < evaluation::kEvalHop; ++i) {
        input_[i] = static_cast<float>(hop[i * channels_]);
    }
    float hz = 0;
    float voicing = 0;
    detector_->ProcessHop(input_, hz, voicing);
    const float peak = detector_->EnvelopePeak();
    const int p = hops_ % 5;
    blockHz_[p] = hz;
    blockVoicing_[p] = voicing;
    blockPeak_[p] = peak;
    if (p == 4) {
        const std::span<const int> path = detector_->BlockPath();
        evaluation::HopRecord records[5];
        for (int j = 0; j < 5; ++j) {
            if (j < static_cast<int>(path.size())) {
                blockHz_[j] = detector_->CandidateFrequency(path[j]);
            }
            FrameRow& row = rows_[hops_ - 4 + j];
            row.reference = reference_;
            AdvanceReference();
            row.sung = evaluation::HopPitchCode(blockHz_[j]);
            records[j] = evaluation::HopRecord{blockHz_[j], blockVoicing_[j], blockPeak_[j]};
        }
        scorer_->Feed(records, 5);
    }
    ++hops_;
    return LivePitch(hz, peak);
}

// ---------------------------------------------------------------------------
// CEvaluationEngine

CEvaluationEngine::CEvaluationEngine() = default;

CEvaluationEngine::~CEvaluationEngine() {
    Release();
}

void CEvaluationEngine::Release() {
    started_ = false;
    evaluator_.reset();
    tracker_.reset();
    down_.reset();
    up_.reset();
    up2_.reset();
    buffers_.reset();
    noteScores_.reset();
    hop16_ = voice16_ = effect16_ = nullptr;
    planar_[0] = planar_[1] = planarFx_[0] = planarFx_[1] = nullptr;
    upOut_ = up2Out_ = nullptr;
    melody_ = nullptr;
    count_ = 0;
}

void CEvaluationEngine::SetEffects(bool echo, bool reverb) {
    echo_.store(echo);
    reverb_.store(reverb);
    effects_.SetEchoOn(echo);
    effects_.SetReverbOn(reverb);
}

namespace {

SrcWaveFormat PcmFormat(int rate, int channels) {
    SrcWaveFormat f;
    f.formatTag = 1;
    f.channels = static_cast<uint16_t>(channels);
    f.samplesPerSec = static_cast<uint32_t>(rate);
    f.blockAlign = static_cast<uint16_t>(2 * channels);
    f.avgBytesPerSec = f.samplesPerSec * f.blockAlign;
    f.bitsPerSample = 16;
    return f;
}

// Copies the frames the converter just appended (from offset `from`) out
// of its ring into out, zero-filling what it did not produce.
void TakeFromRing(const SrcOutputRing& ring, int from, int frames, int wanted, int frameBytes,
                  std::uint8_t* out) {
    int copied = 0;
    int offset = from;
    const int bytes = std::min(frames, wanted) * frameBytes;
    while (copied < bytes) {
        const int n = std::min(bytes - copied, ring.size - offset);
        std::memcpy(out + copied, ring.buffer + offset, static_cast<std::size_t>(n));
        copied += n;
        offset = (offset + n) % ring.size;
    }
    if (copied < wanted * frameBytes) {
        std::memset(out + copied, 0, static_cast<std::size_t>(wanted * frameBytes - copied));
    }
}

short Saturate(float v) {
    if (v > 32767.0f) {
        return 32767;
    }
    if (v < -32768.0f) {
        return -32768;
    }
    return static_cast<short>(v);
}

}  // namespace

int CEvaluationEngine::Init(const MelodyEntry* melody, int count, int sampleRate, int channels) {
    Release();
    if (sampleRate != 16000 && sampleRate != 48000) {
        return evaluation::kEvalBadRate;
    }
    if (channels != 1 && channels != 2) {
        return evaluation::kEvalBadChannels;
    }
    if (melody == nullptr || count <= 0 || std::none_of(melody, melody + count, [](MelodyEntry e) {
            return !evaluation::IsRest(e);
        })) {
        return evaluation::kEvalEmptyMelody;  // rests only: nothing to sing or score
    }
    rate_ = sampleRate;
    channels_ = channels;
    const int frame = 2 * channels;
    // One block holds every work buffer: the 16 kHz hop, the effected voice
    // and effect, the planar floats, and the three converter rings.
    const std::size_t hopBytes = static_cast<std::size_t>(evaluation::kEvalHop) * frame;
    const std::size_t captureBytes = static_cast<std::size_t>(evaluation::kCaptureHop) * frame;
    const std::size_t floatBytes = sizeof(float) * evaluation::kEvalHop;
    const std::size_t total = 3 * hopBytes + 4 * floatBytes + hopBytes + 4 * captureBytes;
    buffers_.reset(new (std::nothrow) std::uint8_t[total]());
    if (buffers_ == nullptr) {
        Release();
        return evaluation::kEvalNoMemory;
    }
    std::uint8_t* at = buffers_.get();
    auto take = [&at](std::size_t n) {
        std::uint8_t* p = at;
        at += n;
        return p;
    };
    planar_[0] = reinterpret_cast<float*>(take(floatBytes));
    planar_[1] = reinterpret_cast<float*>(take(floatBytes));
    planarFx_[0] = reinterpret_cast<float*>(take(floatBytes));
    planarFx_[1] = reinterpret_cast<float*>(take(floatBytes));
    hop16_ = reinterpret_cast<short*>(take(hopBytes));
    voice16_ = reinterpret_cast<short*>(take(hopBytes));
    effect16_ = reinterpret_cast<short*>(take(hopBytes));
    std::uint8_t* downBuffer = take(hopBytes);
    std::uint8_t* upBuffer = take(captureBytes);
    std::uint8_t* up2Buffer = take(captureBytes);
    upOut_ = take(captureBytes);
    up2Out_ = take(captureBytes);

    if (sampleRate == 48000) {
        downRing_ = SrcOutputRing{downBuffer, static_cast<int>(hopBytes), 0,
                                  PcmFormat(evaluation::kEvalRate, channels)};
        upRing_ =
            SrcOutputRing{upBuffer, static_cast<int>(captureBytes), 0, PcmFormat(48000, channels)};
        up2Ring_ =
            SrcOutputRing{up2Buffer, static_cast<int>(captureBytes), 0, PcmFormat(48000, channels)};
        down_.reset(new (std::nothrow) CSampleRateConverter());
        up_.reset(new (std::nothrow) CSampleRateConverter());
        up2_.reset(new (std::nothrow) CSampleRateConverter());
        if (down_ == nullptr || up_ == nullptr || up2_ == nullptr ||
            down_->Init({&downRing_, PcmFormat(48000, channels), 0}) != 0 ||
            up_->Init({&upRing_, PcmFormat(evaluation::kEvalRate, channels), 0}) != 0 ||
            up2_->Init({&up2Ring_, PcmFormat(evaluation::kEvalRate, channels), 0}) != 0) {
            Release();
            return evaluation::kEvalNoMemory;
        }
    }
    noteScores_.reset(new (std::nothrow) float[count]);
    evaluator_.reset(new (std::nothrow) CPitchEvaluator());
    if (noteScores_ == nullptr || evaluator_ == nullptr) {
        Release();
        return evaluation::kEvalNoMemory;
    }
    std::fill(noteScores_.get(), noteScores_.get() + count, -1.0f);
    const int result = evaluator_->Init(melody, count, channels, noteScores_.get());
    if (result != evaluation::kEvalOk) {
        Release();
        return result;
    }
    tracker_.reset(new (std::nothrow) CVocalFeatureTracker(
        channels, static_cast<long long>(evaluator_->Rows()) * evaluation::kEvalHop));
    if (tracker_ == nullptr || !tracker_->Usable()) {
        Release();
        return evaluation::kEvalNoMemory;
    }
    effects_.Configure(evaluation::kEvalRate, channels);
    effects_.SetEchoOn(echo_.load());
    effects_.SetReverbOn(reverb_.load());
    melody_ = melody;
    count_ = count;
    lastPitchScore_ = 0;
    lastMeanOffset_ = 0;
    lastReport_ = evaluation::FeatureReport{};
    lastPhrases_.clear();
    lastTable_.clear();
    started_ = true;
    return evaluation::kEvalOk;
}

void CEvaluationEngine::Effects(short* output, short* output2) {
    const int n = evaluation::kEvalHop;
    for (int c = 0; c < channels_; ++c) {
        for (int i = 0; i < n; ++i) {
            planar_[c][i] = static_cast<float>(hop16_[i * channels_ + c]);
        }
    }
    if (output2 != nullptr) {
        effects_.Process(planar_, planarFx_, n);
    } else {
        effects_.Process(planar_, n);
    }
    for (int c = 0; c < channels_; ++c) {
        for (int i = 0; i < n; ++i) {
            voice16_[i * channels_ + c] = Saturate(planar_[c][i]);
            if (output2 != nullptr) {
                effect16_[i * channels_ + c] = Saturate(planarFx_[c][i]);
            }
        }
    }
    const int frame = 2 * channels_;
    if (rate_ == 48000) {
        int from = upRing_.writeOffset;
        up_->Convert(voice16_, n);
        TakeFromRing(upRing_, from, up_->LastOutputFrames(), evaluation::kCaptureHop, frame,
                     upOut_);
        std::memcpy(output, upOut_, static_cast<std::size_t>(evaluation::kCaptureHop) * frame);
        if (output2 != nullptr) {
            from = up2Ring_.writeOffset;
            up2_->Convert(effect16_, n);
            TakeFromRing(up2Ring_, from, up2_->LastOutputFrames(), evaluation::kCaptureHop, frame,
                         up2Out_);
            std::memcpy(output2, up2Out_,
                        static_cast<std::size_t>(evaluation::kCaptureHop) * frame);
        }
    } else {
        std::memcpy(output, voice16_, static_cast<std::size_t>(n) * frame);
        if (output2 != nullptr) {
            std::memcpy(output2, effect16_, static_cast<std::size_t>(n) * frame);
        }
    }
}

int CEvaluationEngine::ProcessBlock(const short* input, short* output, int frames, int& livePitch,
                                    unsigned& event, int& level, short* output2) {
    if (!started_) {
        return evaluation::kEvalNotStarted;
    }
    const int expected = rate_ == 48000 ? evaluation::kCaptureHop : evaluation::kEvalHop;
    if (frames != expected || input == nullptr || output == nullptr) {
        return evaluation::kEvalBadBlock;
    }
    const int frame = 2 * channels_;
    if (rate_ == 48000) {
        const int from = downRing_.writeOffset;
        down_->Convert(input, frames);
        TakeFromRing(downRing_, from, down_->LastOutputFrames(), evaluation::kEvalHop, frame,
                     reinterpret_cast<std::uint8_t*>(hop16_));
    } else {
        std::memcpy(hop16_, input, static_cast<std::size_t>(frames) * frame);
    }
    livePitch = evaluator_->ProcessHop(hop16_);
    event = evaluation::kEventNone;
    tracker_->ProcessBlock(hop16_, event);

    if (echo_.load(std::memory_order_relaxed) || reverb_.load(std::memory_order_relaxed)) {
        Effects(output, output2);
    } else if (output != input) {
        std::memmove(output, input, static_cast<std::size_t>(frames) * frame);
    }
    int peak = 0;
    const int samples = frames * channels_;
    for (int i = 0; i < samples; ++i) {
        peak = std::max(peak, std::abs(static_cast<int>(output[i])));
    }
    level = static_cast<int>(static_cast<float>(peak) / 327.68f + 0.5f);
    return evaluation::kEvalOk;
}

std::vector<evaluation::PhraseScore> CEvaluationEngine::PhraseScores() const {
    std::vector<evaluation::PhraseScore> out;
    const CNoteScorer* scorer = evaluator_->Scorer();
    const auto& phrases = scorer->Phrases();
    const int n = static_cast<int>(phrases.size());
    auto score = [](const evaluation::PhraseRecord& p) {
        return p.weightSum != 0 ? p.weightedScoreSum / static_cast<float>(p.weightSum) : 0.0f;
    };
    const int lastTime = evaluation::MelodyTime(melody_[count_ - 1]);
    for (int p = 0; p + 1 < n; ++p) {
        const int next = phrases[p + 1].firstEntry;
        evaluation::PhraseScore line;
        line.startMs = evaluation::MelodyTime(melody_[phrases[p].firstEntry]);
        line.endMs = next > 0 && evaluation::IsRest(melody_[next - 1])
                         ? evaluation::MelodyTime(melody_[next - 1])
                         : evaluation::MelodyTime(melody_[next]);
        line.score = score(phrases[p]);
        out.push_back(line);
    }
    evaluation::PhraseScore last;
    last.startMs = out.empty() ? 0 : out.back().endMs;
    last.endMs = lastTime;
    last.score = n > 0 ? score(phrases[n - 1]) : 0.0f;
    out.push_back(last);
    return out;
}

int CEvaluationEngine::Finish(std::wstring_view pitchDataPath, std::wstring_view scorePath,
                              std::wstring_view featurePath) {
    if (!started_) {
        Release();
        return evaluation::kEvalNotStarted;
    }
    const CNoteScorer* scorer = evaluator_->Scorer();
    const float pitchScore = scorer->PitchScore();
    const int offset = scorer->MeanOffset();
    const int rows = evaluator_->Rows();
    lastTable_.assign(evaluator_->Table(), evaluator_->Table() + rows);
    lastMeanOffset_ = offset;
    lastPhrases_ = PhraseScores();
    lastPitchScore_ = pitchScore;

    bool ok = true;
    const bool pitchWritten =
        !pitchDataPath.empty() &&
        evaluation::WriteScoreFile(pitchDataPath,
                                   evaluation::PitchDataText(evaluator_->Table(), rows, offset));
    const bool scoreWritten =
        !scorePath.empty() &&
        evaluation::WriteScoreFile(scorePath, evaluation::ScoreText(pitchScore, lastPhrases_));
    ok = pitchWritten && scoreWritten;
    // Without its two files the pitch score does not count in the report.
    const float reported = ok ? pitchScore : 0.0f;
    if (tracker_->Finish(melody_, noteScores_.get(), count_, reported, scorer->Stability(),
                         lastReport_) != 0) {
        ok = false;
    } else if (featurePath.empty() || !evaluation::WriteScoreFile(
                                          featurePath, evaluation::FeatureTrackText(lastReport_))) {
        ok = false;
    }
    Release();
    return ok ? evaluation::kEvalOk : evaluation::kEvalWriteFailed;
}

// ---------------------------------------------------------------------------
// ScoreEngine

ScoreEngine::ScoreEngine() = default;
ScoreEngine::~ScoreEngine() = default;

bool ScoreEngine::Start(std::wstring_view) {
    CMelody& melody = melody_ != nullptr ? *melody_ : GetMelody();
    const std::vector<MelodyEntry>& entries = melody.ShiftedEntries();
    std::int64_t duration = clock_ != nullptr ? clock_->DurationMs() : 0;
    return Start(entries.data(), static_cast<int>(entries.size()), duration);
}

bool ScoreEngine::Start(const MelodyEntry* melody, int count, std::int64_t durationMs,
                        int sampleRate, int channels) {
    std::lock_guard<std::mutex> guard(storageMutex_);
    // The previous performance's live data goes first, whatever happens
    // next: a failed start must not leave the last song on show.
    timelineCount_.store(0, std::memory_order_release);
    eventCount_.store(0, std::memory_order_release);
    volumeCount_.store(0, std::memory_order_release);
    currentIndex_.store(-1, std::memory_order_release);
    currentTime_.store(0, std::memory_order_relaxed);
    blocks_.store(0, std::memory_order_relaxed);
    engine_.Release();
    melodyCopy_.reset();
    melodyCount_ = 0;
    if (melody == nullptr || count <= 0) {
        return false;
    }
    melodyCopy_.reset(new (std::nothrow) MelodyEntry[count]);
    if (melodyCopy_ == nullptr) {
        return false;
    }
    std::copy(melody, melody + count, melodyCopy_.get());
    melodyCount_ = count;

    const int lastMs = evaluation::MelodyTime(melody[count - 1]);
    if (durationMs <= 0) {
        durationMs = lastMs;
    }
    const int items =
        static_cast<int>((durationMs + evaluation::kBlockMs - 1) / evaluation::kBlockMs);
    const int capacity = std::max(items, evaluation::FrameTableRows(lastMs)) + 256;
    try {
        if (items > timelineCapacity_) {
            timelineTimes_.reset(new int[items]);
            timelineReference_.reset(new int[items]);
            timelineSung_.reset(new std::atomic<int>[items]);
            timelineCapacity_ = items;
        }
        if (capacity > itemCapacity_) {
            events_.reset(new evaluation::EventItem[capacity]);
            volume_.reset(new evaluation::VolumePoint[capacity]);
            itemCapacity_ = capacity;
        }
    } catch (const std::bad_alloc&) {
        timelineCapacity_ = itemCapacity_ = 0;
        timelineTimes_.reset();
        timelineReference_.reset();
        timelineSung_.reset();
        events_.reset();
        volume_.reset();
        melodyCopy_.reset();
        melodyCount_ = 0;
        return false;
    }
    // Reference of item t: the first entry i with t_i - 16 <= t < t_(i+1) - 16.
    int entry = 0;
    const int first = evaluation::MelodyTime(melody[0]);
    for (int k = 0; k < items; ++k) {
        const int t = k * evaluation::kBlockMs;
        while (entry + 1 < count && t >= evaluation::MelodyTime(melody[entry + 1]) - 16) {
            ++entry;
        }
        int reference = kNoPitch;
        if (t >= first && entry + 1 < count && evaluation::MelodyTime(melody[entry]) - 16 <= t) {
            reference = evaluation::MelodyPitch(melody[entry]);
        }
        timelineTimes_[k] = t;
        timelineReference_[k] = reference;
        timelineSung_[k].store(kNoPitch, std::memory_order_relaxed);
    }
    timelineCount_.store(items, std::memory_order_release);

    engine_.SetEffects(echoOn_.load(), reverbOn_.load());
    if (engine_.Init(melodyCopy_.get(), count, sampleRate, channels) != evaluation::kEvalOk) {
        melodyCopy_.reset();
        melodyCount_ = 0;
        return false;
    }
    return true;
}

void ScoreEngine::ProcessBlock(const short* input, short* output, int frames, short* output2) {
    int live = kNoPitch;
    unsigned event = evaluation::kEventNone;
    int level = 0;
    if (engine_.ProcessBlock(input, output, frames, live, event, level, output2) != 0) {
        return;  // unscored: the voice stays as it came, nothing is recorded
    }
    blocks_.fetch_add(1, std::memory_order_relaxed);
    int now = currentTime_.load(std::memory_order_relaxed);
    if (clock_ != nullptr) {
        const std::int64_t position = clock_->PositionMs();
        while (position > now) {
            now += evaluation::kBlockMs;
        }
    }
    const int index = now / evaluation::kBlockMs;
    if (index >= 0 && index < timelineCount_.load(std::memory_order_relaxed)) {
        timelineSung_[index].store(live, std::memory_order_relaxed);
    }
    currentIndex_.store(index, std::memory_order_release);
    if (event == evaluation::kEventUpPortamento || event == evaluation::kEventDownPortamento ||
        event == evaluation::kEventVibrato) {
        AppendEvent(now > evaluation::kEventDelayMs ? now - evaluation::kEventDelayMs : now,
                    static_cast<int>(event));
    }
    currentTime_.store(now, std::memory_order_relaxed);
    AppendVolume(level);
    currentTime_.store(now + evaluation::kBlockMs, std::memory_order_relaxed);
}

void ScoreEngine::AppendEvent(int timeMs, int type) {
    const int n = eventCount_.load(std::memory_order_relaxed);
    if (n >= itemCapacity_) {
        return;
    }
    events_[n] = evaluation::EventItem{timeMs, type};
    eventCount_.store(n + 1, std::memory_order_release);
}

void ScoreEngine::AppendVolume(int level) {
    const int n = volumeCount_.load(std::memory_order_relaxed);
    if (n >= itemCapacity_) {
        return;
    }
    int v = level;
    if (n >= 5) {
        // The level with the 2nd to 5th newest values, summed as integers.
        int sum = level;
        for (int back = 2; back <= 5; ++back) {
            sum = static_cast<int>(static_cast<float>(sum) + volume_[n - back].level);
        }
        v = sum / 5;
    }
    volume_[n] = evaluation::VolumePoint{currentTime_.load(std::memory_order_relaxed),
                                         static_cast<float>(v)};
    volumeCount_.store(n + 1, std::memory_order_release);
}

bool ScoreEngine::SaveResults(std::wstring_view folder) {
    std::wstring base(folder);
    if (!base.empty() && base.back() != L'/') {
        base += L'/';
    }
    const int finished =
        engine_.Finish(base + evaluation::kPitchDataFile, base + evaluation::kScoreFile,
                       base + evaluation::kFeatureTrackFile);
    melodyCopy_.reset();
    melodyCount_ = 0;
    if (finished != evaluation::kEvalOk) {
        return false;
    }
    const int items = TimelineCount();
    std::vector<evaluation::LivePitchPoint> timeline(static_cast<std::size_t>(items));
    for (int k = 0; k < items; ++k) {
        timeline[k] = evaluation::LivePitchPoint{timelineTimes_[k],
                                                 timelineSung_[k].load(std::memory_order_relaxed)};
    }
    bool ok = evaluation::WriteScoreFile(
        base + evaluation::kPitchData2File,
        evaluation::PitchData2Text(timeline.data(), static_cast<int>(timeline.size())));
    ok = evaluation::WriteScoreFile(base + evaluation::kVolumeDataFile,
                                    evaluation::VolumeDataText(volume_.get(), VolumeCount())) &&
         ok;
    ok = evaluation::WriteScoreFile(base + evaluation::kMaxFeatureCountFile,
                                    evaluation::MaxFeatureCountText(EventCount())) &&
         ok;
    return ok;
}

void ScoreEngine::SetKey(int semitones) {
    semitones = std::clamp(semitones, -CMelody::kMaxKey, CMelody::kMaxKey);
    key_.store(semitones);
    CMelody& melody = melody_ != nullptr ? *melody_ : GetMelody();
    melody.SetKey(semitones);
}

void ScoreEngine::ApplyKey() {
    ::ApplyKey(key_.load());
}

void ScoreEngine::SetEchoOn(bool on) {
    echoOn_.store(on);
    engine_.SetEffects(echoOn_.load(), reverbOn_.load());
}

void ScoreEngine::SetReverbOn(bool on) {
    reverbOn_.store(on);
    engine_.SetEffects(echoOn_.load(), reverbOn_.load());
}

evaluation::TimelineItem ScoreEngine::TimelineAt(int i) const {
    std::lock_guard<std::mutex> guard(storageMutex_);
    if (i < 0 || i >= timelineCount_.load(std::memory_order_acquire)) {
        return {};
    }
    return {timelineTimes_[i], timelineReference_[i],
            timelineSung_[i].load(std::memory_order_relaxed)};
}

evaluation::EventItem ScoreEngine::EventAt(int i) const {
    std::lock_guard<std::mutex> guard(storageMutex_);
    if (i < 0 || i >= eventCount_.load(std::memory_order_acquire)) {
        return {};
    }
    return events_[i];
}

evaluation::VolumePoint ScoreEngine::VolumeAt(int i) const {
    std::lock_guard<std::mutex> guard(storageMutex_);
    if (i < 0 || i >= volumeCount_.load(std::memory_order_acquire)) {
        return {};
    }
    return volume_[i];
}

float ScoreEngine::NewestVolume() const {
    const int n = VolumeCount();
    return n > 0 ? VolumeAt(n - 1).level : 0.0f;
}

CMelody& GetMelody() {
    static CMelody melody;
    return melody;
}

ScoreEngine& GetScoreEngine() {
    static ScoreEngine engine;
    return engine;
}

int EvalInit(const MelodyEntry* melody, int count, int sampleRate, int channels) {
    return GetScoreEngine().MutableEngine().Init(melody, count, sampleRate, channels);
}

int EvalProcessBlock(const short* input, short* output, int frames, int& livePitch, unsigned& event,
                     int& level, short* output2) {
    return GetScoreEngine().MutableEngine().ProcessBlock(input, output, frames, livePitch, event,
                                                         level, output2);
}

int EvalFinish(std::wstring_view pitchDataPath, std::wstring_view scorePath,
               std::wstring_view featurePath) {
    return GetScoreEngine().MutableEngine().Finish(pitchDataPath, scorePath, featurePath);
}
