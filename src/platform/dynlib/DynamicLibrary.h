#pragma once
// A shared library loaded at run time (dlopen with RTLD_NOW | RTLD_LOCAL)
// and its exported functions looked up by name. The library is unloaded
// when the object is destroyed, unless Keep() was called: code that must
// never unload a library (its functions may still be running elsewhere)
// keeps it for the life of the process.
#include <string>
#include <string_view>

namespace platform {

class DynamicLibrary {
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Closes a library already open first. False (with LastError()) when the
    // file is missing or not a loadable library.
    bool Open(std::wstring_view path);
    bool IsOpen() const { return handle_ != nullptr; }
    void Close();
    void Keep() { kept_ = true; }

    // nullptr when the library is not open or has no such symbol.
    void* Symbol(const char* name) const;

    template <typename Function>
    Function* Find(const char* name) const {
        return reinterpret_cast<Function*>(Symbol(name));
    }

    const std::string& LastError() const { return lastError_; }

  private:
    void* handle_ = nullptr;
    bool kept_ = false;
    mutable std::string lastError_;
};

}  // namespace platform
