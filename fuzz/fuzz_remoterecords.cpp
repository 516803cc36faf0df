// The remote link's record reader: any bytes from a terminal machine, cut into records in
// chunks of any size, each record checked against the machine's EA IDs. The records must be
// the bytes that came, in order, whatever the chunks; the check must pass exactly the records
// that name none of the machine's EAs or one of them; and the IDs' text must read back.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/support.h"
#include "fuzz/targets.h"
#include "platform/ealink.h"
#include "platform/linkcerts.h"
#include "platform/tlslink.h"

namespace quorvel::fuzz {

int FuzzRemoteRecords(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    // The machine's IDs: a line of text, as LinkMachines.ini holds it.
    std::string idsText;
    while (!in.Empty()) {
        const char c = static_cast<char>(in.U8());
        if (c == '\n') break;
        idsText += c;
    }
    EaIdRanges ids;
    const bool parsed = EaIdRanges::Parse(idsText, ids);
    if (parsed) {
        EaIdRanges again;
        Check(EaIdRanges::Parse(ids.Text(), again) && again.Text() == ids.Text(), "the IDs' text reads back");
        Check(ids.Overlaps(again) && !ids.Empty(), "parsed IDs are not empty");
    }
    const uint8_t chunk = static_cast<uint8_t>(in.U8() % 23 + 1);
    const std::string stream = in.Rest();
    const auto* bytes = reinterpret_cast<const unsigned char*>(stream.data());

    RecordFramer framer;
    size_t at = 0, records = 0;
    while (at < stream.size()) {
        const size_t n = std::min<size_t>(chunk, stream.size() - at);
        const size_t took = framer.Feed(bytes + at, n);
        Check(took >= 1 && took <= n, "the framer takes what it can");
        at += took;
        if (!framer.Complete()) continue;
        const TMessage m = framer.Take();
        unsigned char again[16];
        EncodeMessage(m, again);
        Check(std::memcmp(again, bytes + records * 16, 16) == 0, "a record is the bytes that came");
        ++records;
        int32_t claimed = 0, named = 0;
        const bool passes = MayClaim(m, ids, claimed);
        const bool namesEa = ClaimedEaId(m, named);
        Check(passes == (!namesEa || ids.Contains(named)), "the claim check passes only the machine's EAs");
        if (!passes) Check(claimed == m.WParam, "a refused claim names the record's EA");
        if (!parsed) Check(passes == !namesEa, "a machine without IDs claims no EA");
    }
    Check(records == stream.size() / 16, "every whole record is read");
    Check(framer.Partial() == stream.size() % 16, "the rest waits for its record");
    return 0;
}

} // namespace quorvel::fuzz
