// config.ini: the desk's settings reader on any file, then reads and writes through the INI
// accessor. A value written must read back, from memory and from the file, and the file must
// read the same through a fresh accessor as through the one that wrote it.
#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/support.h"
#include "fuzz/targets.h"
#include "platform/files.h"
#include "platform/profile.h"

namespace quorvel::fuzz {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}
bool Trimmed(std::string_view s) {
    return s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()));
}
bool HasAny(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}
// Names and values that the file's own form can hold unchanged.
bool CleanSection(std::string_view s) {
    return Trimmed(s) && !HasAny(s, std::string_view("]\r\n", 3));
}
bool CleanKey(std::string_view k) {
    return !k.empty() && Trimmed(k) && !HasAny(k, "=\r\n") && k.front() != ';' && k.front() != '[';
}
bool CleanValue(std::string_view v) {
    if (!Trimmed(v) || HasAny(v, "\r\n")) return false;
    return !(v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front());
}

struct ProfileRig {
    Scratch scratch{"profile"};
    DeskRig rig{scratch, 20};
};

constexpr const char* kMissing = "\x01missing";

} // namespace

int FuzzProfile(const uint8_t* data, size_t size) {
    ByteReader in(data, size);
    const std::string file = in.Text(in.U16());

    static ProfileRig* r = new ProfileRig; // lives to the end of the process
    const std::string path = r->scratch.File("config.ini");
    r->scratch.Clear();
    r->scratch.Write("config.ini", file);

    // The desk's reader: every setting into its control or field, nothing written.
    r->rig.view.Reset();
    r->rig.view.autoSaveMs = 1;
    r->rig.desk->LoadConfig();
    Check(r->rig.view.autoSaveMs % 60000u == 0, "the auto-save interval is no whole number of minutes");
    {
        const auto after = ReadWholeFile(path);
        Check(after && *after == file, "reading the settings changed config.ini");
    }

    // Names to ask for: the desk's own and pieces of the file.
    std::vector<std::string> sections = {"Defaults", "===== Group_1 =====", "===== BrokerIDs =====", ""};
    std::vector<std::string> keys = {"Tables", "AutoSaveMinutes", "Lots", "BrokerID1", "AlertLevel"};
    TIniFile ini(path);
    const int ops = in.U8() % 16;
    for (int i = 0; i < ops && !in.Empty(); ++i) {
        const uint8_t op = in.U8();
        std::string name;
        if (op & 0x80 && !file.empty()) {
            const size_t at = in.U16() % file.size();
            name = file.substr(at, in.U8() % 24);
        } else {
            name = in.Text(in.U8() % 24);
        }
        (op & 0x40 ? sections : keys).push_back(name);
        const std::string& s = sections[in.U8() % sections.size()];
        const std::string& k = keys[in.U8() % keys.size()];
        switch (op % 4) {
        case 0: {
            const std::string v = in.Text(in.U8() % 32);
            ini.WriteString(s, k, v);
            if (CleanSection(s) && CleanKey(k) && CleanValue(v)) {
                Check(ini.ReadString(s, k, kMissing) == v, "a written string does not read back");
                Check(TIniFile(path).ReadString(s, k, kMissing) == v, "a written string is not in the file");
            }
            break;
        }
        case 1: {
            const int32_t v = in.I32();
            ini.WriteInteger(s, k, v);
            if (CleanSection(s) && CleanKey(k)) {
                Check(ini.ReadInteger(s, k, v ^ 1) == v, "a written integer does not read back");
                Check(ini.ReadBool(s, k, v == 0) == (v != 0), "a written integer does not read as a flag");
            }
            break;
        }
        case 2: {
            const double v = in.F64();
            ini.WriteFloat(s, k, v);
            if (CleanSection(s) && CleanKey(k)) {
                const double back = ini.ReadFloat(s, k, -7.5);
                if (!std::isfinite(v))
                    Check(back == -7.5, "a written non-finite real reads as a number");
                else if (v == 0 || (std::fabs(v) > 1e-300 && std::fabs(v) < 1e300))
                    Check(std::fabs(back - v) <= std::fabs(v) * 1e-14, "a written real does not read back");
            }
            break;
        }
        default:
            (void)ini.ReadString(s, k, kMissing);
            (void)ini.ReadInteger(s, k, 0);
            (void)ini.ReadFloat(s, k, 0.0);
            (void)ini.SectionExists(s);
            (void)ini.ValueExists(s, k);
            break;
        }
    }
    ini.UpdateFile();

    // What the writer holds is what the file holds.
    const TIniFile fresh(path);
    for (const std::string& s : sections)
        for (const std::string& k : keys) {
            const std::string a = fresh.ReadString(s, k, kMissing), b = ini.ReadString(s, k, kMissing);
            if (a != b)
                std::fprintf(stderr, "[%s] %s: file \"%s\", writer \"%s\"\n", s.c_str(), k.c_str(), a.c_str(),
                             b.c_str());
            Check(a == b, "the file reads otherwise than its writer");
            Check(fresh.ValueExists(s, k) == ini.ValueExists(s, k),
                  "the file holds other keys than its writer");
        }
    return 0;
}

} // namespace quorvel::fuzz
