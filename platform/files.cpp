#include "platform/files.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvel {

namespace {
std::string ErrnoText(const char* what, const std::string& path) {
    return std::string(what) + " " + path + ": " + std::strerror(errno);
}
} // namespace

namespace {

// The temporary file a replacement is written to; removed unless Commit renamed it over the target.
class TempFile {
public:
    TempFile(const std::string& path, FileSync sync)
        : m_path(path), m_tmp(path + ".tmp-XXXXXX"), m_sync(sync) {
        m_fd = mkstemp(m_tmp.data());
        if (m_fd < 0) throw FileError(ErrnoText("Cannot create", path));
        // mkstemp creates 0600; a state file should be readable like any other file the user writes.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(m_fd, 0666 & ~mask);
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

    void Commit() {
        if (m_sync == FileSync::Now && fsync(m_fd) != 0) throw FileError(ErrnoText("Cannot write", m_path));
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0) throw FileError(ErrnoText("Cannot write", m_path));
        if (rename(m_tmp.c_str(), m_path.c_str()) != 0) throw FileError(ErrnoText("Cannot replace", m_path));
        m_committed = true;
    }

private:
    static constexpr size_t kStartWriteback = size_t{8} << 20;
    const std::string& m_path;
    std::string m_tmp;
    FileSync m_sync;
    int m_fd = -1;
    bool m_committed = false;
    size_t m_written = 0, m_started = 0;
};

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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return out;
}

bool SyncFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash ? slash : 1);
    int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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
        if (FileExists(target)) continue;
        if (rename(path.c_str(), target.c_str()) == 0) return target;
        return {};
    }
    return {};
}

} // namespace quorvel
