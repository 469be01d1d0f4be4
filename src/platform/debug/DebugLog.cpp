#include "platform/debug/DebugLog.h"

#include <atomic>
#include <cstdio>

#include "platform/text/Utf.h"

namespace platform {

namespace {

class StderrSink final : public DebugSink {
public:
    void Write(std::string_view line) override {
        std::fwrite(line.data(), 1, line.size(), stderr);
    }
};

StderrSink g_stderr;
std::atomic<DebugSink*> g_sink{&g_stderr};
std::mutex g_writeMutex;

}  // namespace

void DebugOutput(std::string_view line) {
    std::lock_guard lock(g_writeMutex);
    if (DebugSink* sink = g_sink.load()) {
        sink->Write(line);
    }
}

void DebugOutput(std::wstring_view line) { DebugOutput(ToUtf8(line)); }

DebugSink* SetDebugSink(DebugSink* sink) {
    std::lock_guard lock(g_writeMutex);
    return g_sink.exchange(sink);
}

DebugSink* StderrDebugSink() { return &g_stderr; }

CapturedDebugOutput::CapturedDebugOutput() : previous_(SetDebugSink(this)) {}

CapturedDebugOutput::~CapturedDebugOutput() { SetDebugSink(previous_); }

void CapturedDebugOutput::Write(std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
}

std::vector<std::string> CapturedDebugOutput::Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

bool CapturedDebugOutput::Contains(std::string_view text) const {
    std::lock_guard lock(mutex_);
    for (const auto& l : lines_) {
        if (l.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace platform
