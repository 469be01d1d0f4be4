#pragma once

namespace platform {

// Fontconfig, Pango, GLib and GTK keep process-lifetime caches they never
// free. Code that uses them calls this, which links in the leak checker's
// suppressions for those libraries' own allocations (sanitizer builds only
// read them); leaks of ours are still reported.
void UseThirdPartyLeakSuppressions() noexcept;

}  // namespace platform
