#pragma once
// Fuzz targets: each takes one input of any bytes, runs it through one reader or the message
// dispatch, checks what must hold, and returns 0. A fault aborts (or a sanitizer stops the run).
// The same functions run under libFuzzer and, without clang, from the seeded generator of the
// fallback unit test.
#include <cstddef>
#include <cstdint>

namespace quorvel::fuzz {

// Orderlist.xml: the packet reader, the desk's order-list cursors, save and reload.
int FuzzOrderList(const uint8_t* data, size_t size);
// config.ini: the INI accessor's reads and writes, and the desk's settings reader.
int FuzzProfile(const uint8_t* data, size_t size);
// Data.dat: the desk's snapshot load, the tables drawn from it, save and reload.
int FuzzDataDat(const uint8_t* data, size_t size);
// Notifications.txt: decoding, load, save and reload.
int FuzzNotifications(const uint8_t* data, size_t size);
// The EA messages: a run of messages, interleaved with clock steps and operator ticks, handed
// to Dispatch of a desk with plain controls and view.
int FuzzDispatch(const uint8_t* data, size_t size);
// The remote link's record reader: a machine's EA IDs, then a stream of any bytes in chunks.
int FuzzRemoteRecords(const uint8_t* data, size_t size);

using Target = int (*)(const uint8_t*, size_t);
struct NamedTarget {
    const char* name; // also the corpus folder's name
    Target fn;
};
inline constexpr NamedTarget kTargets[] = {
    {"orderlist", FuzzOrderList},         {"profile", FuzzProfile},   {"datadat", FuzzDataDat},
    {"notifications", FuzzNotifications}, {"dispatch", FuzzDispatch}, {"remoterecords", FuzzRemoteRecords},
};

} // namespace quorvel::fuzz
