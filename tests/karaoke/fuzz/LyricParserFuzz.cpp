// The lyric parser and its queries on arbitrary text, decoded the way a
// lyric file is.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "karaoke/LrcManager.h"
#include "karaoke/LyricLoader.h"
#include "platform/debug/DebugLog.h"
#include "platform/text/CodePage936.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::SetDebugSink(nullptr);
    const std::wstring text = StripNoteAnnotations(
        platform::FromCodePage936(std::string_view(reinterpret_cast<const char*>(data), size)));
    LrcManager m;
    m.Load(text);
    int a, b, c, d, e, f;
    for (int t : {-1, 0, 500, 10000, 65000, 9999999, 0x7FFFFFFF}) {
        m.QueryProgress(t, a, b, c, d, e, f);
        if (b < 0 || b > 100 || e < 0 || e > 100)
            __builtin_trap();
    }
    for (int line = -1; line <= m.DisplayLineCount() + 1; ++line)
        m.LineText(line);
    return 0;
}
