#include "platform/dynlib/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

#include "platform/text/Utf.h"

namespace platform {

DynamicLibrary::~DynamicLibrary() {
    Close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      kept_(other.kept_),
      lastError_(std::move(other.lastError_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, nullptr);
        kept_ = other.kept_;
        lastError_ = std::move(other.lastError_);
    }
    return *this;
}

bool DynamicLibrary::Open(std::wstring_view path) {
    Close();
    lastError_.clear();
    const std::string p = ToUtf8(path);
    // A name without '/' would be searched on the library path; the
    // program always means a file.
    if (p.find('/') == std::string::npos) {
        lastError_ = "not a path: " + p;
        return false;
    }
    handle_ = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* e = dlerror();
        lastError_ = e != nullptr ? e : "dlopen failed";
        return false;
    }
    return true;
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr && !kept_) {
        dlclose(handle_);
    }
    handle_ = nullptr;
    kept_ = false;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) {
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
        const char* e = dlerror();
        lastError_ = e != nullptr ? e : std::string("no symbol ") + name;
    }
    return symbol;
}

}  // namespace platform
