#pragma once
// A ring of 100 fixed-size blocks with a full mark per slot, shared by the
// mixer and the WAV writer.
//
// The full marks are atomics: one producer and one consumer may work on
// different slots without a lock (the mixer's reader thread fills slots the
// render side has left; the writer thread drains what an audio thread
// queued). The indices belong to one side each: the write index to the
// producer, the read index to the consumer. Reset needs both sides idle.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

class CBufferArrary {
  public:
    static constexpr int kSlots = 100;

    explicit CBufferArrary(std::uint32_t blockLength);
    virtual ~CBufferArrary();
    CBufferArrary(const CBufferArrary&) = delete;
    CBufferArrary& operator=(const CBufferArrary&) = delete;

    // Zeroes the slot at the write index, copies one block into it, marks it
    // full and advances, whether or not the slot held an unread block.
    int PushCopy(const std::uint8_t* source, int time);
    // As PushCopy, but a full slot is left alone: returns 0 and the ring
    // keeps its order (the newest block is the one lost).
    int TryPushCopy(const std::uint8_t* source, int time);

    // The buffer of the slot at the write index, for writing in place.
    std::uint8_t* WriteSlotData() { return slots_[write_].data.get(); }
    bool IsWriteSlotFull() const { return IsFull(write_); }
    // Marks the slot at the write index full; 0 when it already was.
    int Commit(int time);

    // Hands out the oldest block (valid until its slot is written again),
    // marks it free and advances; 0 when there is none.
    int Pop(std::uint8_t** data, int* time);
    // The oldest block without taking it, and its release.
    const std::uint8_t* Front() const;
    void ReleaseFront();
    // Marks the oldest block free without using it; 0 when there is none.
    int DropOldest();

    // Fills slots first..last: each is zeroed, gets one block read from the
    // file's current position and is marked full. Reading stops at the first
    // short read; the file position is moved back to the start of that block
    // so that the next fill reads it whole once it is complete (a file that
    // is still growing). Returns the number of whole blocks read.
    int FillFromFile(std::FILE* file, int first, int last);

    void Reset();

    bool AnyFull() const;
    int CountFull() const;
    bool IsFull(int slot) const { return slots_[slot].full.load(std::memory_order_acquire) != 0; }
    std::uint32_t BlockLength() const { return length_; }
    int ReadIndex() const { return read_; }
    int WriteIndex() const { return write_; }

  private:
    struct Slot {
        std::unique_ptr<std::uint8_t[]> data;
        int time = 0;
        std::atomic<int> full{0};
    };

    std::array<Slot, kSlots> slots_;
    int write_ = 0;
    int read_ = 0;
    std::uint32_t length_;
};
