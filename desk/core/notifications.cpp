#include "desk/core/notifications.h"

#include "platform/displayformat.h"
#include "platform/files.h"

namespace quorvel {

namespace {

std::string Utf8Cleaned(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) AppendUtf8(out, NextUtf8(s, i));
    return out;
}

std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    out.reserve(bytes.size());
    auto unit = [&](size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    const size_t n = bytes.size() / 2 * 2; // an odd last byte is no character
    for (size_t i = 0; i < n; i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 2 < n) {
            const char32_t lo = unit(i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (lo - 0xDC00);
                i += 2;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = kReplacement;
        AppendUtf8(out, c);
    }
    return out;
}

} // namespace

std::string NotificationTimeStamp(TDateTime when, char timeSeparator) {
    return FormatDateTime("dd.mm. hh:nn:ss,zzz: ", when, timeSeparator);
}

std::vector<std::string> DecodeNotificationLines(std::string_view bytes) {
    std::string text;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        text = Utf8Cleaned(bytes.substr(3));
    else if (bytes.substr(0, 2) == "\xFF\xFE")
        text = Utf16ToUtf8(bytes.substr(2), false);
    else if (bytes.substr(0, 2) == "\xFE\xFF")
        text = Utf16ToUtf8(bytes.substr(2), true);
    else
        text = Cp1252ToUtf8(bytes);

    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

std::string EncodeNotificationLines(const std::deque<std::string>& lines) {
    std::string out;
    for (const std::string& line : lines) {
        out += Utf8ToCp1252(line);
        out += "\r\n";
    }
    return out;
}

void NotificationList::Add(TDateTime when, char timeSeparator, std::string_view text) {
    std::string line = NotificationTimeStamp(when, timeSeparator);
    line += text;
    m_lines.push_front(std::move(line));
}

std::string NotificationList::Load(const std::string& path) {
    m_lines.clear();
    m_keepFile.clear();
    FileRead r = ReadStateFile(path);
    std::string what;
    switch (r.status) {
    case ReadStatus::Missing:
        return {};
    case ReadStatus::Ok:
        if (!r.truncated) {
            for (std::string& line : DecodeNotificationLines(r.bytes)) m_lines.push_back(std::move(line));
            return {};
        }
        what = "is larger than " + std::to_string(kStateFileReadCap) + " bytes and was not read.";
        break;
    case ReadStatus::NotRegular:
        what = "is not a regular file and was not read.";
        break;
    case ReadStatus::Unreadable:
        what = "cannot be read.";
        break;
    }
    // Out of the way, so that the next save cannot overwrite the lines it may hold.
    const std::string aside = SetFileAside(path);
    m_keepFile = aside.empty() ? path : std::string();
    return path + " " + what + " The list starts empty; the file " +
           (aside.empty() ? "could not be set aside and is not overwritten."
                          : "was set aside as " + aside + ".");
}

void NotificationList::Save(const std::string& path) const {
    if (!m_keepFile.empty() && path == m_keepFile) return; // what could not be read stays as it is
    WriteFileAtomic(path, EncodeNotificationLines(m_lines));
}

std::function<void()> NotificationList::SaveLater(const std::string& path) const {
    if (!m_keepFile.empty() && path == m_keepFile) return [] {};
    return [path, bytes = EncodeNotificationLines(m_lines)] { WriteFileAtomic(path, bytes); };
}

} // namespace quorvel
