#pragma once
// A small file-backed store for the few named values the program reads in
// place of a system registry. Values live under a key path (for example
// "Software\Norvane\Setting") and a value name; both are compared without
// regard to case. The store is an INI file: one section per key path, one
// line per value, the value quoted so that blanks around it survive.
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class RegistryStore {
  public:
    explicit RegistryStore(std::wstring filePath);

    // The user's store: $XDG_CONFIG_HOME/Vokari/registry.ini (default
    // ~/.config/Vokari/registry.ini); empty when no home is known.
    static std::wstring DefaultPath();

    const std::wstring& Path() const { return path_; }

    // Absent key path or value: nullopt.
    std::optional<std::wstring> ReadString(std::wstring_view keyPath,
                                           std::wstring_view valueName) const;
    // Creates the file, its folder and the key path as needed. False when
    // the names or the value cannot be stored (line breaks, '=' in a name)
    // or the file cannot be written.
    bool WriteString(std::wstring_view keyPath, std::wstring_view valueName,
                     std::wstring_view value);
    bool DeleteValue(std::wstring_view keyPath, std::wstring_view valueName);

  private:
    std::wstring path_;
};

}  // namespace platform
