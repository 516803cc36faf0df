// A desk in miniature for the C library's test: a link server whose handler answers
// WParam + LParam, with the remote link in front of it on 127.0.0.1. It enrols the machine
// "c-test" for EA IDs 1-5 in a fresh folder, prints "PORT MACHINE-FILE SOCKET-PATH FOLDER" on
// one line, and serves until its standard input ends; then it removes the folder.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

#include "platform/ealink.h"
#include "platform/linkcerts.h"
#include "platform/tlslink.h"

using namespace quorvel;

int main() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-ctest-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const std::string dir = tmpl, socketPath = dir + "/run/TForm3", file = dir + "/c-test.pem";
    int rc = 0;
    try {
        LinkServer server([](TMessage& m) {
            m.Result =
                static_cast<int32_t>(static_cast<uint32_t>(m.WParam) + static_cast<uint32_t>(m.LParam));
        });
        server.Listen(socketPath);
        // The remote link hands its connections over from its own threads; this loop adopts them.
        const int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        std::mutex mutex;
        std::vector<std::unique_ptr<LinkTransport>> handed;
        RemoteLinkServer remote(
            dir,
            [&](std::unique_ptr<LinkTransport> t) {
                std::lock_guard<std::mutex> g(mutex);
                handed.push_back(std::move(t));
                const uint64_t one = 1;
                [[maybe_unused]] ssize_t n = write(wake, &one, sizeof one);
            },
            [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); });
        remote.Listen("127.0.0.1:0");
        EaIdRanges ids;
        EaIdRanges::Parse("1-5", ids);
        EnrolMachine(dir, "c-test", ids, file);
        std::printf("%u %s %s %s\n", static_cast<unsigned>(remote.Port()), file.c_str(), socketPath.c_str(),
                    dir.c_str());
        std::fflush(stdout);
        for (;;) {
            pollfd p[3] = {{server.PollFd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}, {wake, POLLIN, 0}};
            if (poll(p, 3, -1) < 0) continue;
            if (p[2].revents) {
                uint64_t v;
                [[maybe_unused]] ssize_t n = read(wake, &v, sizeof v);
                std::vector<std::unique_ptr<LinkTransport>> take;
                {
                    std::lock_guard<std::mutex> g(mutex);
                    take.swap(handed);
                }
                for (auto& t : take) server.Adopt(std::move(t));
            }
            if (p[0].revents) server.ProcessReady();
            if (p[1].revents) {
                char b[64];
                if (read(STDIN_FILENO, b, sizeof b) <= 0) break;
            }
        }
        remote.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "link_test_desk: %s\n", e.what());
        rc = 1;
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return rc;
}
