#include "platform/profile.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/displayformat.h"
#include "platform/files.h"
#include "platform/numbers.h"

namespace quorvel {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A value that cannot break the file's structure: the text up to its first line end.
std::string_view OneLine(std::string_view value) {
    const size_t end = value.find_first_of("\r\n");
    return end == std::string_view::npos ? value : value.substr(0, end);
}

} // namespace

// ---- value forms ---------------------------------------------------------------------------

std::optional<int32_t> ParseIniInteger(std::string_view text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Hexadecimal digits give the 32-bit pattern, so 0xFFFFFFFF reads as -1.
        const std::string_view digits = text.substr(2);
        uint32_t v = 0;
        auto res = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
        if (res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return std::nullopt;
        return static_cast<int32_t>(v);
    }
    return ParseInt32(text);
}

std::string FormatIniFloat(double value, char decimalSeparator) {
    return FormatGeneral(value, decimalSeparator);
}

// ---- the accessor --------------------------------------------------------------------------

TIniFile::Line TIniFile::Parse(std::string raw) {
    Line line;
    line.raw = std::move(raw);
    const std::string_view text = Trim(line.raw);
    if (text.empty() || text.front() == ';') return line;
    if (text.front() == '[') {
        const size_t close = text.rfind(']');
        if (close == std::string_view::npos) return line; // a broken header counts as nothing
        line.kind = Line::Section;
        line.name = std::string(Trim(text.substr(1, close - 1)));
        return line;
    }
    const size_t eq = text.find('=');
    if (eq == std::string_view::npos) return line;
    const std::string_view name = Trim(text.substr(0, eq));
    if (name.empty()) return line;
    std::string_view value = Trim(text.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    line.kind = Line::Key;
    line.name = std::string(name);
    line.value = std::string(value);
    return line;
}

TIniFile::TIniFile(std::string path) : m_path(std::move(path)) {
    const std::optional<std::string> content = ReadWholeFile(m_path);
    if (!content) {
        m_unreadable = FileExists(m_path);
        return;
    }
    std::string_view rest(*content);
    if (rest.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        m_bom = true;
        rest.remove_prefix(kUtf8Bom.size());
    }
    while (!rest.empty()) {
        const size_t nl = rest.find('\n');
        std::string_view raw = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        m_lines.push_back(Parse(std::string(raw)));
    }
}

TIniFile::~TIniFile() {
    if (m_unsynced) SyncFile(m_path);
}

int TIniFile::FindSection(std::string_view section) const {
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].kind == Line::Section && AsciiSameText(m_lines[i].name, section))
            return static_cast<int>(i);
    return -1;
}

int TIniFile::FindKey(int s, std::string_view key) const {
    for (size_t i = static_cast<size_t>(s) + 1; i < m_lines.size(); ++i) {
        if (m_lines[i].kind == Line::Section) break;
        if (m_lines[i].kind == Line::Key && AsciiSameText(m_lines[i].name, key)) return static_cast<int>(i);
    }
    return -1;
}

const TIniFile::Line* TIniFile::FindValue(std::string_view section, std::string_view key) const {
    const int s = FindSection(section);
    if (s < 0) return nullptr;
    const int k = FindKey(s, key);
    return k < 0 ? nullptr : &m_lines[static_cast<size_t>(k)];
}

bool TIniFile::SectionExists(std::string_view section) const {
    return FindSection(section) >= 0;
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const {
    return FindValue(section, key) != nullptr;
}

std::string TIniFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const {
    const Line* line = FindValue(section, key);
    return std::string(line ? std::string_view(line->value) : def);
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t def) const {
    const Line* line = FindValue(section, key);
    if (!line) return def;
    return ParseIniInteger(line->value).value_or(def);
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

double TIniFile::ReadFloat(std::string_view section, std::string_view key, double def) const {
    const Line* line = FindValue(section, key);
    if (!line) return def;
    const std::optional<double> v = ParseDouble(line->value, Locale().decimalSeparator);
    return v && std::isfinite(*v) ? *v : def;
}

std::string TIniFile::Render() const {
    size_t size = m_bom ? kUtf8Bom.size() : 0;
    for (const Line& l : m_lines) size += l.raw.size() + 2;
    std::string out;
    out.reserve(size);
    if (m_bom) out += kUtf8Bom;
    for (const Line& l : m_lines) {
        out += l.raw;
        out += "\r\n";
    }
    return out;
}

void TIniFile::ThrowWriteError() const {
    throw IniWriteError("In " + m_path + " kann nicht geschrieben werden");
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (m_unreadable) ThrowWriteError(); // a file we could not read is never replaced
    // Names are cut at their first line end as values are: a line end would split the line in
    // the file, and the file would then read otherwise than the accessor that wrote it.
    section = OneLine(section);
    key = OneLine(key);
    const std::string_view text = OneLine(value);
    // Work on a copy, so that memory and file stay alike when the write fails.
    std::vector<Line> before = m_lines;
    const int s = FindSection(section);
    if (s < 0) {
        m_lines.push_back(Parse("[" + std::string(section) + "]"));
        m_lines.push_back(Parse(std::string(key) + "=" + std::string(text)));
    } else if (const int k = FindKey(s, key); k >= 0) {
        Line& line = m_lines[static_cast<size_t>(k)];
        line = Parse(line.name + "=" + std::string(text));
    } else {
        // After the section's last line that is not blank.
        size_t at = static_cast<size_t>(s) + 1;
        for (size_t i = at; i < m_lines.size() && m_lines[i].kind != Line::Section; ++i)
            if (!Trim(m_lines[i].raw).empty()) at = i + 1;
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at),
                       Parse(std::string(key) + "=" + std::string(text)));
    }
    try {
        WriteFileAtomic(m_path, Render(), FileSync::Later);
    } catch (const FileError&) {
        m_lines = std::move(before);
        ThrowWriteError();
    }
    m_unsynced = true;
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, FormatIniFloat(value, Locale().decimalSeparator));
}

void TIniFile::UpdateFile() {
    if (!m_unsynced) return;
    if (!SyncFile(m_path)) ThrowWriteError();
    m_unsynced = false;
}

} // namespace quorvel
