// Fuzz target: lyric text (code page 936 bytes) through the melody reader,
// the key shift, the phrase segmentation and the note scorer.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "evaluation/Melody.h"
#include "evaluation/NoteScorer.h"
#include "platform/text/CodePage936.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text =
        platform::FromCodePage936(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::vector<MelodyEntry> parsed = evaluation::ParseMelody(text);
    if (parsed.empty()) {
        return 0;
    }
    for (std::size_t i = 1; i < parsed.size(); ++i) {
        if (evaluation::MelodyTime(parsed[i]) < evaluation::MelodyTime(parsed[i - 1])) {
            __builtin_trap();  // times never go backwards
        }
    }
    const int key = size > 0 ? static_cast<int>(data[0] % 25) - 12 : 0;
    const std::vector<MelodyEntry> melody = evaluation::ShiftMelody(parsed, key);
    const int count = static_cast<int>(melody.size());
    const int rows = evaluation::MelodyTime(melody.back()) / 16 + 200;
    std::vector<evaluation::FrameRow> table(static_cast<std::size_t>(rows));
    std::vector<float> scores(melody.size(), -1.0f);
    CNoteScorer scorer(melody.data(), count, 16.0f, 300.0f, scores.data(), table.data(), rows);
    // A singer drawn from the input bytes, for at most about two minutes.
    const int hops = rows < 8000 ? rows : 8000;
    for (int h = 0; h < hops; ++h) {
        const std::uint8_t b = data[h % size];
        const evaluation::HopRecord r{55.0f + 8.0f * b, (b & 7) / 7.0f, 100.0f * (b >> 3)};
        scorer.Feed(&r, 1);
    }
    const float pitch = scorer.PitchScore();
    if (!(pitch >= 0.0f && pitch <= 100.0f)) {
        __builtin_trap();
    }
    return scorer.MeanOffset() < 0 ? 1 : 0;
}
