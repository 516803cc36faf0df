#pragma once
// File helpers shared by every state file: atomic replacement and setting a damaged file aside.
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvel {

class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Replaces `path` with `data`: writes a temporary file in the same directory, flushes it to
// disk and renames it over the target. On any failure the previous file is left as it was,
// the temporary file is removed and FileError is thrown with a readable message.
void WriteFileAtomic(const std::string& path, std::string_view data);

// The same for content made piece by piece, so that a large file need not be held whole in
// memory: `produce` is called once and passes every piece, in order, to the writer it gets.
// The writer throws FileError when a piece cannot be written; whatever `produce` throws leaves
// the previous file as it was and is passed on.
using FilePieceWriter = std::function<void(std::string_view)>;
void WriteFileAtomic(const std::string& path, const std::function<void(const FilePieceWriter&)>& produce);

// Reads the whole file; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Renames `path` to a free name beside it ("<path>.damaged-YYYYMMDD-hhmmss[-n]") so that the
// next save cannot overwrite it. Returns the new name, or empty text when the rename failed.
std::string SetFileAside(const std::string& path);

bool FileExists(const std::string& path);

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
