#pragma once
// The little runtime of the driver objects: a per-thread apartment count,
// creation of objects by class identifier from the driver server (the
// sound-card layer's library beside this one), and an owning pointer that
// releases its reference.
#include <string>
#include <utility>

#include "zelto/DriverInterfaces.h"

namespace mendra {

// Folder of the library that holds this code, ending with '/'.
std::string ThisLibraryFolder();

// Counted per thread. Enter never fails here; it keeps the shape in which
// a failure would be reported.
bool EnterApartment();
void LeaveApartment();
int ApartmentDepth();

int CreateDriverObject(const zelto::Guid& clsid, const zelto::Guid& iid, void** out);

template <typename T>
class ObjectRef {
  public:
    ObjectRef() = default;
    ~ObjectRef() { Reset(); }
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    ObjectRef(ObjectRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ObjectRef& operator=(ObjectRef&& o) noexcept {
        if (this != &o) {
            Reset();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    void Reset() {
        if (p_ != nullptr)
            std::exchange(p_, nullptr)->Release();
    }
    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void** Out() {
        Reset();
        return reinterpret_cast<void**>(&p_);
    }
    T** OutTyped() {
        Reset();
        return &p_;
    }
    template <typename U>
    int Query(const zelto::Guid& iid, ObjectRef<U>& out) const {
        if (p_ == nullptr)
            return zelto::kFail;
        return p_->QueryInterface(iid, out.Out());
    }

  private:
    T* p_ = nullptr;
};

}  // namespace mendra
