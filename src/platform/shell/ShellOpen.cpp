#include "platform/shell/ShellOpen.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <thread>

#include "platform/text/Utf.h"

extern char** environ;

namespace platform {

namespace {
constexpr const char* kOpener = "xdg-open";
}

struct ShellOpener::Attributes {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    bool attrReady = false;
    bool actionsReady = false;
};

ShellOpener::~ShellOpener() {
    if (attributes_ != nullptr) {
        if (attributes_->attrReady) {
            posix_spawnattr_destroy(&attributes_->attr);
        }
        if (attributes_->actionsReady) {
            posix_spawn_file_actions_destroy(&attributes_->actions);
        }
        delete attributes_;
    }
}

bool ShellOpener::Init() {
    if (attributes_ != nullptr) {
        return attributes_->attrReady && attributes_->actionsReady;
    }
    attributes_ = new Attributes;
    Attributes& a = *attributes_;
    a.attrReady = posix_spawnattr_init(&a.attr) == 0;
    a.actionsReady = posix_spawn_file_actions_init(&a.actions) == 0;
    if (!a.attrReady || !a.actionsReady) {
        return false;
    }
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    bool ok = posix_spawnattr_setsigmask(&a.attr, &none) == 0 &&
              posix_spawnattr_setsigdefault(&a.attr, &all) == 0 &&
              posix_spawnattr_setflags(&a.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                                    POSIX_SPAWN_SETPGROUP) == 0 &&
              posix_spawnattr_setpgroup(&a.attr, 0) == 0;
    for (int fd = 0; ok && fd <= 2; ++fd) {
        ok = posix_spawn_file_actions_addopen(&a.actions, fd, "/dev/null",
                                              fd == 0 ? O_RDONLY : O_WRONLY, 0) == 0;
    }
    return ok;
}

bool ShellOpener::Open(std::string_view target) const {
    if (attributes_ == nullptr || !attributes_->attrReady || !attributes_->actionsReady ||
        target.empty()) {
        return false;
    }
    std::string program(kOpener);
    std::string argument(target);
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, kOpener, &attributes_->actions, &attributes_->attr, argv, environ) !=
        0) {
        return false;
    }
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

bool ShellOpener::Open(std::wstring_view target) const {
    return Open(ToUtf8(target));
}

bool ShellOpen(std::wstring_view target) {
    ShellOpener opener;
    return opener.Init() && opener.Open(target);
}

}  // namespace platform
