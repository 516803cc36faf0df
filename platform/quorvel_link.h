/* The EA link for EAs written in other languages: connect to the desk, send a record, receive
 * its answer. Plain C; link with -lquorvel_link.
 *
 * A record is four signed 32-bit integers: the message number, WParam, LParam and Result. The
 * desk answers each record with the same record, Result set; one record is in flight per
 * connection, so every send is followed by its receive before the next send. */
#ifndef QUORVEL_LINK_H
#define QUORVEL_LINK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct quorvel_link quorvel_link;

/* Connects to a desk on another machine over TLS: `host_port` is "host:port" or "[v6]:port",
 * `cert_file` the machine's file written by `quorvel-ea enrol`. With `cert_file` NULL,
 * `host_port` is the path of the desk's local socket instead. Returns NULL on failure, with
 * the reason in `error` (when not NULL, cut to `error_size` bytes, always terminated). */
quorvel_link* quorvel_link_connect(const char* host_port, const char* cert_file, char* error,
                                   size_t error_size);

/* Sends one record (Result is sent as 0). Returns 0, or -1 when the link broke. */
int quorvel_link_send(quorvel_link* link, int32_t msg, int32_t wparam, int32_t lparam);

/* Waits for the answer to the record sent last and stores its Result. Returns 0, or -1 when
 * the link broke (the desk closed it: for example, a record named another machine's EA). */
int quorvel_link_receive(quorvel_link* link, int32_t* result);

/* Send and receive in one call. Returns 0 or -1 as they do. */
int quorvel_link_call(quorvel_link* link, int32_t msg, int32_t wparam, int32_t lparam, int32_t* result);

/* Why the last call failed ("" when it did not). Valid until the next call on `link`. */
const char* quorvel_link_error(const quorvel_link* link);

/* Closes the link and frees it. NULL is allowed. */
void quorvel_link_close(quorvel_link* link);

#ifdef __cplusplus
}
#endif

#endif
