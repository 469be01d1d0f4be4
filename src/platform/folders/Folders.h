#pragma once
// The program's folders and the few file operations the program needs.
// Folder strings are wide, use '/', and end with '/'; file-system calls take
// the wide path and work on its UTF-8 form.
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Full path of the running program (from /proc/self/exe); empty if unknown.
std::wstring ProgramPath();
// Folder of the running program, ending with '/'; empty if unknown.
std::wstring ProgramFolder();

// The common application-data folder: $XDG_DATA_HOME when it is an
// absolute path, else $HOME/.local/share/; empty when neither is known.
std::wstring CommonDataFolder();

// The per-user temporary folder: "vokari/" under $XDG_RUNTIME_DIR when
// that is set and absolute, else "/tmp/vokari-<uid>/". It is created with
// mode 0700; a folder that exists but is not a real directory owned by the
// user is refused (empty result), so that another user cannot prepare it.
std::wstring UserTempFolder();

// Creates the folder and every missing parent. True when it exists as a
// folder afterwards.
bool MakeWholePath(std::wstring_view folder);

bool FileExists(std::wstring_view path);  // a file that is not a folder
bool FolderExists(std::wstring_view path);
bool PathExists(std::wstring_view path);        // file or folder
bool DeleteFile(std::wstring_view path);        // only files; false for a folder
bool DeleteFolderTree(std::wstring_view path);  // the folder and all below it

struct FoundFile {
    std::wstring name;  // file name only
    bool isFolder = false;
};

// The entries of one folder (not its sub-folders) whose names match the
// pattern, sorted by name; "." and ".." are never listed. Patterns use '*'
// (any run) and '?' (one character), compared without regard to ASCII case;
// "*.*" matches every name, with or without a dot.
std::vector<FoundFile> FindFiles(std::wstring_view folder, std::wstring_view pattern);

bool WildcardMatch(std::wstring_view pattern, std::wstring_view name);

// Reads or replaces a whole file. WriteFileAtomically writes a temporary
// file beside the target and renames it into place.
bool ReadWholeFile(std::wstring_view path, std::string& bytes);
bool WriteFileAtomically(std::wstring_view path, std::string_view bytes);

// Joins a folder and a name with exactly one '/' between them.
std::wstring JoinPath(std::wstring_view folder, std::wstring_view name);

}  // namespace platform
