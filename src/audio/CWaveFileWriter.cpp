#include "audio/CWaveFileWriter.h"

#include <algorithm>
#include <array>
#include <limits>

#include "platform/text/Utf.h"

namespace {

void PutU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

bool WriteU32At(std::FILE* file, long offset, std::uint32_t value) {
    std::uint8_t bytes[4];
    PutU32(bytes, value);
    return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

}  // namespace

CWaveFileWriter::CWaveFileWriter(const WaveFormat& format, bool flushOnce, int blockDurationMs)
    : format_(format),
      flushOnce_(flushOnce),
      blockLength_(BlockLengthBytes(format, blockDurationMs)),
      queue_(blockLength_),
      fileBuffer_(new char[kFileBufferBytes]) {}

CWaveFileWriter::~CWaveFileWriter() {
    Close();
}

bool CWaveFileWriter::WriteHeader() {
    // 20 bytes "RIFF" .. fmt size, the 18-byte format record, 8 bytes "data".
    std::array<std::uint8_t, kHeaderBytes> h{};
    std::copy_n("RIFF", 4, h.begin());
    PutU32(&h[4], 0);
    std::copy_n("WAVE", 4, h.begin() + 8);
    std::copy_n("fmt ", 4, h.begin() + 12);
    PutU32(&h[16], 18u + format_.extraBytes);
    PutU16(&h[20], format_.formatTag);
    PutU16(&h[22], format_.channels);
    PutU32(&h[24], format_.samplesPerSec);
    PutU32(&h[28], format_.avgBytesPerSec);
    PutU16(&h[32], format_.blockAlign);
    PutU16(&h[34], format_.bitsPerSample);
    PutU16(&h[36], 0);  // no extra format bytes follow
    std::copy_n("data", 4, h.begin() + 38);
    PutU32(&h[42], 0);
    return std::fwrite(h.data(), 1, h.size(), file_) == h.size();
}

bool CWaveFileWriter::Open(const std::wstring& path) {
    Close();
    std::lock_guard<std::mutex> guard(fileMutex_);
    file_ = std::fopen(platform::ToUtf8(path).c_str(), "wb");
    if (file_ == nullptr) {
        return false;
    }
    std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBufferBytes);
    if (!WriteHeader()) {
        std::fclose(file_);
        file_ = nullptr;
        return false;
    }
    dataOffset_ = kHeaderBytes;
    dataBytes_ = 0;
    queue_.Reset();
    dropped_.store(0, std::memory_order_relaxed);
    stopping_.store(false, std::memory_order_relaxed);
    running_.store(true, std::memory_order_release);
    thread_ = std::thread([this] { WriterLoop(); });
    return true;
}

bool CWaveFileWriter::PushBlock(const std::uint8_t* block) {
    if (block == nullptr || !running_.load(std::memory_order_acquire) ||
        stopping_.load(std::memory_order_acquire)) {
        return false;
    }
    if (queue_.TryPushCopy(block, 0) == 0) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    wake_.Set();
    return true;
}

void CWaveFileWriter::WriterLoop() {
    bool flushPending = flushOnce_;
    // The sizes are 32-bit: stop appending before they would wrap.
    const std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() - kHeaderBytes;
    for (;;) {
        const std::uint8_t* block = queue_.Front();
        if (block == nullptr) {
            if (stopping_.load(std::memory_order_acquire)) {
                // Producers have stopped; anything queued before was seen.
                if (queue_.Front() == nullptr) {
                    break;
                }
                continue;
            }
            wake_.Wait(20);
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(fileMutex_);
            if (file_ != nullptr && dataBytes_ <= limit - blockLength_) {
                if (std::fwrite(block, 1, blockLength_, file_) == blockLength_) {
                    dataBytes_ += blockLength_;
                }
                if (flushPending && dataBytes_ >= kFlushOnceBytes) {
                    std::fflush(file_);
                    flushPending = false;
                }
            }
        }
        queue_.ReleaseFront();
    }
}

void CWaveFileWriter::Close() {
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        wake_.Set();
        thread_.join();
    }
    running_.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> guard(fileMutex_);
    if (file_ == nullptr) {
        return;
    }
    WriteU32At(file_, static_cast<long>(dataOffset_) - 4, dataBytes_);
    WriteU32At(file_, 4, dataBytes_ + dataOffset_ - 8);
    std::fclose(file_);
    file_ = nullptr;
    queue_.Reset();
    dataOffset_ = 0;
    dataBytes_ = 0;
}
