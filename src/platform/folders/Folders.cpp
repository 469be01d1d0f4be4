#include "platform/folders/Folders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/text/Utf.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

fs::path ToPath(std::wstring_view path) {
    return fs::path(ToUtf8(path));
}

std::wstring WithSlash(std::wstring folder) {
    if (!folder.empty() && folder.back() != L'/') {
        folder += L'/';
    }
    return folder;
}

std::wstring EnvFolder(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return WithSlash(FromUtf8(value));
}

wchar_t FoldAscii(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
}

// Makes sure a temp folder is ours and private. The folder is created if it
// is missing; an existing one must be a real directory (not a link) owned
// by this user, and its mode is narrowed to 0700.
bool EnsurePrivateFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
    if (ok && (st.st_mode & 0777) != 0700) {
        ok = fchmod(fd, 0700) == 0;
    }
    close(fd);
    return ok;
}

}  // namespace

std::wstring ProgramPath() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return FromUtf8(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring ProgramFolder() {
    const std::wstring path = ProgramPath();
    const auto slash = path.rfind(L'/');
    if (slash == std::wstring::npos) {
        return {};
    }
    return path.substr(0, slash + 1);
}

std::wstring CommonDataFolder() {
    std::wstring folder = EnvFolder("XDG_DATA_HOME");
    if (!folder.empty()) {
        return folder;
    }
    folder = EnvFolder("HOME");
    if (!folder.empty()) {
        return folder + L".local/share/";
    }
    return {};
}

std::wstring UserTempFolder() {
    std::string folder;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        folder = runtime;
        if (folder.back() != '/') {
            folder += '/';
        }
        folder += "vokari";
    } else {
        folder = "/tmp/vokari-" + std::to_string(geteuid());
    }
    if (!EnsurePrivateFolder(folder)) {
        return {};
    }
    return FromUtf8(folder) + L'/';
}

bool MakeWholePath(std::wstring_view folder) {
    if (folder.empty()) {
        return false;
    }
    std::error_code ec;
    const fs::path p = ToPath(folder);
    fs::create_directories(p, ec);
    return fs::is_directory(p, ec);
}

bool FileExists(std::wstring_view path) {
    std::error_code ec;
    const auto st = fs::status(ToPath(path), ec);
    return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool FolderExists(std::wstring_view path) {
    std::error_code ec;
    return fs::is_directory(ToPath(path), ec);
}

bool PathExists(std::wstring_view path) {
    std::error_code ec;
    return fs::exists(ToPath(path), ec);
}

bool DeleteFile(std::wstring_view path) {
    const std::string p = ToUtf8(path);
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    return unlink(p.c_str()) == 0;
}

bool DeleteFolderTree(std::wstring_view path) {
    std::error_code ec;
    const fs::path p = ToPath(path);
    if (!fs::is_directory(fs::symlink_status(p, ec))) {
        return false;
    }
    fs::remove_all(p, ec);
    return !ec;
}

bool WildcardMatch(std::wstring_view pattern, std::wstring_view name) {
    if (pattern == L"*.*") {
        return true;
    }
    // Iterative match with one back-tracking point for the last '*'.
    std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == L'?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::wstring_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<FoundFile> FindFiles(std::wstring_view folder, std::wstring_view pattern) {
    std::vector<FoundFile> found;
    std::error_code ec;
    fs::directory_iterator it(ToPath(folder), ec);
    if (ec) {
        return found;
    }
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) {
            break;
        }
        const std::wstring name = FromUtf8(it->path().filename().string());
        if (!WildcardMatch(pattern, name)) {
            continue;
        }
        std::error_code typeEc;
        found.push_back({name, it->is_directory(typeEc)});
    }
    std::sort(found.begin(), found.end(),
              [](const FoundFile& a, const FoundFile& b) { return a.name < b.name; });
    return found;
}

bool ReadWholeFile(std::wstring_view path, std::string& bytes) {
    bytes.clear();
    std::ifstream in(ToPath(path), std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFileAtomically(std::wstring_view path, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    const std::string target = ToUtf8(path);
    const std::string temp =
        target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    bool ok = true;
    while (left > 0) {
        const ssize_t n = write(fd, data, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    // Keep the old file's permission bits where there is one.
    struct stat st {};
    if (ok && stat(target.c_str(), &st) == 0) {
        fchmod(fd, st.st_mode & 07777);
    }
    ok = (fsync(fd) == 0) && ok;
    ok = (close(fd) == 0) && ok;
    if (ok && rename(temp.c_str(), target.c_str()) == 0) {
        return true;
    }
    unlink(temp.c_str());
    return false;
}

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
    std::wstring out(folder);
    while (!name.empty() && name.front() == L'/') {
        name.remove_prefix(1);
    }
    if (!out.empty() && out.back() != L'/') {
        out += L'/';
    }
    out += name;
    return out;
}

}  // namespace platform
