#pragma once
// Waiting on the link from the EA's side: the desk's answers as they arrive on a socket, and a
// bounded wait for a condition that other threads make true.
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/ealink.h"

namespace quorvel::test {

// Reads `count` answers from fd; fewer when the link closes.
inline std::vector<TMessage> ReadAnswers(int fd, size_t count) {
    std::vector<TMessage> out;
    unsigned char buf[16];
    size_t have = 0;
    while (out.size() < count) {
        const ssize_t n = read(fd, buf + have, sizeof buf - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        if (have == sizeof buf) {
            out.push_back(DecodeMessage(buf));
            have = 0;
        }
    }
    return out;
}

// Waits (at most a generous while, so that a bug fails the test instead of hanging it) until done().
template <typename F> bool Eventually(F done) {
    for (int i = 0; i < 2000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

} // namespace quorvel::test
