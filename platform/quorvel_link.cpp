// The C library of the EA link, over the tools' own clients.
#include "platform/quorvel_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "platform/ealink.h"
#include "platform/tlslink.h"

struct quorvel_link {
    bool remote = false;
    quorvel::LinkClient local;
    quorvel::RemoteLinkClient tls;
    std::string error;
};

namespace {

void CopyError(const std::string& text, char* error, size_t size) {
    if (!error || size == 0) return;
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(error, text.data(), n);
    error[n] = '\0';
}

// Reads the local link's answer: the local client has no receive of its own.
quorvel::TMessage ReceiveLocal(int fd) {
    unsigned char buf[16];
    size_t have = 0;
    while (have < sizeof buf) {
        const ssize_t n = read(fd, buf + have, sizeof buf - have);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw quorvel::LinkError("The desk closed the link");
        have += static_cast<size_t>(n);
    }
    return quorvel::DecodeMessage(buf);
}

} // namespace

extern "C" {

quorvel_link* quorvel_link_connect(const char* host_port, const char* cert_file, char* error,
                                   size_t error_size) {
    CopyError("", error, error_size);
    if (!host_port) {
        CopyError("No address given", error, error_size);
        return nullptr;
    }
    try {
        auto* link = new quorvel_link;
        link->remote = cert_file != nullptr;
        const bool ok =
            link->remote ? link->tls.Connect(host_port, cert_file) : link->local.Connect(host_port);
        if (!ok) {
            CopyError(link->remote ? link->tls.Error() : link->local.Error(), error, error_size);
            delete link;
            return nullptr;
        }
        return link;
    } catch (const std::exception& e) {
        CopyError(e.what(), error, error_size);
        return nullptr;
    }
}

int quorvel_link_send(quorvel_link* link, int32_t msg, int32_t wparam, int32_t lparam) {
    if (!link) return -1;
    link->error.clear();
    try {
        if (link->remote) {
            link->tls.SendRecord(quorvel::TMessage{msg, wparam, lparam, 0});
        } else {
            unsigned char buf[16];
            quorvel::EncodeMessage(quorvel::TMessage{msg, wparam, lparam, 0}, buf);
            link->local.SendRaw(buf, sizeof buf);
        }
        return 0;
    } catch (const std::exception& e) {
        link->error = e.what();
        return -1;
    }
}

int quorvel_link_receive(quorvel_link* link, int32_t* result) {
    if (!link) return -1;
    link->error.clear();
    try {
        const quorvel::TMessage m = link->remote ? link->tls.ReceiveAnswer() : ReceiveLocal(link->local.Fd());
        if (result) *result = m.Result;
        return 0;
    } catch (const std::exception& e) {
        link->error = e.what();
        return -1;
    }
}

int quorvel_link_call(quorvel_link* link, int32_t msg, int32_t wparam, int32_t lparam, int32_t* result) {
    if (quorvel_link_send(link, msg, wparam, lparam) != 0) return -1;
    return quorvel_link_receive(link, result);
}

const char* quorvel_link_error(const quorvel_link* link) {
    return link ? link->error.c_str() : "No link";
}

void quorvel_link_close(quorvel_link* link) {
    delete link;
}

} // extern "C"
