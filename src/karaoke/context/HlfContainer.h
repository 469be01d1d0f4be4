#pragma once
// The ".hlf" container of kept performances and enciphered lyric files:
//
//   offset 0   FF FF
//          2   version, 1
//          3   key index, 0 to 19
//          4   twelve zero bytes
//         16   the plain bytes with PKCS#7 padding (1 to 16 bytes), AES-128
//              in CBC mode, key and initialisation vector both the selected
//              key-table entry
//
// A plain file of n bytes therefore becomes 16 + n + 16 - n % 16 bytes.
// Deciphering checks everything it relies on (header, key index, whole
// blocks, every pad byte) and says which check failed.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hlf {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint8_t kVersion = 1;
inline constexpr int kKeyCount = 20;

enum class Status {
    Ok,
    TooShort,        // not longer than the header
    NotContainer,    // does not start with FF FF
    BadVersion,      // version byte is not 1
    BadKeyIndex,     // key index outside 0..19
    NotWholeBlocks,  // enciphered part is not a multiple of 16 bytes
    BadPadding,      // pad length outside 1..16, or pad bytes that differ
    BadArgument,     // key index outside 0..19 asked for when sealing
    CipherFailure,   // the cipher library failed
    ReadFailure,     // file could not be opened or read
    WriteFailure,    // file could not be created or written
};

// An English sentence for logs and the command line.
const char* StatusText(Status status);

// True when the bytes look like a container: longer than the header, FF FF,
// version 1. The rest is checked while deciphering.
bool IsContainer(std::span<const std::uint8_t> bytes);

// A key index for a new container, spread over the table.
int RandomKeyIndex();

// Seals plain (which may be empty: the container then holds one block of
// padding) with the key of keyIndex, or a random one when keyIndex is -1.
Status EncipherContainer(std::span<const std::uint8_t> plain, std::vector<std::uint8_t>& out,
                         int keyIndex = -1);

// On success out holds the plain bytes (possibly none); on failure it is
// empty.
Status DecipherContainer(std::span<const std::uint8_t> container, std::vector<std::uint8_t>& out);

// File to file, streamed in slices so that a whole recording is never held
// in memory. The output is written under a temporary name in the same
// folder and renamed into place only when complete: a crash or an error
// leaves either the whole file or none (an existing file is replaced only
// on success). Paths are UTF-8.
Status EncipherFile(const std::string& plainPath, const std::string& containerPath,
                    int keyIndex = -1);
Status DecipherFile(const std::string& containerPath, const std::string& plainPath);

}  // namespace hlf
