// A Vokari process for the multi-process tests: the real application
// object over recording stand-ins of the subsystems that are not built
// yet, its main window waiting for activations from other instances.
//
//   app_instance_host <program folder> [Vokari arguments...]
#include <iostream>
#include <string>
#include <vector>

#include "app/MainApp.h"
#include "app/RecordingSeams.h"
#include "platform/text/Utf.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: app_instance_host <program folder> [arguments...]\n";
        return 2;
    }
    RecordingSeams seams;
    seams.echo = &std::cout;
    seams.mainWindowTimeoutMs = 120000;
    CMainApp::Options options;
    options.programFolder = platform::FromUtf8(argv[1]);
    std::vector<std::wstring> args;
    for (int i = 2; i < argc; ++i) {
        args.push_back(platform::FromUtf8(argv[i]));
    }
    CMainApp app(seams, options);
    const int code = app.Run(args);
    std::cout << "ended" << std::endl;
    return code;
}
