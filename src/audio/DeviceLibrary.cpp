#include "audio/DeviceLibrary.h"

#include "platform/dynlib/DynamicLibrary.h"

struct DeviceLibrary::Module {
    platform::DynamicLibrary library;
};

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
    auto module = std::make_unique<Module>();
    if (programFolder.empty() || !module->library.Open(LibraryPath(programFolder))) {
        return false;
    }
    const platform::DynamicLibrary& lib = module->library;
    fn_.ConfLibInit = lib.Find<int()>("ConfLibInit");
    fn_.ConfLibUnInit = lib.Find<int()>("ConfLibUnInit");
    fn_.DisabletKaraokeEffect = lib.Find<int()>("DisabletKaraokeEffect");
    fn_.RecoverKaraokeEffect = lib.Find<int()>("RecoverKaraokeEffect");
    fn_.DumpMSG = lib.Find<int(wchar_t*, int)>("DumpMSG");
    fn_.GetRecordVolumeScalar = lib.Find<int(int*)>("GetRecordVolumeScalar");
    fn_.SetRecordVolumeScalar = lib.Find<int(int)>("SetRecordVolumeScalar");
    module_ = std::move(module);
    loaded_ = true;
    return true;
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
