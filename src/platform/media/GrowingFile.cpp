#include "platform/media/GrowingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace platform {

struct GrowingFile::Reader {
    std::shared_ptr<GrowingFile> file;
    int fd = -1;
    std::uint64_t offset = 0;

    static ssize_t Read(void* cookie, char* buffer, size_t size) {
        auto* self = static_cast<Reader*>(cookie);
        GrowingFile& file = *self->file;
        for (;;) {
            const ssize_t n = ::pread(self->fd, buffer, size, static_cast<off_t>(self->offset));
            if (n > 0) {
                self->offset += static_cast<std::uint64_t>(n);
                return n;
            }
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return -1;
            }
            // At the current end: wait for the writer to publish more, or
            // to finish (then this is the real end).
            std::unique_lock lock(file.mutex_);
            if (file.published_ > self->offset) {
                continue;
            }
            if (file.finished_) {
                lock.unlock();
                const ssize_t last =
                    ::pread(self->fd, buffer, size, static_cast<off_t>(self->offset));
                if (last > 0) {
                    self->offset += static_cast<std::uint64_t>(last);
                }
                return last < 0 ? -1 : last;
            }
            // The time-out only guards against a missed wake-up.
            file.changed_.wait_for(lock, std::chrono::milliseconds(200));
        }
    }

    static int Seek(void* cookie, off64_t* position, int whence) {
        auto* self = static_cast<Reader*>(cookie);
        std::int64_t base = 0;
        if (whence == SEEK_CUR) {
            base = static_cast<std::int64_t>(self->offset);
        } else if (whence == SEEK_END) {
            struct stat st {};
            if (::fstat(self->fd, &st) != 0) {
                return -1;
            }
            base = st.st_size;
        } else if (whence != SEEK_SET) {
            errno = EINVAL;
            return -1;
        }
        const std::int64_t target = base + *position;
        if (target < 0) {
            errno = EINVAL;
            return -1;
        }
        self->offset = static_cast<std::uint64_t>(target);
        *position = target;
        return 0;
    }

    static int Close(void* cookie) {
        auto* self = static_cast<Reader*>(cookie);
        ::close(self->fd);
        delete self;
        return 0;
    }
};

GrowingFile::GrowingFile(std::string path) : path_(std::move(path)) {}

GrowingFile::~GrowingFile() {
    Finish();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

HResult GrowingFile::Create(const std::string& path, std::shared_ptr<GrowingFile>* file) {
    if (file == nullptr || path.empty()) {
        return kInvalidArg;
    }
    // A new file, never an old one truncated: a reader of the previous run
    // keeps its data, and a planted link is not followed.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return kAccessDenied;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? kNotFound : kAccessDenied;
    }
    std::FILE* writer = ::fdopen(fd, "w+");
    if (writer == nullptr) {
        ::close(fd);
        return kOutOfMemory;
    }
    std::shared_ptr<GrowingFile> result(new GrowingFile(path));
    result->writer_ = writer;
    result->fd_ = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (result->fd_ < 0) {
        return kAccessDenied;
    }
    *file = std::move(result);
    return kOk;
}

bool GrowingFile::Publish() {
    std::FILE* writer = writer_;
    bool ok = true;
    if (writer != nullptr) {
        ok = std::fflush(writer) == 0;
        // What is really in the file (a failed flush may leave less than
        // the writer's position): readers wait exactly for that much.
        struct stat st {};
        if (::fstat(fd_, &st) == 0) {
            std::lock_guard lock(mutex_);
            if (static_cast<std::uint64_t>(st.st_size) > published_) {
                published_ = static_cast<std::uint64_t>(st.st_size);
            }
        }
    }
    changed_.notify_all();
    return ok;
}

std::FILE* GrowingFile::ReleaseWriter() {
    Publish();
    std::FILE* writer = writer_;
    writer_ = nullptr;
    return writer;
}

void GrowingFile::Finish() {
    if (writer_ != nullptr) {
        Publish();
        std::fclose(writer_);
        writer_ = nullptr;
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

bool GrowingFile::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::uint64_t GrowingFile::PublishedBytes() const {
    std::lock_guard lock(mutex_);
    return published_;
}

std::FILE* GrowingFile::OpenReader() {
    const int fd = ::dup(fd_);
    if (fd < 0) {
        return nullptr;
    }
    auto* reader = new Reader{shared_from_this(), fd, 0};
    cookie_io_functions_t functions{};
    functions.read = &Reader::Read;
    functions.seek = &Reader::Seek;
    functions.close = &Reader::Close;
    std::FILE* stream = ::fopencookie(reader, "r", functions);
    if (stream == nullptr) {
        ::close(fd);
        delete reader;
    }
    return stream;
}

}  // namespace platform
