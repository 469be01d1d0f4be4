#pragma once
// The sink for the program's fixed English diagnostic lines (each ends in
// "\n"). The user never sees them: they go to stderr unless a test captures
// them or the program silences them. Never call from a real-time thread.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class DebugSink {
public:
    virtual ~DebugSink() = default;
    virtual void Write(std::string_view utf8Line) = 0;
};

void DebugOutput(std::string_view line);
void DebugOutput(std::wstring_view line);

// Replaces the sink (nullptr silences the output); returns the previous one.
DebugSink* SetDebugSink(DebugSink* sink);
DebugSink* StderrDebugSink();

// Keeps every line; for tests. Installs itself while it lives.
class CapturedDebugOutput final : public DebugSink {
public:
    CapturedDebugOutput();
    ~CapturedDebugOutput() override;
    void Write(std::string_view utf8Line) override;
    std::vector<std::string> Lines() const;
    bool Contains(std::string_view text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    DebugSink* previous_;
};

}  // namespace platform
