#include "platform/draw/LeakSuppressions.h"

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libgdk_pixbuf-2.0.so\n"
           "leak:libgdk-3.so\n"
           "leak:libgtk-3.so\n"
           "leak:libatk-1.0.so\n"
           "leak:libatk-bridge-2.0.so\n"
           "leak:libdbus-1.so\n"
           "leak:libcairo.so\n"
           "leak:libX11.so\n";
}

namespace platform {
void UseThirdPartyLeakSuppressions() noexcept {}
}  // namespace platform
