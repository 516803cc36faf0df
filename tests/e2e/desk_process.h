#pragma once
// Starts the built desk in a temporary working directory with its own runtime directory, and
// talks to it through the real link.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/ealink.h"

namespace quorvel::e2e {

namespace fs = std::filesystem;

class DeskProcess {
public:
    // root: the working directory; the executable is copied into root/bin, so that its
    // config.ini (kept beside the executable) belongs to this test alone.
    explicit DeskProcess(const fs::path& root) : m_root(root) {
        fs::create_directories(root / "bin");
        fs::create_directories(root / "xdg");
        fs::permissions(root / "xdg", fs::perms::owner_all, fs::perm_options::replace);
        if (!fs::exists(root / "bin" / "quorvel"))
            fs::copy_file(QUORVEL_DESK_BINARY, root / "bin" / "quorvel");
    }
    ~DeskProcess() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    // The open-files limits the next start begins with (0: inherited).
    void SetOpenFilesLimit(rlim_t soft, rlim_t hard) {
        m_filesSoft = soft;
        m_filesHard = hard;
    }
    pid_t Pid() const { return m_pid; }
    // True while the started desk has not ended.
    bool Running() {
        if (m_pid <= 0) return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) != m_pid) return true;
        m_pid = -1;
        m_exitStatus = status;
        return false;
    }

    std::string SocketPath() const { return (m_root / "xdg" / "Quorvel" / "TForm3").string(); }
    fs::path Root() const { return m_root; }

    // Starts the desk and waits until it answers on the link (false on a time-out or an exit).
    bool Start() {
        m_pid = Spawn();
        for (int i = 0; i < 200; ++i) {
            LinkClient probe;
            if (probe.Connect(SocketPath())) return true;
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                m_exitStatus = status;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Starts a desk that is expected to end by itself; returns its exit code.
    int RunToExit() {
        const pid_t pid = Spawn();
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return -2;
    }

    // SIGTERM and wait for the exit; returns the exit code (-1 when killed by a signal).
    int Stop(int sig = SIGTERM) {
        if (m_pid <= 0) return -3;
        kill(m_pid, sig);
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return -2;
    }

    void Kill() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

    std::string StdErr() const {
        std::ifstream in(m_root / "stderr.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    pid_t Spawn() {
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(m_root.c_str()) != 0) _exit(126);
            setenv("XDG_RUNTIME_DIR", (m_root / "xdg").c_str(), 1);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            if (m_filesHard > 0) {
                const rlimit rl{m_filesSoft, m_filesHard};
                if (setrlimit(RLIMIT_NOFILE, &rl) != 0) _exit(125);
            }
            FILE* err = std::fopen((m_root / "stderr.log").c_str(), "a");
            if (err) dup2(fileno(err), 2);
            const std::string exe = (m_root / "bin" / "quorvel").string();
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }

    fs::path m_root;
    pid_t m_pid = -1;
    int m_exitStatus = 0;
    rlim_t m_filesSoft = 0, m_filesHard = 0;
};

} // namespace quorvel::e2e
