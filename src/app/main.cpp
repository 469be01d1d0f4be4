// The Vokari program: the application object runs the whole life of the
// process.
#include <string>
#include <vector>

#include "app/MainApp.h"
#include "app/ProgramSubsystems.h"
#include "platform/text/Utf.h"

int main(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.push_back(platform::FromUtf8(argv[i]));
    }
    ProgramSubsystems seams;
    CMainApp app(seams);
    return app.Run(args);
}
