#pragma once
// Writes one RIFF/WAVE PCM recording. Audio threads hand it blocks with
// PushBlock, which copies into a 100-block queue without taking a lock; the
// writer's own thread appends them to the file through a 1 MiB buffer, so an
// audio thread never waits for the disk.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/CBufferArrary.h"
#include "karaoke/context/WaveFormat.h"
#include "platform/thread/Event.h"

class CWaveFileWriter {
  public:
    static constexpr std::uint32_t kHeaderBytes = 46;
    static constexpr std::uint32_t kFlushOnceBytes = 0x80000;
    static constexpr std::size_t kFileBufferBytes = 1048576;

    // flushOnce: the file is flushed once, when its data first reaches
    // 512 KiB, so that the beginning of the recording is on disk early.
    CWaveFileWriter(const WaveFormat& format, bool flushOnce, int blockDurationMs = 16);
    ~CWaveFileWriter();
    CWaveFileWriter(const CWaveFileWriter&) = delete;
    CWaveFileWriter& operator=(const CWaveFileWriter&) = delete;

    // Creates the file, writes the header and starts the writer thread. An
    // open file is closed first. False when the file cannot be created.
    bool Open(const std::wstring& path);

    // Queues one block (BlockLength() bytes). Safe on a real-time thread: no
    // lock, no allocation. A full queue keeps its order and loses this
    // block; false then, and when no file is open.
    bool PushBlock(const std::uint8_t* block);

    // Writes every queued block, fills in the two sizes and closes the file.
    void Close();

    bool IsOpen() const { return running_.load(std::memory_order_acquire); }
    std::uint32_t BlockLength() const { return blockLength_; }
    int QueuedBlocks() const { return queue_.CountFull(); }
    std::uint64_t DroppedBlocks() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    void WriterLoop();
    bool WriteHeader();

    WaveFormat format_;
    bool flushOnce_;
    std::uint32_t blockLength_;
    CBufferArrary queue_;
    std::unique_ptr<char[]> fileBuffer_;
    std::mutex fileMutex_;  // the file, between Open/Close and the thread
    std::FILE* file_ = nullptr;
    std::uint32_t dataOffset_ = 0;
    std::uint32_t dataBytes_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> dropped_{0};
    platform::Event wake_;
    std::thread thread_;
};
