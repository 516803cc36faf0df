// The client dataset's XML data packet: writing and reading.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <pugixml.hpp>

#include "platform/ascii.h"
#include "platform/clientdataset.h"
#include "platform/clientdataset_table.h"
#include "platform/datapacket.h"
#include "platform/files.h"

namespace quorvel {

namespace {

bool Digits(std::string_view s, size_t at, size_t n, int& out) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    out = v;
    return true;
}

void PutEscaped(std::string& out, std::string_view s) {
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
}

pugi::xml_node ChildI(pugi::xml_node parent, std::string_view name) {
    for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && AsciiSameText(n.name(), name)) return n;
    return {};
}

pugi::xml_attribute AttrI(pugi::xml_node node, std::string_view name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (AsciiSameText(a.name(), name)) return a;
    return {};
}

bool ParseI64(std::string_view s, int64_t& out) {
    if (s.empty()) return false;
    auto res = std::from_chars(s.data(), s.data() + s.size(), out, 10);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

bool ParseI32(std::string_view s, double& out) {
    int64_t v;
    if (!ParseI64(s, v) || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<double>(v);
    return true;
}

bool ParseR8(std::string_view s, double& out) {
    if (s.empty()) return false;
    auto res = std::from_chars(s.data(), s.data() + s.size(), out, std::chars_format::general);
    return res.ec == std::errc() && res.ptr == s.data() + s.size() && std::isfinite(out);
}

struct ParsedRow {
    std::vector<double> v;
    uint64_t nulls;
    uint64_t present = 0; // attributes the row carried
    int state = 0;
    bool dropped = false;
};

} // namespace

namespace {

// The date part of the last date-time written in a column: the rows of a list mostly fall on
// few days, so the calendar is worked out once per day, not once per value.
struct DateText {
    int64_t days = INT64_MIN;
    char text[8];
};

char* PutDateTime(char* b, TDateTime t, DateText& date) {
    // Whole milliseconds as DecodeDateTime counts them.
    const int64_t ms = static_cast<int64_t>(std::round(t * 86400000.0));
    const int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86400000 - 1) / 86400000);
    const int dayMs = static_cast<int>(ms - days * 86400000);
    if (days != date.days) {
        const DateTimeParts p = DecodeDateTime(t);
        const int y = p.year;
        char* d = date.text;
        d[0] = static_cast<char>('0' + y / 1000 % 10);
        d[1] = static_cast<char>('0' + y / 100 % 10);
        d[2] = static_cast<char>('0' + y / 10 % 10);
        d[3] = static_cast<char>('0' + y % 10);
        d[4] = static_cast<char>('0' + p.month / 10 % 10);
        d[5] = static_cast<char>('0' + p.month % 10);
        d[6] = static_cast<char>('0' + p.day / 10 % 10);
        d[7] = static_cast<char>('0' + p.day % 10);
        date.days = days;
    }
    std::memcpy(b, date.text, 8);
    auto two = [&](int at, int v) {
        b[at] = static_cast<char>('0' + v / 10 % 10);
        b[at + 1] = static_cast<char>('0' + v % 10);
    };
    const int msec = dayMs % 1000;
    b[8] = 'T';
    two(9, dayMs / 3600000);
    b[11] = ':';
    two(12, dayMs / 60000 % 60);
    b[14] = ':';
    two(15, dayMs / 1000 % 60);
    b[17] = static_cast<char>('0' + msec / 100);
    two(18, msec % 100);
    return b + 20;
}

// The shortest text that reads back as `v`, as std::to_chars writes it, but quicker for the
// values an order list holds: prices, lots and sums with a few decimals. For those the digits
// are found by scaling with a power of ten: if the integer m nearest to |v|·10^k gives back v on
// division by 10^k (both exact doubles, so the division rounds as reading the text would), then
// m with k decimals is a text of v, and the smallest such k is the shortest one. Below 10^15
// there is at most one such m for each k, so no other text of as few digits exists. Everything
// else (more digits, very large or very small values, zero) goes to std::to_chars.
char* PutReal(char* w, double v) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double a = std::fabs(v);
    if (a > 0 && a < 1e15) {
        for (int k = 0; k <= 22; ++k) {
            const double s = a * kPow10[k];
            if (s >= 1e15) break;
            const int64_t m = static_cast<int64_t>(s + 0.5);
            const double dm = static_cast<double>(m);
            // a candidate lies within a few units of the last place of s; the division decides
            if (std::fabs(s - dm) > s * 0x1p-50 || dm / kPow10[k] != a) continue;
            char digits[24];
            const int n = static_cast<int>(std::to_chars(digits, digits + sizeof digits, m).ptr - digits);
            int d = n; // significant digits: trailing zeros only where k is 0
            while (d > 1 && digits[d - 1] == '0') --d;
            const int e = n - 1 - k; // exponent of the first digit
            const int fixedLen = k == 0 ? n : n > k ? n + 1 : k + 2;
            const int sciLen = d + (d > 1 ? 1 : 0) + 2 + (e <= -100 || e >= 100 ? 3 : 2);
            if (v < 0) *w++ = '-';
            if (fixedLen <= sciLen) {
                if (k == 0) {
                    std::memcpy(w, digits, static_cast<size_t>(n));
                    return w + n;
                }
                if (n > k) {
                    std::memcpy(w, digits, static_cast<size_t>(n - k));
                    w += n - k;
                    *w++ = '.';
                    std::memcpy(w, digits + n - k, static_cast<size_t>(k));
                    return w + k;
                }
                *w++ = '0';
                *w++ = '.';
                std::memset(w, '0', static_cast<size_t>(k - n));
                w += k - n;
                std::memcpy(w, digits, static_cast<size_t>(n));
                return w + n;
            }
            *w++ = digits[0];
            if (d > 1) {
                *w++ = '.';
                std::memcpy(w, digits + 1, static_cast<size_t>(d - 1));
                w += d - 1;
            }
            *w++ = 'e';
            *w++ = e < 0 ? '-' : '+';
            const int ae = e < 0 ? -e : e;
            if (ae >= 100) *w++ = static_cast<char>('0' + ae / 100);
            *w++ = static_cast<char>('0' + ae / 10 % 10);
            *w++ = static_cast<char>('0' + ae % 10);
            return w;
        }
    }
    return std::to_chars(w, w + 30, v).ptr;
}

// Collects text in a buffer of about a megabyte and hands it on whenever the next row might
// not fit, so that a long list never sits in memory twice.
class PieceBuffer {
public:
    PieceBuffer(size_t rowBound, const FilePieceWriter& put)
        : m_cap(std::max(kPiece, 2 * rowBound)), m_data(new char[m_cap]), m_put(put) {}

    // Room for at least n bytes at the returned position; Used then says where the text ends.
    char* Room(size_t n) {
        if (m_cap - m_len < n) Flush();
        return m_data.get() + m_len;
    }
    void Used(char* end) { m_len = static_cast<size_t>(end - m_data.get()); }

    void Text(std::string_view s) {
        if (m_cap - m_len < s.size()) Flush();
        if (s.size() > m_cap) {
            m_put(s);
            return;
        }
        std::memcpy(m_data.get() + m_len, s.data(), s.size());
        m_len += s.size();
    }

    void Flush() {
        if (m_len) m_put(std::string_view(m_data.get(), m_len));
        m_len = 0;
    }

private:
    static constexpr size_t kPiece = size_t{1} << 20;
    size_t m_cap;
    size_t m_len = 0;
    std::unique_ptr<char[]> m_data;
    const FilePieceWriter& m_put;
};

// The most a row can take: "<ROW", per field its ` name="`, the longest value and '"', "/>".
size_t RowBound(const std::vector<std::string>& prefix) {
    size_t bound = 8;
    for (const std::string& p : prefix) bound += p.size() + 32;
    return bound;
}

std::vector<std::string> AttributePrefixes(const std::vector<FieldDef>& defs) {
    std::vector<std::string> prefix; // ` name="`
    for (const FieldDef& d : defs) {
        std::string p = " ";
        PutEscaped(p, d.name);
        p += "=\"";
        prefix.push_back(std::move(p));
    }
    return prefix;
}

} // namespace

std::string PacketReal(double v) {
    char b[32];
    return std::string(b, PutReal(b, v));
}

std::string PacketDateTime(TDateTime t) {
    char b[24];
    DateText date;
    return std::string(b, PutDateTime(b, t, date));
}

bool ParsePacketDateTime(std::string_view s, TDateTime& out) {
    int y, mo, d, h = 0, mi = 0, sec = 0, ms = 0;
    if (!Digits(s, 0, 4, y) || !Digits(s, 4, 2, mo) || !Digits(s, 6, 2, d)) return false;
    if (s.size() != 8) {
        if (s.size() != 17 && s.size() != 20) return false;
        if ((s[8] != 'T' && s[8] != 't') || s[11] != ':' || s[14] != ':') return false;
        if (!Digits(s, 9, 2, h) || !Digits(s, 12, 2, mi) || !Digits(s, 15, 2, sec)) return false;
        if (s.size() == 20 && !Digits(s, 17, 3, ms)) return false;
    }
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || mo < 1 || mo > 12 || d < 1) return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (d > kDays[mo - 1] + (mo == 2 && leap ? 1 : 0)) return false;
    if (h > 23 || mi > 59 || sec > 59 || ms > 999) return false;
    out = EncodeDateTime(y, mo, d, h, mi, sec, ms);
    return true;
}

namespace cds {

namespace {

// A text as attribute value: the markup characters and the line and tab characters (which a
// reader would turn into blanks) as references. At most six bytes per character.
char* PutAttributeText(char* w, std::string_view s) {
    for (char c : s) {
        const char* ref = nullptr;
        switch (c) {
        case '&':
            ref = "&amp;";
            break;
        case '<':
            ref = "&lt;";
            break;
        case '>':
            ref = "&gt;";
            break;
        case '"':
            ref = "&quot;";
            break;
        case '\n':
            ref = "&#10;";
            break;
        case '\r':
            ref = "&#13;";
            break;
        case '\t':
            ref = "&#9;";
            break;
        default:
            *w++ = c;
            continue;
        }
        const size_t n = std::strlen(ref);
        std::memcpy(w, ref, n);
        w += n;
    }
    return w;
}

// The packet of a table's columns and rows; forEachRow(fn) calls fn(const Record&) for every
// row in natural order. textOf(cell) gives the text of a string cell; widths the longest text
// of each string column.
template <class Rows, class TextOf>
void WriteRows(const std::vector<FieldDef>& defs, int autoIncColumn, int64_t nextAutoInc, Rows&& forEachRow,
               TextOf&& textOf, const std::vector<size_t>& widths, const FilePieceWriter& put) {
    std::string head;
    head += "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    for (const FieldDef& d : defs) {
        head += "<FIELD attrname=\"";
        PutEscaped(head, d.name);
        head += "\" fieldtype=\"";
        switch (d.type) {
        case FieldType::Integer:
            head += "i4\"";
            break;
        case FieldType::AutoInc:
            head += "i4\" readonly=\"true\" SUBTYPE=\"Autoinc\"";
            break;
        case FieldType::Float:
            head += "r8\"";
            break;
        case FieldType::Currency:
            head += "r8\" SUBTYPE=\"Money\"";
            break;
        case FieldType::DateTime:
            head += "dateTime\"";
            break;
        case FieldType::Boolean:
            head += "boolean\"";
            break;
        case FieldType::String:
            head += "string\" WIDTH=\"";
            head += std::to_string(std::max<size_t>(1, widths[static_cast<size_t>(&d - defs.data())]));
            head += '"';
            break;
        }
        head += "/>";
    }
    head += "</FIELDS><PARAMS";
    if (autoIncColumn >= 0) {
        head += " AUTOINCVALUE=\"";
        head += std::to_string(nextAutoInc);
        head += '"';
    }
    head += "/></METADATA><ROWDATA>";

    const std::vector<std::string> prefix = AttributePrefixes(defs);
    const size_t rowBound = RowBound(prefix);
    const size_t nf = defs.size();
    std::vector<DateText> dates(nf);
    PieceBuffer out(rowBound, put);
    out.Text(head);
    std::vector<int> textColumns;
    for (size_t c = 0; c < nf; ++c)
        if (defs[c].type == FieldType::String) textColumns.push_back(static_cast<int>(c));
    std::vector<std::string> texts(nf);
    std::string textRow; // a row with texts is put together here: it may be of any length
    forEachRow([&](const Record& r) {
        size_t extra = 0;
        for (int c : textColumns)
            if (!r.IsNull(c)) {
                texts[static_cast<size_t>(c)] = textOf(r.v[static_cast<size_t>(c)]);
                extra += 6 * texts[static_cast<size_t>(c)].size();
            }
        char* w;
        if (extra == 0) {
            w = out.Room(rowBound);
        } else {
            textRow.resize(rowBound + extra);
            w = textRow.data();
        }
        char* const start = w;
        std::memcpy(w, "<ROW", 4);
        w += 4;
        for (size_t c = 0; c < nf; ++c) {
            if (r.IsNull(static_cast<int>(c))) continue;
            std::memcpy(w, prefix[c].data(), prefix[c].size());
            w += prefix[c].size();
            const double v = r.v[c];
            switch (defs[c].type) {
            case FieldType::Integer:
            case FieldType::AutoInc:
                w = std::to_chars(w, w + 24, static_cast<int64_t>(v)).ptr;
                break;
            case FieldType::Float:
            case FieldType::Currency:
                w = PutReal(w, v);
                break;
            case FieldType::DateTime:
                w = PutDateTime(w, v, dates[c]);
                break;
            case FieldType::Boolean:
                if (v != 0.0) {
                    std::memcpy(w, "TRUE", 4);
                    w += 4;
                } else {
                    std::memcpy(w, "FALSE", 5);
                    w += 5;
                }
                break;
            case FieldType::String:
                w = PutAttributeText(w, texts[c]);
                break;
            }
            *w++ = '"';
        }
        *w++ = '/';
        *w++ = '>';
        if (extra == 0)
            out.Used(w);
        else
            out.Text(std::string_view(start, static_cast<size_t>(w - start)));
    });
    out.Text("</ROWDATA></DATAPACKET>\n");
    out.Flush();
}

} // namespace

void WritePacket(const Table& t, const FilePieceWriter& put) {
    std::vector<size_t> widths(t.defs.size(), 0);
    for (size_t c = 0; c < t.defs.size(); ++c)
        if (t.defs[c].type == FieldType::String)
            for (const auto& r : t.records)
                if (!r->IsNull(static_cast<int>(c)))
                    widths[c] = std::max(widths[c], t.TextOf(r->v[c]).size());
    WriteRows(
        t.defs, t.autoIncColumn, t.nextAutoInc,
        [&t](const auto& fn) {
            for (const auto& r : t.records) fn(*r);
        },
        [&t](double id) { return t.TextOf(id); }, widths, put);
}

void WritePacket(Snapshot& s, const FilePieceWriter& put) {
    std::vector<size_t> widths(s.defs.size(), 0);
    const Table& t = *s.table;
    bool anyText = false;
    for (const FieldDef& d : s.defs) anyText = anyText || d.type == FieldType::String;
    if (anyText)
        s.ForEachRow([&](const Record& r) {
            for (size_t c = 0; c < s.defs.size(); ++c)
                if (s.defs[c].type == FieldType::String && !r.IsNull(static_cast<int>(c)))
                    widths[c] = std::max(widths[c], t.LockedTextOf(r.v[c]).size());
        });
    WriteRows(
        s.defs, s.autoIncColumn, s.nextAutoInc, [&s](const auto& fn) { s.ForEachRow(fn); },
        [&t](double id) { return t.LockedTextOf(id); }, widths, put);
}

std::string WritePacket(const Table& t) {
    std::string text;
    // Room for the longest rows up front: the text is copied once, and pages it does not use
    // are never touched.
    text.reserve(4096 + t.defs.size() * 64 + t.records.size() * RowBound(AttributePrefixes(t.defs)));
    WritePacket(t, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

std::shared_ptr<Table> ReadPacket(std::string data) {
    pugi::xml_document doc;
    const pugi::xml_parse_result res =
        doc.load_buffer_inplace(data.data(), data.size(), pugi::parse_minimal | pugi::parse_escapes);
    if (!res)
        throw DataSetError(std::string("The file is no readable XML data packet (") + res.description() +
                           ")");
    const pugi::xml_node root = doc.document_element();
    if (!root || !AsciiSameText(root.name(), "DATAPACKET")) throw DataSetError("The file is no data packet");
    const pugi::xml_node meta = ChildI(root, "METADATA");
    const pugi::xml_node fields = ChildI(meta, "FIELDS");
    if (!meta || !fields) throw DataSetError("The data packet has no field definitions");

    std::vector<FieldDef> defs;
    std::vector<std::pair<std::string, std::string>> foreign;
    for (pugi::xml_node f = fields.first_child(); f; f = f.next_sibling()) {
        if (f.type() != pugi::node_element || !AsciiSameText(f.name(), "FIELD")) continue;
        const std::string name = AttrI(f, "attrname").value();
        const std::string type = AttrI(f, "fieldtype").value();
        const std::string sub = AttrI(f, "SUBTYPE").value();
        FieldType ft;
        if (AsciiSameText(type, "i4"))
            ft = AsciiSameText(sub, "Autoinc") ? FieldType::AutoInc : FieldType::Integer;
        else if (AsciiSameText(type, "r8"))
            ft = AsciiSameText(sub, "Money") ? FieldType::Currency : FieldType::Float;
        else if (AsciiSameText(type, "boolean"))
            ft = FieldType::Boolean;
        else if (AsciiSameText(type, "dateTime"))
            ft = FieldType::DateTime;
        else if (AsciiSameText(type, "string") || AsciiSameText(type, "string.uni"))
            ft = FieldType::String;
        else {
            if (name.empty()) throw DataSetError("Field name missing");
            foreign.emplace_back(name, type); // a column of another kind: passed over
            continue;
        }
        defs.push_back({name, ft});
    }
    auto table = std::make_shared<Table>(std::move(defs)); // checks names and count
    for (size_t i = 0; i < foreign.size(); ++i) {
        const std::string& name = foreign[i].first;
        bool duplicate = table->Column(name) >= 0;
        for (size_t k = 0; k < i && !duplicate; ++k) duplicate = AsciiSameText(foreign[k].first, name);
        if (duplicate) throw DataSetError("Duplicate field name '" + name + "'");
    }
    table->foreign = std::move(foreign);
    const auto& d = table->defs;
    const size_t nf = d.size();

    int64_t autoIncParam = 0;
    std::vector<int64_t> changeLog;
    if (const pugi::xml_node params = ChildI(meta, "PARAMS")) {
        if (const pugi::xml_attribute a = AttrI(params, "AUTOINCVALUE")) {
            if (!ParseI64(a.value(), autoIncParam) || autoIncParam < 0 || autoIncParam > INT32_MAX)
                throw DataSetError(std::string("Invalid key counter '") + a.value() + "'");
        }
        if (const pugi::xml_attribute a = AttrI(params, "CHANGE_LOG")) {
            std::string_view s = a.value();
            while (!s.empty()) {
                const size_t sp = s.find_first_not_of(" \t\r\n");
                if (sp == std::string_view::npos) break;
                s.remove_prefix(sp);
                const size_t end = std::min(s.find_first_of(" \t\r\n"), s.size());
                int64_t v;
                if (!ParseI64(s.substr(0, end), v)) throw DataSetError("Invalid change log");
                changeLog.push_back(v);
                s.remove_prefix(end);
            }
            if (changeLog.size() % 3 != 0) throw DataSetError("Invalid change log");
        }
    }

    // Names as written, for the usual exact match; the lower-case table for the rest.
    std::vector<const char*> names;
    for (const FieldDef& f : d) names.push_back(f.name.c_str());
    const uint64_t allNull = nf >= 64 ? ~0ull : (1ull << nf) - 1;

    std::vector<ParsedRow> rows;
    const pugi::xml_node rowdata = ChildI(root, "ROWDATA");
    for (pugi::xml_node row = rowdata.first_child(); row; row = row.next_sibling()) {
        if (row.type() != pugi::node_element || !AsciiSameText(row.name(), "ROW")) continue;
        ParsedRow pr;
        pr.v.assign(nf, 0.0);
        pr.nulls = allNull;
        size_t next = 0;
        for (pugi::xml_attribute a = row.first_attribute(); a; a = a.next_attribute()) {
            const char* an = a.name();
            int c = -1;
            for (size_t k = next; k < nf && k < next + 4; ++k)
                if (std::strcmp(an, names[k]) == 0) {
                    c = static_cast<int>(k);
                    break;
                }
            if (c < 0) c = table->Column(an);
            if (c < 0) {
                if (AsciiSameText(an, "RowState")) {
                    int64_t st;
                    if (!ParseI64(a.value(), st) || st < 0 || st > 255)
                        throw DataSetError(std::string("Invalid row state '") + a.value() + "'");
                    pr.state = static_cast<int>(st);
                }
                continue; // an attribute of no field
            }
            next = static_cast<size_t>(c) + 1;
            const std::string_view val = a.value();
            double v = 0;
            bool ok = false;
            switch (d[static_cast<size_t>(c)].type) {
            case FieldType::Integer:
            case FieldType::AutoInc:
                ok = ParseI32(val, v);
                break;
            case FieldType::Float:
            case FieldType::Currency:
                ok = ParseR8(val, v);
                break;
            case FieldType::DateTime:
                ok = ParsePacketDateTime(val, v);
                break;
            case FieldType::Boolean:
                ok = AsciiSameText(val, "TRUE") || AsciiSameText(val, "FALSE");
                v = AsciiSameText(val, "TRUE") ? 1.0 : 0.0;
                break;
            case FieldType::String:
                v = table->Intern(std::string(val));
                ok = true;
                break;
            }
            if (!ok)
                throw DataSetError("Invalid value '" + std::string(val) + "' of field '" +
                                   d[static_cast<size_t>(c)].name + "' in row " +
                                   std::to_string(rows.size() + 1));
            pr.v[static_cast<size_t>(c)] = v;
            pr.nulls &= ~(1ull << c);
            pr.present |= 1ull << c;
        }
        rows.push_back(std::move(pr));
    }

    // Apply the change log: a modification goes into the row it changes (the attributes it
    // carries replace the original's), a deletion drops the row and the row it deletes.
    auto merge = [&](ParsedRow& into, ParsedRow& from) {
        for (size_t c = 0; c < nf; ++c)
            if ((from.present >> c) & 1u) {
                into.v[c] = from.v[c];
                into.nulls &= ~(1ull << c);
            }
        into.present |= from.present;
        from.dropped = true;
    };
    const int64_t nrows = static_cast<int64_t>(rows.size());
    if (!changeLog.empty()) {
        for (size_t k = 0; k < changeLog.size(); k += 3) {
            const int64_t r = changeLog[k], o = changeLog[k + 1], st = changeLog[k + 2];
            if (r < 1 || r > nrows || o < 0 || o > nrows || o == r) throw DataSetError("Invalid change log");
            ParsedRow& row = rows[static_cast<size_t>(r - 1)];
            if (st & 2) {
                row.dropped = true;
                if (o > 0) rows[static_cast<size_t>(o - 1)].dropped = true;
            } else if ((st & 8) && o > 0) {
                merge(rows[static_cast<size_t>(o - 1)], row);
            }
        }
        for (ParsedRow& row : rows)
            if (row.state & 2) row.dropped = true;
    } else {
        ParsedRow* original = nullptr;
        for (ParsedRow& row : rows) {
            if (row.state & 2) {
                row.dropped = true;
            } else if ((row.state & 8) && !(row.state & 4) && original) {
                merge(*original, row);
                original = nullptr;
            } else if (row.state & 1) {
                original = &row;
            }
        }
    }

    const int ac = table->autoIncColumn;
    std::vector<int32_t> keys;
    for (ParsedRow& row : rows) {
        if (row.dropped) continue;
        auto rec = std::make_unique<Record>();
        rec->v = std::move(row.v);
        rec->nulls = row.nulls;
        if (ac >= 0 && !rec->IsNull(ac))
            keys.push_back(static_cast<int32_t>(rec->v[static_cast<size_t>(ac)]));
        table->LoadRecord(std::move(rec));
    }
    if (ac >= 0) {
        std::sort(keys.begin(), keys.end());
        const auto dup = std::adjacent_find(keys.begin(), keys.end());
        if (dup != keys.end())
            throw DataSetError("Key violation: the value " + std::to_string(*dup) + " of field '" +
                               d[static_cast<size_t>(ac)].name + "' occurs twice");
        int64_t next = keys.empty() ? 1 : static_cast<int64_t>(keys.back()) + 1;
        table->nextAutoInc = std::max(next, autoIncParam);
    }
    return table;
}

} // namespace cds
} // namespace quorvel
