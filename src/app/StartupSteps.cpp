#include "app/StartupSteps.h"

#include "platform/folders/Folders.h"

StartCommandLine ParseCommandLine(std::span<const std::wstring> args) {
    StartCommandLine result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"/q") {
            result.flags |= kQuietRun;
        } else if (arg == L"/i") {
            result.flags = kRunInstaller;
            if (i + 1 < args.size()) {
                result.installerPath = args[i + 1];
            }
            break;
        }
        // "/h", "/u" and anything else: no effect.
    }
    return result;
}

int CleanDataFolder(const std::wstring& dataFolder) {
    int deleted = 0;
    for (const platform::FoundFile& entry : platform::FindFiles(dataFolder, L"*.*")) {
        // Only the entry's own name decides: the data folder itself normally
        // lies below a dot-folder (~/.local/share).
        if (entry.isFolder || entry.name.empty() || entry.name.front() == L'.') {
            continue;
        }
        if (platform::DeleteFile(platform::JoinPath(dataFolder, entry.name))) {
            ++deleted;
        }
    }
    return deleted;
}

bool CatalogueCacheExpired(std::int64_t now, std::int64_t lastSync) {
    if (lastSync > now) {
        return false;
    }
    // Unsigned, so that no pair of times can overflow the difference.
    const std::uint64_t age =
        static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(lastSync);
    return age > static_cast<std::uint64_t>(kCatalogueCacheLifetimeSeconds);
}
