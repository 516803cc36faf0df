#include "components/core/csvexport.h"

#include <charconv>

#include "platform/codepage.h"
#include "platform/displayformat.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {

constexpr size_t kPieceSize = 256 * 1024;

bool NeedsQuotes(std::string_view text) {
    return text.find_first_of(";\"\r\n") != std::string_view::npos;
}

void AppendDateTime(std::string& out, TDateTime t) {
    const DateTimeParts p = DecodeDateTime(t);
    const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0 && p.msec == 0;
    const bool dayZero = p.year == 1899 && p.month == 12 && p.day == 30;
    const char* pattern = midnight ? "dd/mm/yyyy" : dayZero ? "hh:nn:ss" : "dd/mm/yyyy hh:nn:ss";
    char buf[32];
    out.append(buf, FormatDateTime(buf, sizeof buf, pattern, t, Locale().timeSeparator));
}

// Restores the cursor when the walk ends, however it ends.
class WalkGuard {
public:
    explicit WalkGuard(ClientDataSet& ds) : m_ds(ds), m_mark(ds.GetBookmark()) { ds.DisableControls(); }
    ~WalkGuard() {
        try {
            if (m_mark != kNoBookmark && m_ds.BookmarkValid(m_mark)) m_ds.GotoBookmark(m_mark);
        } catch (...) {
            // the record was taken away meanwhile: the cursor stays where the walk left it
        }
        m_ds.FreeBookmark(m_mark);
        m_ds.EnableControls();
    }
    WalkGuard(const WalkGuard&) = delete;
    WalkGuard& operator=(const WalkGuard&) = delete;

private:
    ClientDataSet& m_ds;
    Bookmark m_mark;
};

} // namespace

void AppendCsvValue(std::string& out, const Field& field) {
    const Variant v = field.Value();
    if (v.IsNull()) return;
    switch (field.DataType()) {
    case FieldType::Integer:
    case FieldType::AutoInc: {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v.Raw())).ptr);
        return;
    }
    case FieldType::Float:
    case FieldType::Currency: {
        char buf[kGeneralCapacity];
        out.append(buf, FormatGeneral(buf, v.Raw(), ','));
        return;
    }
    case FieldType::Boolean:
        out += v.AsBoolean() ? "True" : "False";
        return;
    case FieldType::DateTime:
        AppendDateTime(out, v.Raw());
        return;
    case FieldType::String:
        out += v.AsString();
        return;
    }
    out += kCsvInvalidValue;
}

std::string CsvValueText(const Field& field) {
    std::string out;
    AppendCsvValue(out, field);
    return out;
}

void AppendCsvItem(std::string& out, std::string_view text) {
    if (!NeedsQuotes(text)) {
        AppendCp1252(out, text);
        return;
    }
    out += '"';
    for (size_t from = 0;;) {
        const size_t q = text.find('"', from);
        AppendCp1252(out,
                     text.substr(from, q == std::string_view::npos ? std::string_view::npos : q + 1 - from));
        if (q == std::string_view::npos) break;
        out += '"';
        from = q + 1;
    }
    out += '"';
}

void WriteCsv(ClientDataSet& ds, const FilePieceWriter& put) {
    std::string buf;
    buf.reserve(kPieceSize + 4096);
    const auto& fields = ds.Fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) buf += "; ";
        AppendCsvItem(buf, fields[i]->DisplayName());
    }
    buf += "\r\n\r\n";

    WalkGuard guard(ds);
    ds.ClearWalkFilter();
    std::string value;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) buf += ';';
            const Field& f = *fields[i];
            switch (f.DataType()) {
            case FieldType::Integer:
            case FieldType::AutoInc:
            case FieldType::Float:
            case FieldType::Currency:
            case FieldType::Boolean:
                AppendCsvValue(buf, f); // ASCII digits, comma, signs and letters: never quoted
                break;
            default: // texts that may need quotes or another code
                value.clear();
                AppendCsvValue(value, f);
                AppendCsvItem(buf, value);
                break;
            }
        }
        buf += "\r\n";
        if (buf.size() >= kPieceSize) {
            put(buf);
            buf.clear();
        }
    }
    if (!buf.empty()) put(buf);
}

std::string CsvText(ClientDataSet& ds) {
    std::string text;
    WriteCsv(ds, [&text](std::string_view piece) { text.append(piece); });
    return text;
}

void ExportCsvFile(ClientDataSet& ds, const std::string& path) {
    bool created = false;
    try {
        WriteFileAtomic(path, [&](const FilePieceWriter& put) {
            created = true;
            WriteCsv(ds, put);
        });
    } catch (const FileError& e) {
        if (!created) throw CsvCreateError(e.what());
        throw;
    }
}

} // namespace quorvel
