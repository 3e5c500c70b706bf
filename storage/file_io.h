// Whole-file reads and atomic replacement, shared by every store of the container.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tessel::FileIO {

// What tells one version of a file from another without reading it: device, inode, size and
// modification time (nanoseconds).
struct Identity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    bool operator==(const Identity&) const = default;
};

// The identity of `file` (following links); nothing if it cannot be had.
std::optional<Identity> identity(const std::filesystem::path& file);

// Shared files are small; anything larger is damage or an attack, not data.
inline constexpr std::size_t readLimit = 64u << 20;

// Reads a regular file whole. Throws std::system_error: errno of the failing call, EFBIG above
// `limit`, EINVAL for anything that is not a regular file (a FIFO must not block a reader).
// The text has the spare capacity the JSON reader needs to parse it in place. `before`, if
// given, receives the identity the file had before it was read: a file changed since has
// another.
std::string read(const std::filesystem::path& file, std::size_t limit = readLimit,
                 Identity* before = nullptr);

// Creates `directory` and any missing parents with mode 0700. Throws std::system_error.
void makeDirectory(const std::filesystem::path& directory);

// Replaces `file` so that readers see the old or the new bytes, never a mix, even across a
// crash: complete 0600 temporary file beside it, fsync, rename, fsync of the directory.
// Throws std::system_error and leaves no temporary file behind.
void writeAtomically(const std::filesystem::path& file, std::string_view bytes);

// writeAtomically, and with `backup` the file being replaced moves to that name first (a
// hard link renamed over it). One file sync and one directory sync in all: after a crash at any
// instant each name holds one whole version, `backup` the former or its own older one.
void replace(const std::filesystem::path& file, std::string_view bytes,
             const std::optional<std::filesystem::path>& backup);

// The same with the bytes produced in pieces, handed to the given writer. `written`, if given,
// receives the identity of the file written (taken from the file itself before it is renamed).
using Write = std::function<void(std::string_view)>;
using Producer = std::function<void(const Write& write)>;
void replace(const std::filesystem::path& file, const Producer& produce,
             const std::optional<std::filesystem::path>& backup, Identity* written = nullptr);

} // namespace tessel::FileIO
