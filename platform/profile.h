#pragma once
// INI file access in the manner of the profile functions: sections and keys are found without
// regard to case, the first of duplicate sections or keys wins, a new key goes to the end of its
// section and a new section to the end of the file, and the file is created by the first write.
// Reading never fails: a missing file, section or key, or a text that does not parse as the
// asked type, gives the caller's default.
//
// The accessor reads the file once when it is opened and keeps it in memory. Every Write call
// replaces the whole file at once (temporary file and rename, CR LF line ends), so a key that
// was written is in the file when the call returns, and a failing write leaves the file as the
// previous call left it. The replacements are flushed to disk by UpdateFile or, at the latest,
// when the accessor is released.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// A key could not be written: "In <path> kann nicht geschrieben werden".
class IniWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TIniFile {
public:
    // Opens an accessor on `path`; nothing is created.
    explicit TIniFile(std::string path);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return m_path; }

    // The key's text with surrounding blanks removed (and one pair of enclosing quotes).
    std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
    // Decimal, or hexadecimal after "0x"/"0X"; anything that is not a 32-bit integer gives def.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
    // Read as an Integer with default 1 or 0; true when not 0.
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    // A real number with the locale's decimal separator; empty or unparsable text gives def.
    double ReadFloat(std::string_view section, std::string_view key, double def) const;

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;

    // Each write throws IniWriteError when the file cannot be written; the keys written
    // before stay in the file.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    void WriteBool(std::string_view section, std::string_view key, bool value);
    void WriteFloat(std::string_view section, std::string_view key, double value);

    // Flushes what the writes put in the file to disk. Throws IniWriteError when that fails.
    void UpdateFile();

private:
    struct Line {
        enum Kind { Other, Section, Key } kind = Other;
        std::string raw;   // the line as it stands in the file, without its line end
        std::string name;  // section or key name, trimmed
        std::string value; // key value, trimmed
    };
    static Line Parse(std::string raw);
    // Index of the first section header named `section`, or -1.
    int FindSection(std::string_view section) const;
    // Index of the first key line `key` in the section starting at header index `s`, or -1.
    int FindKey(int s, std::string_view key) const;
    const Line* FindValue(std::string_view section, std::string_view key) const;
    std::string Render() const;
    [[noreturn]] void ThrowWriteError() const;

    std::string m_path;
    std::vector<Line> m_lines;
    bool m_bom = false;        // the file starts with a UTF-8 byte-order mark (kept)
    bool m_unreadable = false; // the file exists but could not be read: never replaced
    bool m_unsynced = false;   // a write replaced the file since the last flush
};

// The value forms, shared with anything that must read or write them the same way.
std::optional<int32_t> ParseIniInteger(std::string_view text);
// The general text of a real (FormatGeneral of displayformat.h): fixed notation for magnitudes
// from 0.00001 up to below 1e15, otherwise "1E-6", "1,5E20". 1.0 gives "1". The reader takes
// both notations.
std::string FormatIniFloat(double value, char decimalSeparator);

} // namespace quorvel
