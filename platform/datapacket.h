#pragma once
// The client dataset's XML data packet: the table written as text and read back.
//
// `<DATAPACKET Version="2.0">` with METADATA/FIELDS/FIELD (attrname, fieldtype i4/r8/boolean/
// dateTime, SUBTYPE Money/Autoinc), METADATA/PARAMS and ROWDATA/ROW, one attribute per non-null
// field; booleans TRUE/FALSE, date-times yyyymmddThh:nn:ssmmm. Reading ignores case in type and
// attribute names, takes date-times with or without milliseconds and applies a change log
// (row states 4 inserted, 8 modified, 2 deleted, 1 original of a modified row; PARAMS
// CHANGE_LOG "row original state ...") so that the current data is what loads.
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/timestamp.h"

namespace quorvel {

namespace cds {
struct Table;

std::string WritePacket(const Table& t);
// The same text handed to `put` in pieces of about a megabyte, in order.
void WritePacket(const Table& t, const FilePieceWriter& put);
// The same of a snapshot's rows (TableSnapshot).
struct Snapshot;
void WritePacket(Snapshot& s, const FilePieceWriter& put);
std::shared_ptr<Table> ReadPacket(std::string data);
} // namespace cds

// Text of a real in the packet: the shortest that reads back exactly, as std::to_chars.
std::string PacketReal(double v);
// Date-time text of the packet.
std::string PacketDateTime(TDateTime t);
// Reads a date-time of the packet, with or without milliseconds; false for text that is no
// valid date-time.
bool ParsePacketDateTime(std::string_view s, TDateTime& out);

} // namespace quorvel
