#pragma once
// A file that one thread appends to while others read it behind the
// writer. Readers get stdio streams whose reads wait for data the writer
// has not published yet instead of returning an early end of file (a
// stream that once saw the end would stay at the end: glibc's end-of-file
// flag is sticky). Only after Finish does a read at the end return 0.
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/AudioResult.h"

namespace platform {

class GrowingFile : public std::enable_shared_from_this<GrowingFile> {
  public:
    // Creates the file anew (an old one is unlinked, not truncated: its
    // readers keep their data), owner-only, never through a symbolic link.
    // The folder must exist.
    static HResult Create(const std::string& path, std::shared_ptr<GrowingFile>* file);
    ~GrowingFile();
    GrowingFile(const GrowingFile&) = delete;
    GrowingFile& operator=(const GrowingFile&) = delete;

    const std::string& Path() const noexcept { return path_; }

    // The writing stream (opened "w+": it can be read back too). Owned by
    // this object until ReleaseWriter.
    std::FILE* Writer() const noexcept { return writer_; }
    // Gives the writing stream away (the taker fcloses it). Publishes first.
    std::FILE* ReleaseWriter();
    // Flushes the writer and wakes waiting readers. False on a write error.
    bool Publish();
    // No more data will come: readers at the end get end of file. Closes
    // the writer unless it was released. Idempotent.
    void Finish();
    bool Finished() const;
    std::uint64_t PublishedBytes() const;

    // A new read stream at offset 0 (nullptr when it cannot be made). It
    // keeps this object alive until fclose.
    std::FILE* OpenReader();

  private:
    explicit GrowingFile(std::string path);
    struct Reader;
    friend struct Reader;

    std::string path_;
    std::FILE* writer_ = nullptr;
    int fd_ = -1;  // a descriptor for positioned reads, independent of the writer
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t published_ = 0;
    bool finished_ = false;
};

}  // namespace platform
