#include "platform/linkcerts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <optional>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/profile.h"

namespace quorvel {

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;
using Bio = std::unique_ptr<BIO, Free>;

std::string Join(const std::string& dir, const char* name) {
    if (dir.empty()) return name;
    return dir.back() == '/' ? dir + name : dir + "/" + name;
}

// Writes `data` to `path` through a temporary file of mode 0600 and a rename.
void WritePrivateFile(const std::string& path, const std::string& data) {
    std::string tmp = path + ".tmp-XXXXXX";
    std::vector<char> name(tmp.begin(), tmp.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data()); // 0600
    if (fd < 0) throw LinkError("Cannot write " + path + ": " + std::strerror(errno));
    size_t done = 0;
    bool ok = fchmod(fd, 0600) == 0;
    while (ok && done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    const int err = errno;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(name.data(), path.c_str()) != 0) {
        const std::string reason = std::strerror(ok ? errno : err);
        unlink(name.data());
        throw LinkError("Cannot write " + path + ": " + reason);
    }
}

std::string ToPem(X509* x) {
    Bio b(BIO_new(BIO_s_mem()));
    PEM_write_bio_X509(b.get(), x);
    char* p = nullptr;
    const long n = BIO_get_mem_data(b.get(), &p);
    return std::string(p, static_cast<size_t>(n));
}

std::string ToPem(EVP_PKEY* k) {
    Bio b(BIO_new(BIO_s_mem()));
    PEM_write_bio_PrivateKey(b.get(), k, nullptr, nullptr, 0, nullptr, nullptr);
    char* p = nullptr;
    const long n = BIO_get_mem_data(b.get(), &p);
    return std::string(p, static_cast<size_t>(n));
}

Cert CertFromPem(const std::string& pem) {
    Bio b(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Cert(PEM_read_bio_X509(b.get(), nullptr, nullptr, nullptr));
}

Key KeyFromPem(const std::string& pem) {
    Bio b(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    return Key(PEM_read_bio_PrivateKey(b.get(), nullptr, nullptr, nullptr));
}

std::string SerialHex(X509* x) {
    std::unique_ptr<BIGNUM, Free> bn(ASN1_INTEGER_to_BN(X509_get_serialNumber(x), nullptr));
    if (!bn) return {};
    char* hex = BN_bn2hex(bn.get());
    std::string s = hex ? hex : "";
    OPENSSL_free(hex);
    return s;
}

void AddExtension(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!ext || !X509_add_ext(x, ext.get(), -1)) throw LinkError("Cannot build a link certificate");
}

// A certificate for `subjectKey` named `cn`, signed by `issuerKey` (self-signed when `issuer`
// is null), valid from an hour ago for ten years.
Cert MakeCertificate(EVP_PKEY* subjectKey, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey,
                     bool authority) {
    Cert x(X509_new());
    if (!x) throw LinkError("Cannot build a link certificate");
    X509_set_version(x.get(), 2);
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) throw LinkError("No random numbers for a certificate");
    serial[0] &= 0x7f; // positive
    serial[0] |= 0x40; // and always 16 bytes long
    std::unique_ptr<BIGNUM, Free> bn(BN_bin2bn(serial, sizeof serial, nullptr));
    BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(x.get()));
    X509_gmtime_adj(X509_getm_notBefore(x.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x.get()), 10L * 366 * 24 * 3600);
    X509_set_pubkey(x.get(), subjectKey);
    X509_NAME* name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Quorvel"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(cn.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509* signer = issuer ? issuer : x.get();
    if (authority) {
        AddExtension(x.get(), signer, NID_basic_constraints, "critical,CA:TRUE,pathlen:0");
        AddExtension(x.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
    } else {
        AddExtension(x.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        AddExtension(x.get(), signer, NID_key_usage, "critical,digitalSignature");
        AddExtension(x.get(), signer, NID_ext_key_usage, "clientAuth");
    }
    AddExtension(x.get(), signer, NID_subject_key_identifier, "hash");
    if (X509_sign(x.get(), issuerKey, EVP_sha256()) == 0) throw LinkError("Cannot sign a link certificate");
    return x;
}

Key NewKey() {
    Key k(EVP_EC_gen("P-256"));
    if (!k) throw LinkError("Cannot create a key for the link");
    return k;
}

// The file's text, or nullopt when it does not exist. A file others may read is refused.
std::optional<std::string> ReadPrivateFile(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::nullopt;
        throw LinkError("Cannot examine " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) throw LinkError(path + " is not a regular file.");
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        throw LinkError(std::string(path) + " may be read by others: its permissions are " + mode +
                        ", not 0600.");
    }
    auto text = ReadWholeFile(path);
    if (!text) throw LinkError("Cannot read " + path);
    return text;
}

struct MachinesIni {
    explicit MachinesIni(const std::string& deskDir) : ini(Join(deskDir, kLinkMachinesFile)) {}
    TIniFile ini;
};

} // namespace

bool EaIdRanges::Parse(const std::string& text, EaIdRanges& out) {
    out.m_ranges.clear();
    std::vector<std::pair<int32_t, int32_t>> ranges;
    size_t i = 0;
    auto number = [&](int32_t& v) {
        const size_t start = i;
        int64_t n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 8)
            n = n * 10 + (text[i++] - '0');
        if (i == start || n < 1 || n > 1000000) return false;
        v = static_cast<int32_t>(n);
        return true;
    };
    for (;;) {
        int32_t lo = 0, hi = 0;
        if (!number(lo)) return false;
        hi = lo;
        if (i < text.size() && text[i] == '-') {
            ++i;
            if (!number(hi) || hi < lo) return false;
        }
        ranges.emplace_back(lo, hi);
        if (i == text.size()) break;
        if (text[i++] != ',') return false;
    }
    out.m_ranges = std::move(ranges);
    return true;
}

bool EaIdRanges::Contains(int32_t id) const {
    for (const auto& [lo, hi] : m_ranges)
        if (id >= lo && id <= hi) return true;
    return false;
}

bool EaIdRanges::Overlaps(const EaIdRanges& other) const {
    for (const auto& [lo, hi] : m_ranges)
        for (const auto& [olo, ohi] : other.m_ranges)
            if (lo <= ohi && olo <= hi) return true;
    return false;
}

std::string EaIdRanges::Text() const {
    std::string s;
    for (const auto& [lo, hi] : m_ranges) {
        if (!s.empty()) s += ',';
        s += std::to_string(lo);
        if (hi != lo) s += "-" + std::to_string(hi);
    }
    return s;
}

bool ValidMachineName(const std::string& name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
              c == '_' || c == '-'))
            return false;
    return true;
}

std::vector<EnrolledMachine> LoadEnrolledMachines(const std::string& deskDir) {
    std::vector<EnrolledMachine> out;
    const auto text = ReadWholeFile(Join(deskDir, kLinkMachinesFile));
    if (!text) return out;
    // Section names in the order of the file; the accessor reads their keys.
    MachinesIni m(deskDir);
    size_t pos = 0;
    while (pos < text->size()) {
        size_t end = text->find('\n', pos);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(pos, end - pos);
        pos = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (line.size() < 3 || line.front() != '[' || line.back() != ']') continue;
        EnrolledMachine e;
        e.name = line.substr(1, line.size() - 2);
        if (!ValidMachineName(e.name)) continue;
        e.serial = m.ini.ReadString(e.name, "Serial", "");
        e.revoked = m.ini.ReadBool(e.name, "Revoked", false);
        if (e.serial.empty() || !EaIdRanges::Parse(m.ini.ReadString(e.name, "IDs", ""), e.ids)) continue;
        out.push_back(std::move(e));
    }
    return out;
}

std::string CertificateFingerprint(const std::string& pem) {
    Cert x = CertFromPem(pem);
    if (!x) return {};
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!X509_digest(x.get(), EVP_sha256(), md, &n)) return {};
    std::string s;
    char hex[4];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", md[i]);
        s += hex;
    }
    return s;
}

DeskCredentials LoadOrCreateDeskCredentials(const std::string& deskDir, bool* created) {
    if (created) *created = false;
    const std::string keyPath = Join(deskDir, kLinkKeyFile), certPath = Join(deskDir, kLinkCertFile);
    auto key = ReadPrivateFile(keyPath);
    auto cert = ReadPrivateFile(certPath);
    DeskCredentials c;
    if (!key && !cert) {
        Key k = NewKey();
        Cert x = MakeCertificate(k.get(), "Quorvel desk", nullptr, k.get(), true);
        c.keyPem = ToPem(k.get());
        c.certPem = ToPem(x.get());
        WritePrivateFile(keyPath, c.keyPem);
        WritePrivateFile(certPath, c.certPem);
        if (created) *created = true;
    } else {
        if (!key) throw LinkError(certPath + " is there but " + keyPath + " is missing.");
        if (!cert) throw LinkError(keyPath + " is there but " + certPath + " is missing.");
        c.keyPem = *key;
        c.certPem = *cert;
        Key k = KeyFromPem(c.keyPem);
        Cert x = CertFromPem(c.certPem);
        if (!k) throw LinkError(keyPath + " holds no private key.");
        if (!x) throw LinkError(certPath + " holds no certificate.");
        if (X509_check_private_key(x.get(), k.get()) != 1)
            throw LinkError(certPath + " is not the certificate of the key in " + keyPath + ".");
    }
    c.fingerprint = CertificateFingerprint(c.certPem);
    return c;
}

void EnrolMachine(const std::string& deskDir, const std::string& name, const EaIdRanges& ids,
                  const std::string& outFile) {
    if (!ValidMachineName(name))
        throw LinkError("Not a machine name: \"" + name + "\" (1 to 64 letters, digits, '.', '_', '-').");
    if (ids.Empty()) throw LinkError("A machine needs at least one EA ID.");
    for (const EnrolledMachine& e : LoadEnrolledMachines(deskDir)) {
        if (e.revoked) continue;
        if (strcasecmp(e.name.c_str(), name.c_str()) == 0)
            throw LinkError("The machine " + name + " is enrolled already; revoke it first.");
        if (e.ids.Overlaps(ids))
            throw LinkError("EA IDs " + ids.Text() + " overlap those of the machine " + e.name + " (" +
                            e.ids.Text() + ").");
    }
    const DeskCredentials desk = LoadOrCreateDeskCredentials(deskDir);
    Key deskKey = KeyFromPem(desk.keyPem);
    Cert deskCert = CertFromPem(desk.certPem);
    Key k = NewKey();
    Cert x = MakeCertificate(k.get(), name, deskCert.get(), deskKey.get(), false);
    WritePrivateFile(outFile, ToPem(x.get()) + ToPem(k.get()) + desk.certPem);
    MachinesIni m(deskDir);
    try {
        m.ini.WriteString(name, "Serial", SerialHex(x.get()));
        m.ini.WriteString(name, "IDs", ids.Text());
        m.ini.WriteBool(name, "Revoked", false);
        m.ini.UpdateFile();
    } catch (const IniWriteError& e) {
        unlink(outFile.c_str());
        throw LinkError(e.what());
    }
}

void RevokeMachine(const std::string& deskDir, const std::string& name) {
    bool found = false;
    for (const EnrolledMachine& e : LoadEnrolledMachines(deskDir))
        found = found || strcasecmp(e.name.c_str(), name.c_str()) == 0;
    if (!found) throw LinkError("The machine " + name + " is not enrolled.");
    MachinesIni m(deskDir);
    try {
        m.ini.WriteBool(name, "Revoked", true);
        m.ini.UpdateFile();
    } catch (const IniWriteError& e) {
        throw LinkError(e.what());
    }
}

} // namespace quorvel
