// Notifications.txt: any file decodes to lines without line ends; the list loaded from it
// saves, and loads back as the same lines, up to the characters the code page cannot hold.
#include <string>
#include <string_view>

#include "desk/core/notifications.h"
#include "fuzz/support.h"
#include "fuzz/targets.h"
#include "platform/files.h"

namespace quorvel::fuzz {

namespace {

// Whether the saved bytes would read as another encoding: they start like a byte-order mark.
bool StartsLikeBom(std::string_view bytes) {
    return bytes.substr(0, 3) == "\xEF\xBB\xBF" || bytes.substr(0, 2) == "\xFF\xFE" ||
           bytes.substr(0, 2) == "\xFE\xFF";
}

} // namespace

int FuzzNotifications(const uint8_t* data, size_t size) {
    static Scratch* scratch = new Scratch("notifications"); // lives to the end of the process
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    for (const std::string& line : DecodeNotificationLines(bytes))
        Check(line.find_first_of("\r\n") == std::string::npos, "a decoded line holds a line end");

    scratch->Clear();
    const std::string path = scratch->File("Notifications.txt");
    scratch->Write("Notifications.txt", bytes);
    NotificationList list;
    list.Load(path);
    Check(list.Lines().size() == DecodeNotificationLines(bytes).size(), "the list lost or gained lines");

    // A new line on top, stamped with a time taken from the input.
    TDateTime when = 45000.25;
    if (size >= 8) __builtin_memcpy(&when, data, sizeof when);
    const std::string stamp = NotificationTimeStamp(when, ':');
    list.Add(when, ':', "fuzz");
    Check(list.Lines().front() == stamp + "fuzz", "a new line is not first");

    list.Save(path);
    const auto saved = ReadWholeFile(path);
    Check(saved && *saved == EncodeNotificationLines(list.Lines()), "the saved file differs from the list");
    NotificationList back;
    back.Load(path);
    if (!StartsLikeBom(*saved)) {
        Check(back.Lines().size() == list.Lines().size(), "the saved list loads back with other lines");
        for (size_t i = 0; i < list.Lines().size(); ++i)
            Check(back.Lines()[i] == Cp1252ToUtf8(Utf8ToCp1252(list.Lines()[i])),
                  "a saved line loads back otherwise");
    }
    // Saving again what was loaded gives the same bytes.
    back.Save(path);
    const auto again = ReadWholeFile(path);
    Check(again && (StartsLikeBom(*saved) || *again == *saved), "a reloaded list saves differently");
    return 0;
}

} // namespace quorvel::fuzz
