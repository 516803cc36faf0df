// The client dataset's XML data packet: writing and reading.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <pugixml.hpp>

#include "platform/clientdataset.h"
#include "platform/clientdataset_table.h"

namespace quorvel {

namespace {

void Put2(std::string& out, int v) {
    out += static_cast<char>('0' + v / 10 % 10);
    out += static_cast<char>('0' + v % 10);
}

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

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
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
        if (n.type() == pugi::node_element && IEquals(n.name(), name)) return n;
    return {};
}

pugi::xml_attribute AttrI(pugi::xml_node node, std::string_view name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (IEquals(a.name(), name)) return a;
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

std::string PacketDateTime(TDateTime t) {
    const DateTimeParts p = DecodeDateTime(t);
    std::string out;
    out.reserve(21);
    char y[8];
    auto r = std::to_chars(y, y + sizeof y, p.year);
    const size_t yl = static_cast<size_t>(r.ptr - y);
    for (size_t k = yl; k < 4; ++k) out += '0';
    out.append(y, r.ptr);
    Put2(out, p.month);
    Put2(out, p.day);
    out += 'T';
    Put2(out, p.hour);
    out += ':';
    Put2(out, p.minute);
    out += ':';
    Put2(out, p.second);
    out += static_cast<char>('0' + p.msec / 100);
    Put2(out, p.msec % 100);
    return out;
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

std::string WritePacket(const Table& t) {
    std::string out;
    out.reserve(512 + t.records.size() * (t.defs.size() * 20 + 16));
    out += "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>";
    std::vector<std::string> prefix; // ` name="`
    for (const FieldDef& d : t.defs) {
        out += "<FIELD attrname=\"";
        PutEscaped(out, d.name);
        out += "\" fieldtype=\"";
        switch (d.type) {
        case FieldType::Integer:
            out += "i4\"";
            break;
        case FieldType::AutoInc:
            out += "i4\" readonly=\"true\" SUBTYPE=\"Autoinc\"";
            break;
        case FieldType::Float:
            out += "r8\"";
            break;
        case FieldType::Currency:
            out += "r8\" SUBTYPE=\"Money\"";
            break;
        case FieldType::DateTime:
            out += "dateTime\"";
            break;
        case FieldType::Boolean:
            out += "boolean\"";
            break;
        }
        out += "/>";
        std::string p = " ";
        PutEscaped(p, d.name);
        p += "=\"";
        prefix.push_back(std::move(p));
    }
    out += "</FIELDS><PARAMS";
    if (t.autoIncColumn >= 0) {
        out += " AUTOINCVALUE=\"";
        out += std::to_string(t.nextAutoInc);
        out += '"';
    }
    out += "/></METADATA><ROWDATA>";
    char buf[64];
    for (const auto& rp : t.records) {
        const Record& r = *rp;
        out += "<ROW";
        for (size_t c = 0; c < t.defs.size(); ++c) {
            if (r.IsNull(static_cast<int>(c))) continue;
            out += prefix[c];
            const double v = r.v[c];
            switch (t.defs[c].type) {
            case FieldType::Integer:
            case FieldType::AutoInc: {
                auto res = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v));
                out.append(buf, res.ptr);
                break;
            }
            case FieldType::Float:
            case FieldType::Currency: {
                auto res = std::to_chars(buf, buf + sizeof buf, v);
                out.append(buf, res.ptr);
                break;
            }
            case FieldType::DateTime:
                out += PacketDateTime(v);
                break;
            case FieldType::Boolean:
                out += v != 0.0 ? "TRUE" : "FALSE";
                break;
            }
            out += '"';
        }
        out += "/>";
    }
    out += "</ROWDATA></DATAPACKET>\n";
    return out;
}

std::shared_ptr<Table> ReadPacket(std::string data) {
    pugi::xml_document doc;
    const pugi::xml_parse_result res =
        doc.load_buffer_inplace(data.data(), data.size(), pugi::parse_minimal | pugi::parse_escapes);
    if (!res)
        throw DataSetError(std::string("The file is no readable XML data packet (") + res.description() +
                           ")");
    const pugi::xml_node root = doc.document_element();
    if (!root || !IEquals(root.name(), "DATAPACKET")) throw DataSetError("The file is no data packet");
    const pugi::xml_node meta = ChildI(root, "METADATA");
    const pugi::xml_node fields = ChildI(meta, "FIELDS");
    if (!meta || !fields) throw DataSetError("The data packet has no field definitions");

    std::vector<FieldDef> defs;
    for (pugi::xml_node f = fields.first_child(); f; f = f.next_sibling()) {
        if (f.type() != pugi::node_element || !IEquals(f.name(), "FIELD")) continue;
        const std::string name = AttrI(f, "attrname").value();
        const std::string type = AttrI(f, "fieldtype").value();
        const std::string sub = AttrI(f, "SUBTYPE").value();
        FieldType ft;
        if (IEquals(type, "i4"))
            ft = IEquals(sub, "Autoinc") ? FieldType::AutoInc : FieldType::Integer;
        else if (IEquals(type, "r8"))
            ft = IEquals(sub, "Money") ? FieldType::Currency : FieldType::Float;
        else if (IEquals(type, "boolean"))
            ft = FieldType::Boolean;
        else if (IEquals(type, "dateTime"))
            ft = FieldType::DateTime;
        else
            throw DataSetError("Unsupported type '" + type + "' of field '" + name + "'");
        defs.push_back({name, ft});
    }
    auto table = std::make_shared<Table>(std::move(defs)); // checks names and count
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
        if (row.type() != pugi::node_element || !IEquals(row.name(), "ROW")) continue;
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
                if (IEquals(an, "RowState")) {
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
                ok = IEquals(val, "TRUE") || IEquals(val, "FALSE");
                v = IEquals(val, "TRUE") ? 1.0 : 0.0;
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
