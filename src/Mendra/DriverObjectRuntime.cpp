#include "Mendra/DriverObjectRuntime.h"

#include <cstdint>
#include <fstream>
#include <mutex>
#include <sstream>

#include "platform/dynlib/DynamicLibrary.h"
#include "platform/text/Utf.h"

namespace mendra {

namespace {

thread_local int t_apartment = 0;

// Finds the mapped file that holds this code in /proc/self/maps.
std::string MappedFileOf(std::uintptr_t address) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream in(line);
        std::string range, perms, offset, dev, inode, path;
        in >> range >> perms >> offset >> dev >> inode;
        std::getline(in >> std::ws, path);
        const std::size_t dash = range.find('-');
        if (dash == std::string::npos || path.empty() || path[0] != '/')
            continue;
        const std::uintptr_t lo = std::stoull(range.substr(0, dash), nullptr, 16);
        const std::uintptr_t hi = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (address >= lo && address < hi)
            return path;
    }
    return {};
}

std::mutex g_serverMutex;
platform::DynamicLibrary g_server;
zelto::ZeltoCreateDriverObjectFn* g_create = nullptr;

}  // namespace

std::string ThisLibraryFolder() {
    static const std::string folder = [] {
        const std::string path = MappedFileOf(reinterpret_cast<std::uintptr_t>(&ThisLibraryFolder));
        const std::size_t slash = path.rfind('/');
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    }();
    return folder;
}

bool EnterApartment() {
    ++t_apartment;
    return true;
}

void LeaveApartment() {
    if (t_apartment > 0)
        --t_apartment;
}

int ApartmentDepth() {
    return t_apartment;
}

int CreateDriverObject(const zelto::Guid& clsid, const zelto::Guid& iid, void** out) {
    if (out == nullptr)
        return zelto::kBadArgument;
    *out = nullptr;
    std::lock_guard lock(g_serverMutex);
    if (g_create == nullptr) {
        // Tried again on every creation: a driver installed later is found.
        if (!g_server.Open(platform::FromUtf8(ThisLibraryFolder() + zelto::kLibraryName)))
            return zelto::kNoClass;
        g_server.Keep();  // its objects may outlive any owner here
        g_create = g_server.Find<zelto::ZeltoCreateDriverObjectFn>("ZeltoCreateDriverObject");
        if (g_create == nullptr) {
            g_server.Close();
            return zelto::kNoClass;
        }
    }
    return g_create(&clsid, &iid, out);
}

}  // namespace mendra
