#pragma once
// Scheduling classes for the program's threads.
#include <string_view>

namespace platform {

enum class ThreadPriority {
    BelowNormal,  // background downloads
    Normal,
    ProAudio,     // capture and render: real-time round-robin where allowed
};

// Applies to the calling thread. Returns false when the system refused
// (a user without real-time rights keeps normal scheduling).
bool SetCurrentThreadPriority(ThreadPriority priority) noexcept;

// Names the calling thread for debuggers (at most 15 characters are kept).
void SetCurrentThreadName(std::string_view name) noexcept;

}  // namespace platform
