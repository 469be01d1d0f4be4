#pragma once
// Opening a file, folder or address with the desktop's default handler:
// xdg-open is started with posix_spawnp and the target as its only
// argument, never through a shell, so no character of the target is
// interpreted. The opener runs detached with its standard streams on
// /dev/null; nobody waits for it (a thread reaps it when it ends).
#include <string>
#include <string_view>

namespace platform {

class ShellOpener {
  public:
    ShellOpener() = default;
    ~ShellOpener();
    ShellOpener(const ShellOpener&) = delete;
    ShellOpener& operator=(const ShellOpener&) = delete;

    // Prepares the spawn attributes (default signal handling and an empty
    // signal mask for the opener). False when the system refuses them.
    bool Init();

    // True when the opener was started; whether it could open the target is
    // its own business. False without Init(), for an empty target, or when
    // xdg-open is not installed.
    bool Open(std::string_view target) const;
    bool Open(std::wstring_view target) const;

  private:
    struct Attributes;
    Attributes* attributes_ = nullptr;
};

// One-shot form of ShellOpener.
bool ShellOpen(std::wstring_view target);

}  // namespace platform
