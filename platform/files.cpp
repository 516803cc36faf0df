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

void WriteFileAtomic(const std::string& path, std::string_view data) {
    WriteFileAtomic(path, data, FileSync::Now);
}

void WriteFileAtomic(const std::string& path, std::string_view data, FileSync sync) {
    std::string tmp = path + ".tmp-XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) throw FileError(ErrnoText("Cannot create", path));
    // mkstemp creates 0600; a state file should be readable like any other file the user writes.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string msg = ErrnoText("Cannot write", path);
            close(fd);
            unlink(tmp.c_str());
            throw FileError(msg);
        }
        done += static_cast<size_t>(n);
    }
    if (sync == FileSync::Now && fsync(fd) != 0) {
        const std::string msg = ErrnoText("Cannot write", path);
        close(fd);
        unlink(tmp.c_str());
        throw FileError(msg);
    }
    if (close(fd) != 0) {
        const std::string msg = ErrnoText("Cannot write", path);
        unlink(tmp.c_str());
        throw FileError(msg);
    }
    if (rename(tmp.c_str(), path.c_str()) != 0) {
        const std::string msg = ErrnoText("Cannot replace", path);
        unlink(tmp.c_str());
        throw FileError(msg);
    }
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
