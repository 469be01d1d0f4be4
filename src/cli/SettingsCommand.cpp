// vokari-cli settings: the settings record as the program loads it.
#include <ostream>

#include "app/AppSettings.h"
#include "app/CLanguageDictionary.h"
#include "cli/ArgumentReader.h"
#include "cli/Cli.h"
#include "cli/Subcommand.h"
#include "platform/folders/Folders.h"
#include "platform/text/Utf.h"

namespace {

std::wstring AsFolder(const std::string& path) {
    std::wstring folder = platform::FromUtf8(path);
    if (!folder.empty() && folder.back() != L'/') {
        folder += L'/';
    }
    return folder;
}

int RunSettings(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const cli::ArgumentReader options(args, {"--data-folder", "--program-folder"});
    if (!options.Ok()) {
        err << "vokari-cli settings: " << options.Error() << "\n";
        return cli::kExitUsage;
    }
    std::wstring program = options.Has("--program-folder")
                               ? AsFolder(options.Get("--program-folder"))
                               : platform::ProgramFolder();
    std::wstring data;
    if (options.Has("--data-folder")) {
        data = AsFolder(options.Get("--data-folder"));
    } else {
        const std::wstring common = platform::CommonDataFolder();
        data = (common.empty() ? program : common) + L"Vokari/";
    }
    CAppSettings settings(data, program, CLanguageDictionary::DefaultCulture());
    settings.Load();
    const auto line = [&](const char* key, const std::wstring& value) {
        out << key << "=" << platform::ToUtf8(value) << "\n";
    };
    out << "# "
        << platform::ToUtf8(platform::FileExists(settings.DataFilePath())
                                ? settings.DataFilePath()
                                : settings.ProgramFilePath())
        << "\n";
    line("AudioDevice", settings.audioDevice);
    line("MultiLanguage", settings.language);
    line("Skin", settings.skin);
    line("UITransparent", std::to_wstring(settings.uiTransparent));
    line("SystemTray", std::to_wstring(settings.systemTray));
    line("ServerIP", settings.serverIp);
    line("LastWebSyncTime", settings.lastWebSyncTime == 0
                                ? std::wstring(L"0")
                                : FormatSyncTime(settings.lastWebSyncTime));
    line("LastDownloadVersion", settings.lastDownloadVersion);
    line("ForceUpdate", std::to_wstring(settings.forceUpdate));
    line("CacheDownload", std::to_wstring(settings.cacheDownload));
    return cli::kExitOk;
}

const bool registered = cli::RegisterSubcommand(
    {"settings", "show the settings as Vokari loads them",
     "usage: vokari-cli settings [--data-folder DIR] [--program-folder DIR]\n"
     "Shows the settings record read from DIR/setting.ini of the data folder\n"
     "(default: $XDG_DATA_HOME/Vokari), else of the program folder.",
     &RunSettings});

}  // namespace
