#include "audio/CBufferArrary.h"

#include <cstring>

CBufferArrary::CBufferArrary(std::uint32_t blockLength) : length_(blockLength) {
    for (Slot& slot : slots_) {
        slot.data.reset(new std::uint8_t[length_]());
    }
}

CBufferArrary::~CBufferArrary() = default;

int CBufferArrary::PushCopy(const std::uint8_t* source, int time) {
    Slot& slot = slots_[write_];
    slot.full.store(0, std::memory_order_relaxed);
    std::memcpy(slot.data.get(), source, length_);
    slot.time = time;
    slot.full.store(1, std::memory_order_release);
    write_ = (write_ + 1) % kSlots;
    return 1;
}

int CBufferArrary::TryPushCopy(const std::uint8_t* source, int time) {
    if (IsFull(write_)) {
        return 0;
    }
    std::memcpy(slots_[write_].data.get(), source, length_);
    return Commit(time);
}

int CBufferArrary::Commit(int time) {
    Slot& slot = slots_[write_];
    if (slot.full.load(std::memory_order_acquire) != 0) {
        return 0;
    }
    slot.time = time;
    slot.full.store(1, std::memory_order_release);
    write_ = (write_ + 1) % kSlots;
    return 1;
}

int CBufferArrary::Pop(std::uint8_t** data, int* time) {
    Slot& slot = slots_[read_];
    if (data == nullptr || slot.full.load(std::memory_order_acquire) == 0) {
        return 0;
    }
    *data = slot.data.get();
    if (time != nullptr) {
        *time = slot.time;
    }
    slot.full.store(0, std::memory_order_release);
    read_ = (read_ + 1) % kSlots;
    return 1;
}

const std::uint8_t* CBufferArrary::Front() const {
    return IsFull(read_) ? slots_[read_].data.get() : nullptr;
}

void CBufferArrary::ReleaseFront() {
    if (IsFull(read_)) {
        slots_[read_].full.store(0, std::memory_order_release);
        read_ = (read_ + 1) % kSlots;
    }
}

int CBufferArrary::DropOldest() {
    if (!IsFull(read_)) {
        return 0;
    }
    ReleaseFront();
    return 1;
}

int CBufferArrary::FillFromFile(std::FILE* file, int first, int last) {
    if (file == nullptr || first < 0 || last >= kSlots || first > last) {
        return 0;
    }
    // A file another handle is still appending to: forget an earlier end of
    // file, or every later read would return nothing.
    std::clearerr(file);
    int whole = 0;
    bool reading = true;
    for (int i = first; i <= last; ++i) {
        Slot& slot = slots_[i];
        std::memset(slot.data.get(), 0, length_);
        if (reading) {
            const std::size_t n = std::fread(slot.data.get(), 1, length_, file);
            if (n == length_) {
                ++whole;
            } else {
                reading = false;
                if (n > 0) {
                    std::memset(slot.data.get(), 0, n);
                    std::fseek(file, -static_cast<long>(n), SEEK_CUR);
                }
            }
        }
        slot.time = 0;
        slot.full.store(1, std::memory_order_release);
    }
    return whole;
}

void CBufferArrary::Reset() {
    for (Slot& slot : slots_) {
        std::memset(slot.data.get(), 0, length_);
        slot.time = 0;
        slot.full.store(0, std::memory_order_release);
    }
    write_ = 0;
    read_ = 0;
}

bool CBufferArrary::AnyFull() const {
    for (const Slot& slot : slots_) {
        if (slot.full.load(std::memory_order_acquire) != 0) {
            return true;
        }
    }
    return false;
}

int CBufferArrary::CountFull() const {
    int n = 0;
    for (const Slot& slot : slots_) {
        n += slot.full.load(std::memory_order_acquire) != 0 ? 1 : 0;
    }
    return n;
}
