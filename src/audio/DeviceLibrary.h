#pragma once
// The mixer's binding to the sound card's effect library, loaded at run time
// from "Driver/libMendra.so" under the program folder. Every function may be
// missing; a call to a missing one is skipped and reports false.
#include <memory>
#include <string>

struct DeviceLibraryFunctions {
    int (*ConfLibInit)() = nullptr;
    int (*ConfLibUnInit)() = nullptr;
    int (*DisabletKaraokeEffect)() = nullptr;
    int (*RecoverKaraokeEffect)() = nullptr;
    int (*DumpMSG)(wchar_t* destination, int size) = nullptr;
    int (*GetRecordVolumeScalar)(int* level) = nullptr;
    int (*SetRecordVolumeScalar)(int level) = nullptr;
};

class DeviceLibrary {
  public:
    static constexpr int kMessageChars = 260;

    DeviceLibrary();
    ~DeviceLibrary();
    DeviceLibrary(const DeviceLibrary&) = delete;
    DeviceLibrary& operator=(const DeviceLibrary&) = delete;

    // Loads the library from the program folder and looks its functions up
    // by name. False when the library itself is missing.
    bool Bind(const std::wstring& programFolder);
    // Uses a given table (a library loaded elsewhere).
    void BindTable(const DeviceLibraryFunctions& functions);
    void Unbind();

    bool IsLoaded() const { return loaded_; }
    const DeviceLibraryFunctions& Functions() const { return fn_; }

    static std::wstring LibraryPath(const std::wstring& programFolder);

  private:
    struct Module;
    std::unique_ptr<Module> module_;
    DeviceLibraryFunctions fn_;
    bool loaded_ = false;
};
