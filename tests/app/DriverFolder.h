#pragma once
// A temporary program folder holding a stand-in device library as
// Driver/libMendra.so. The fixture keeps its own handle on the library, so
// that what Configure sets is what the probe (which loads the same file)
// sees.
#include <filesystem>
#include <string>

#include "platform/TestSupport.h"
#include "platform/dynlib/DynamicLibrary.h"
#include "platform/text/Utf.h"

class DriverFolder {
  public:
    // library: the file to install, or nullptr for a folder without one.
    explicit DriverFolder(const char* library = TEST_MENDRA_PATH) {
        std::filesystem::create_directories(dir_.File("Driver"));
        if (library != nullptr) {
            std::filesystem::copy_file(library, dir_.File("Driver/libMendra.so"));
            handle_.Open(platform::FromUtf8(dir_.File("Driver/libMendra.so")));
        }
    }

    std::wstring Folder() const { return dir_.Folder(); }
    std::string Path() const { return dir_.Path(); }

    void Configure(int init, const char* driver, const char* panel, int versions = 1,
                   int throwInVersions = 0) {
        using ConfigureFunction = void(int, const char*, const char*, int, int);
        handle_.Find<ConfigureFunction>("TestMendraConfigure")(init, driver, panel, versions,
                                                               throwInVersions);
    }
    int UninitCalls() const { return handle_.Find<int()>("TestMendraUninitCalls")(); }

  private:
    testing_support::TempDir dir_;
    platform::DynamicLibrary handle_;
};
