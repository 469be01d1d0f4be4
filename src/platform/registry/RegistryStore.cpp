#include "platform/registry/RegistryStore.h"

#include <cstdlib>

#include "platform/folders/Folders.h"
#include "platform/profile/ProfileFile.h"
#include "platform/text/Utf.h"

namespace platform {

RegistryStore::RegistryStore(std::wstring filePath) : path_(std::move(filePath)) {}

std::wstring RegistryStore::DefaultPath() {
    std::wstring base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        base = FromUtf8(config);
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = FromUtf8(home) + L"/.config";
    } else {
        return {};
    }
    return JoinPath(JoinPath(base, L"Vokari"), L"registry.ini");
}

std::optional<std::wstring> RegistryStore::ReadString(std::wstring_view keyPath,
                                                      std::wstring_view valueName) const {
    ProfileFile file;
    if (path_.empty() || !file.Load(path_)) {
        return std::nullopt;
    }
    return file.Get(keyPath, valueName);
}

bool RegistryStore::WriteString(std::wstring_view keyPath, std::wstring_view valueName,
                                std::wstring_view value) {
    if (path_.empty()) {
        return false;
    }
    const auto slash = path_.rfind(L'/');
    if (slash != std::wstring::npos && !MakeWholePath(path_.substr(0, slash + 1))) {
        return false;
    }
    ProfileFile file;
    if (!file.Load(path_)) {
        return false;
    }
    // Always quoted: the reader removes one matching pair, so any value,
    // quotes and outer blanks included, reads back as written.
    if (!file.Set(keyPath, valueName, L"\"" + std::wstring(value) + L"\"")) {
        return false;
    }
    return file.Save(path_);
}

bool RegistryStore::DeleteValue(std::wstring_view keyPath, std::wstring_view valueName) {
    return !path_.empty() && DeleteProfileKey(path_, keyPath, valueName);
}

}  // namespace platform
