#include "audio/DeviceLibrary.h"

struct DeviceLibrary::Module {};

DeviceLibrary::DeviceLibrary() = default;
DeviceLibrary::~DeviceLibrary() {
    Unbind();
}

std::wstring DeviceLibrary::LibraryPath(const std::wstring& programFolder) {
    std::wstring folder = programFolder;
    if (!folder.empty() && folder.back() != L'/') {
        folder += L'/';
    }
    return folder + L"Driver/libMendra.so";
}

bool DeviceLibrary::Bind(const std::wstring& programFolder) {
    Unbind();
    (void)programFolder;
    return false;
}

void DeviceLibrary::BindTable(const DeviceLibraryFunctions& functions) {
    Unbind();
    fn_ = functions;
    loaded_ = true;
}

void DeviceLibrary::Unbind() {
    fn_ = DeviceLibraryFunctions{};
    module_.reset();
    loaded_ = false;
}
