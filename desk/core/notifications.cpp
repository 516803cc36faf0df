#include "desk/core/notifications.h"

#include "platform/displayformat.h"
#include "platform/files.h"

namespace quorvel {

namespace {

// Characters of the bytes 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr char32_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 character at `i` and advances past it; a malformed sequence (overlong,
// surrogate, beyond U+10FFFF, cut short) gives kReplacement and advances by one byte.
char32_t NextUtf8(std::string_view s, size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int len = 0;
    char32_t c = 0, min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, c = b0 & 0x07, min = 0x10000;
    } else {
        ++i;
        return kReplacement;
    }
    if (i + static_cast<size_t>(len) > s.size()) {
        ++i;
        return kReplacement;
    }
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return kReplacement;
    }
    i += static_cast<size_t>(len);
    return c;
}

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

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        AppendUtf8(out, b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string Utf8ToCp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t c = NextUtf8(text, i);
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
            out += static_cast<char>(c);
            continue;
        }
        char byte = '?';
        for (int k = 0; k < 32; ++k)
            if (kCp1252High[k] == c) byte = static_cast<char>(0x80 + k);
        out += byte;
    }
    return out;
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
