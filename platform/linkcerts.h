#pragma once
// The credentials of the remote EA link: the desk's own key and certificate authority, the
// client certificates it signs for terminal machines, and the list of enrolled machines with
// the EA IDs each may speak for.
//
// In the desk's folder:
//   LinkDesk.key      the desk's private key (PEM, mode 0600)
//   LinkDesk.crt      the desk's self-signed certificate authority, also its server
//                     certificate (PEM, mode 0600)
//   LinkMachines.ini  one section per enrolled machine: Serial, IDs ("1-50,60"), Revoked
// A machine's file (written by enrolment, mode 0600) holds its certificate, its key and the
// desk's certificate, so that the machine needs nothing else to connect.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/ealink.h"

namespace quorvel {

inline constexpr const char* kLinkKeyFile = "LinkDesk.key";
inline constexpr const char* kLinkCertFile = "LinkDesk.crt";
inline constexpr const char* kLinkMachinesFile = "LinkMachines.ini";

// EA IDs as inclusive ranges, written "1-50,60,70-72".
class EaIdRanges {
public:
    // False for anything but a comma-separated list of IDs 1..1000000 and ascending ranges.
    static bool Parse(const std::string& text, EaIdRanges& out);
    bool Contains(int32_t id) const;
    bool Overlaps(const EaIdRanges& other) const;
    bool Empty() const { return m_ranges.empty(); }
    std::string Text() const;

private:
    std::vector<std::pair<int32_t, int32_t>> m_ranges;
};

// A machine name: 1 to 64 letters, digits, '.', '_' or '-'.
bool ValidMachineName(const std::string& name);

struct EnrolledMachine {
    std::string name;
    std::string serial; // the certificate's serial number, hex
    EaIdRanges ids;
    bool revoked = false;
};

// The enrolled machines, as LinkMachines.ini holds them. A section that does not parse (a bad
// name, no serial, unreadable IDs) is left out: such a machine cannot connect.
std::vector<EnrolledMachine> LoadEnrolledMachines(const std::string& deskDir);

// The desk's key and certificate. Throws LinkError with the reason when the files exist but
// cannot be used (unreadable, not PEM, only one of the two, readable by others); nothing is
// then overwritten. When neither exists, both are created (mode 0600) and `created` is set.
struct DeskCredentials {
    std::string keyPem;
    std::string certPem;
    std::string fingerprint; // SHA-256 of the certificate, "AB:CD:..."
};
DeskCredentials LoadOrCreateDeskCredentials(const std::string& deskDir, bool* created = nullptr);

// Signs a client certificate for `name` with the desk's key, records the machine with its EA
// IDs in LinkMachines.ini and writes the machine's file to `outFile` (mode 0600). A name that
// is enrolled and not revoked, or IDs that overlap another machine's, are refused (LinkError).
// A revoked name may be enrolled again: its new certificate replaces the old one.
void EnrolMachine(const std::string& deskDir, const std::string& name, const EaIdRanges& ids,
                  const std::string& outFile);
// Marks the machine revoked: its certificate no longer connects. LinkError when it is not
// enrolled.
void RevokeMachine(const std::string& deskDir, const std::string& name);

// The SHA-256 fingerprint of the first certificate in `pem`; empty when there is none.
std::string CertificateFingerprint(const std::string& pem);

} // namespace quorvel
