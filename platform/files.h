#pragma once
// File helpers shared by every state file: reading without hanging on special files, atomic
// replacement, setting a damaged file aside, and clearing what killed saves left behind.
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces `path` with `data`: writes a temporary file in the same directory, flushes it to
// disk and renames it over the target. On any failure the previous file is left as it was,
// the temporary file is removed and FileError is thrown with a readable message.
// A symbolic link is followed: its final target is replaced, from a temporary file in the
// target's own directory, and the link stays a link. A target that exists but cannot be
// written (its permissions forbid it; under root, which ignores them, when it has no write
// bit at all) is refused before anything is written. The replacement keeps the target's
// permission bits. No global state: safe to call from any thread.
void WriteFileAtomic(const std::string& path, std::string_view data);

// The same for content made piece by piece, so that a large file need not be held whole in
// memory: `produce` is called once and passes every piece, in order, to the writer it gets.
// The writer throws FileError when a piece cannot be written; whatever `produce` throws leaves
// the previous file as it was and is passed on.
using FilePieceWriter = std::function<void(std::string_view)>;
void WriteFileAtomic(const std::string& path, const std::function<void(const FilePieceWriter&)>& produce);
// The same, with `beforeReplace` called once the new content is on disk and before it is
// renamed over the target; what it throws leaves the previous file as it was and is passed on.
void WriteFileAtomic(const std::string& path, const std::function<void(const FilePieceWriter&)>& produce,
                     const std::function<void()>& beforeReplace);

// What reading a state file found.
enum class ReadStatus {
    Ok,         // a regular file, read (see `truncated`)
    Missing,    // no file (or a link to nothing)
    NotRegular, // a directory, FIFO, device, socket, or a link to one: not read at all
    Unreadable, // exists but could not be opened or read
};
struct FileRead {
    ReadStatus status = ReadStatus::Missing;
    std::string bytes;      // what was read; at most the cap
    size_t size = 0;        // the file's size as the system gives it (regular files)
    bool truncated = false; // the file holds more than the cap; only the cap was read
};

// Far above any real state file; a larger one is not taken whole.
constexpr size_t kStateFileReadCap = size_t{1} << 30;

// Reads a state file without ever blocking: opened non-blocking, only a regular file is read,
// and never more than `cap` bytes.
FileRead ReadStateFile(const std::string& path, size_t cap = kStateFileReadCap);

// Reads the whole file; nullopt when it cannot be opened, is not a regular file, or holds
// more than kStateFileReadCap bytes.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Renames `path` to a free name beside it ("<path>.damaged-YYYYMMDD-hhmmss[-n]") so that the
// next save cannot overwrite it. Works for anything standing under the name (a link is renamed
// itself, not its target). Returns the new name, or empty text when the rename failed.
std::string SetFileAside(const std::string& path);

bool FileExists(const std::string& path);

// The final target of a chain of symbolic links (relative links resolved against their own
// directory); `path` itself when it is no link. A target that does not exist is still named.
std::string ResolveFileLinks(const std::string& path);

// Removes the temporary files that replacements of `path` (and of its link target) leave when
// the process dies in the middle: "<name>.tmp-XXXXXX" beside the file, regular and owned by
// this user. Only safe while no other process of this user can be saving the same file.
// Returns the names removed.
std::vector<std::string> RemoveLeftoverTempFiles(const std::string& path);

// ---- replacements made durable later ----------------------------------------------------
// A writer that replaces the same file many times in a row (the INI accessor) need not flush
// each version to disk: FileSync::Later renames without flushing first. The replacement stays
// all-or-nothing for every reader and for a crash of the program; SyncFile afterwards makes the
// last version durable against a crash of the system as well.
enum class FileSync { Now, Later };
void WriteFileAtomic(const std::string& path, std::string_view data, FileSync sync);
// Flushes the file's data and its directory entry to disk; false when that fails.
bool SyncFile(const std::string& path);

} // namespace quorvel
