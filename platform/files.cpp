#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {

std::string ErrnoText(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::strerror(err);
}
std::string ErrnoText(const char* what, const std::string& path) {
    return ErrnoText(what, path, errno);
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
}

std::string BaseNameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The process's file-creation mask, read without changing it (umask() would change it for
// every thread for a moment). Nothing in the desk changes it after start.
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        mode_t m = 022;
        if (FILE* f = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, f)) {
                unsigned v = 0;
                if (std::sscanf(line, "Umask: %o", &v) == 1) {
                    m = static_cast<mode_t>(v & 0777);
                    break;
                }
            }
            std::fclose(f);
        }
        return m;
    }();
    return mask;
}

// Whether this process may write the existing file: its permissions decide, and under root,
// which passes every permission check, the file's own write bits.
bool MayWrite(const std::string& path, const struct stat& st) {
    if (geteuid() == 0) return (st.st_mode & 0222) != 0;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

// The temporary file a replacement is written to; removed unless Commit renamed it over the target.
class TempFile {
public:
    TempFile(const std::string& path, FileSync sync)
        : m_path(path), m_target(ResolveFileLinks(path)), m_tmp(m_target + ".tmp-XXXXXX"), m_sync(sync) {
        mode_t mode = 0666 & ~CurrentUmask();
        struct stat st {};
        if (stat(m_target.c_str(), &st) == 0) {
            if (!MayWrite(m_target, st)) throw FileError(ErrnoText("Cannot write", path, EACCES));
            if (S_ISREG(st.st_mode)) mode = st.st_mode & 07777; // the replacement keeps them
        }
        m_fd = mkstemp(m_tmp.data());
        if (m_fd < 0) throw FileError(ErrnoText("Cannot create", path));
        fchmod(m_fd, mode);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (m_fd >= 0) close(m_fd);
        if (!m_committed) unlink(m_tmp.c_str());
    }

    void Write(std::string_view data) {
        size_t done = 0;
        while (done < data.size()) {
            ssize_t n = write(m_fd, data.data() + done, data.size() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                throw FileError(ErrnoText("Cannot write", m_path));
            }
            done += static_cast<size_t>(n);
        }
        m_written += data.size();
        // A long file is handed to the disk while the rest is still being made, so that the
        // flush at the end has less left to wait for.
        if (m_sync == FileSync::Now && m_written - m_started >= kStartWriteback) {
            sync_file_range(m_fd, static_cast<off_t>(m_started), static_cast<off_t>(m_written - m_started),
                            SYNC_FILE_RANGE_WRITE);
            m_started = m_written;
        }
    }

    void Commit(const std::function<void()>& beforeReplace = {}) {
        if (m_sync == FileSync::Now && fsync(m_fd) != 0) throw FileError(ErrnoText("Cannot write", m_path));
        if (beforeReplace) beforeReplace();
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0) throw FileError(ErrnoText("Cannot write", m_path));
        if (rename(m_tmp.c_str(), m_target.c_str()) != 0)
            throw FileError(ErrnoText("Cannot replace", m_path));
        m_committed = true;
    }

private:
    static constexpr size_t kStartWriteback = size_t{8} << 20;
    const std::string& m_path;
    std::string m_target;
    std::string m_tmp;
    FileSync m_sync;
    int m_fd = -1;
    bool m_committed = false;
    size_t m_written = 0, m_started = 0;
};

// "<base>.tmp-" followed by the six letters and digits mkstemp puts in place of XXXXXX.
bool IsTempNameOf(const std::string& name, const std::string& base) {
    const std::string prefix = base + ".tmp-";
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    }
    return true;
}

} // namespace

void WriteFileAtomic(const std::string& path, std::string_view data) {
    WriteFileAtomic(path, data, FileSync::Now);
}

void WriteFileAtomic(const std::string& path, std::string_view data, FileSync sync) {
    TempFile f(path, sync);
    f.Write(data);
    f.Commit();
}

void WriteFileAtomic(const std::string& path, const std::function<void(const FilePieceWriter&)>& produce) {
    TempFile f(path, FileSync::Now);
    produce([&f](std::string_view piece) { f.Write(piece); });
    f.Commit();
}

void WriteFileAtomic(const std::string& path, const std::function<void(const FilePieceWriter&)>& produce,
                     const std::function<void()>& beforeReplace) {
    TempFile f(path, FileSync::Now);
    produce([&f](std::string_view piece) { f.Write(piece); });
    f.Commit(beforeReplace);
}

FileRead ReadStateFile(const std::string& path, size_t cap) {
    FileRead r;
    // Non-blocking, so that opening a FIFO without a writer returns at once.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0)
            r.status = S_ISREG(st.st_mode) ? ReadStatus::Unreadable : ReadStatus::NotRegular;
        else
            r.status = err == ENOENT || err == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
        return r;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close(fd);
        r.status = ReadStatus::Unreadable;
        return r;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        r.status = ReadStatus::NotRegular;
        return r;
    }
    r.size = static_cast<size_t>(st.st_size);
    r.bytes.reserve(r.size < cap ? r.size : cap);
    char buf[65536];
    for (;;) {
        const size_t room = cap - r.bytes.size();
        // One byte beyond the cap tells a file that holds more from one that ends there.
        const size_t want = room < sizeof buf ? room + 1 : sizeof buf;
        ssize_t n = read(fd, buf, want);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            r.status = ReadStatus::Unreadable;
            r.bytes.clear();
            return r;
        }
        if (n == 0) break;
        const size_t got = static_cast<size_t>(n);
        if (got > room) {
            r.bytes.append(buf, room);
            r.truncated = true;
            break;
        }
        r.bytes.append(buf, got);
    }
    close(fd);
    r.status = ReadStatus::Ok;
    return r;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    FileRead r = ReadStateFile(path);
    if (r.status != ReadStatus::Ok || r.truncated) return std::nullopt;
    return std::move(r.bytes);
}

bool SyncFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    int dfd = open(DirectoryOf(ResolveFileLinks(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return ok;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string SetFileAside(const std::string& path) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    for (int n = 0; n < 1000; ++n) {
        std::string target = path + ".damaged-" + stamp + (n ? "-" + std::to_string(n) : std::string());
        struct stat st {};
        if (lstat(target.c_str(), &st) == 0) continue; // taken, even by a link to nothing
        if (rename(path.c_str(), target.c_str()) == 0) return target;
        return {};
    }
    return {};
}

std::string ResolveFileLinks(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return p;
        char buf[4096];
        const ssize_t n = readlink(p.c_str(), buf, sizeof buf);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buf) return p;
        std::string link(buf, static_cast<size_t>(n));
        if (link[0] != '/') {
            const size_t slash = p.find_last_of('/');
            if (slash != std::string::npos) link = p.substr(0, slash + 1) + link;
        }
        p = std::move(link);
    }
    return p;
}

std::vector<std::string> RemoveLeftoverTempFiles(const std::string& path) {
    std::vector<std::string> removed;
    const std::string target = ResolveFileLinks(path);
    for (const std::string& p : {path, target}) {
        if (&p == &target && target == path) break;
        const std::string dir = DirectoryOf(p), base = BaseNameOf(p);
        DIR* d = opendir(dir.c_str());
        if (!d) continue;
        std::vector<std::string> names;
        while (const dirent* e = readdir(d))
            if (IsTempNameOf(e->d_name, base)) names.emplace_back(e->d_name);
        closedir(d);
        for (const std::string& name : names) {
            const std::string full = dir + "/" + name;
            struct stat st {};
            if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) continue;
            if (unlink(full.c_str()) == 0) removed.push_back(full);
        }
    }
    return removed;
}

} // namespace quorvel
