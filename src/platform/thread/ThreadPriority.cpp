#include "platform/thread/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace platform {

bool SetCurrentThreadPriority(ThreadPriority priority) noexcept {
    const pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    switch (priority) {
        case ThreadPriority::BelowNormal:
            return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 5) == 0;
        case ThreadPriority::Normal:
            return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), 0) == 0;
        case ThreadPriority::ProAudio: {
            sched_param param{};
            param.sched_priority = std::min(sched_get_priority_max(SCHED_RR), 70);
            return pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
        }
    }
    return false;
}

void SetCurrentThreadName(std::string_view name) noexcept {
    char buffer[16] = {};
    std::memcpy(buffer, name.data(), std::min<std::size_t>(name.size(), 15));
    pthread_setname_np(pthread_self(), buffer);
}

}  // namespace platform
