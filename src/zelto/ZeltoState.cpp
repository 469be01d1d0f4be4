#include "zelto/ZeltoState.h"

#include <mutex>

#include "platform/folders/Folders.h"
#include "platform/profile/ProfileFile.h"
#include "platform/registry/RegistryStore.h"
#include "platform/text/Number.h"

namespace zelto {

namespace {

constexpr const wchar_t* kSection = L"Driver";
std::mutex g_fileMutex;  // one read-modify-write at a time within the process

struct DefaultValue {
    const wchar_t* key;
    int value;
};

// A card as it comes: its karaoke effect on.
constexpr DefaultValue kDefaults[] = {
    {L"KaraokeState", 1}, {L"MicEffectState", 1}, {L"MicEffectMode", 2}, {L"EnvMode", 3},
    {L"EnvState", 1},     {L"SampleRate", 6},     {L"AudioMonitor", 0},  {L"MixWithWave", 1},
};

}  // namespace

std::wstring ZeltoState::DefaultPath() {
    const std::wstring registry = platform::RegistryStore::DefaultPath();
    if (registry.empty())
        return {};
    const std::size_t slash = registry.rfind(L'/');
    return registry.substr(0, slash + 1) + L"zelto-state.ini";
}

ZeltoState::ZeltoState(std::wstring path) : path_(std::move(path)) {}

int ZeltoState::Default(const wchar_t* key) {
    for (const auto& d : kDefaults) {
        if (platform::ProfileNamesEqual(d.key, key))
            return d.value;
    }
    return 0;
}

int ZeltoState::Get(const wchar_t* key) const {
    std::lock_guard lock(g_fileMutex);
    if (path_.empty())
        return Default(key);
    return platform::ReadProfileInt(path_, kSection, key, Default(key));
}

bool ZeltoState::Set(const wchar_t* key, int value) {
    std::lock_guard lock(g_fileMutex);
    if (path_.empty())
        return false;
    const std::size_t slash = path_.rfind(L'/');
    if (slash != std::wstring::npos)
        platform::MakeWholePath(path_.substr(0, slash + 1));
    return platform::WriteProfileString(path_, kSection, key, platform::FormatIntW(value));
}

std::wstring ZeltoState::KaraokeCard() const {
    std::lock_guard lock(g_fileMutex);
    if (path_.empty())
        return {};
    return platform::ReadProfileString(path_, L"Device", L"Card", L"", 260);
}

}  // namespace zelto
