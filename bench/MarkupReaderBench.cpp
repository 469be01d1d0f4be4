// Reading a 1 MB markup document with the program's reader, side by side
// with pugixml on the same bytes (a reference only; the program never links
// it). BM_ReaderVersusReference reports the ratio measured in one loop.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include <pugixml.hpp>

#include "ui/markup/CXmlDocument.h"

namespace {

const std::string& Document() {
    static const std::string text = [] {
        std::string s =
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Window Name=\"Main\">\n";
        int i = 0;
        while (s.size() < 1000000) {
            const std::string n = std::to_string(i++);
            s += "  <Panel Name=\"Panel" + n +
                 "\" Left=\"10\" Top=\"20\" Width=\"300\" Height=\"40\">\n"
                 "    <Button Name=\"Btn" +
                 n +
                 "\" Text=\"ml_Song_Download\" Tip=\"a &amp; b &lt;c&gt;\" Normal=\"btn.png\" />\n"
                 "    <Label Name=\"Lbl" +
                 n + "\">Song title \xE4\xB8\xAD\xE6\x96\x87 " + n + "</Label>\n  </Panel>\n";
        }
        return s + "</Window>\n";
    }();
    return text;
}

void BM_Reader(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        CXmlDocument document;
        if (!document.LoadFromUtf8(text.data(), text.size())) {
            state.SkipWithError("reader failed");
        }
        benchmark::DoNotOptimize(document.ElementCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Reader)->Unit(benchmark::kMillisecond);

void BM_Reference(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        pugi::xml_document document;
        if (!document.load_buffer(text.data(), text.size(), pugi::parse_default,
                                  pugi::encoding_utf8)) {
            state.SkipWithError("reference failed");
        }
        benchmark::DoNotOptimize(document.first_child());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Reference)->Unit(benchmark::kMillisecond);

// Both parsers alternate inside one loop, so load and frequency changes hit
// them alike; "ratio" is reader time over reference time.
void BM_ReaderVersusReference(benchmark::State& state) {
    const std::string& text = Document();
    using Clock = std::chrono::steady_clock;
    Clock::duration reader{};
    Clock::duration reference{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        {
            CXmlDocument document;
            benchmark::DoNotOptimize(document.LoadFromUtf8(text.data(), text.size()));
        }
        const auto t1 = Clock::now();
        {
            pugi::xml_document document;
            benchmark::DoNotOptimize(document.load_buffer(text.data(), text.size()));
        }
        const auto t2 = Clock::now();
        reader += t1 - t0;
        reference += t2 - t1;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["reader_ms"] = std::chrono::duration<double, std::milli>(reader).count() / n;
    state.counters["reference_ms"] =
        std::chrono::duration<double, std::milli>(reference).count() / n;
    state.counters["ratio"] = std::chrono::duration<double>(reader).count() /
                              std::chrono::duration<double>(reference).count();
}
BENCHMARK(BM_ReaderVersusReference)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
