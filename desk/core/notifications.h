#pragma once
// The notification list without its window: the time-stamped lines (newest first), the text of
// their time stamp, and the file Notifications.txt (8-bit ANSI code page Windows-1252, CR LF
// after every line; UTF-8 and UTF-16 files with a byte-order mark are read as well).
// Lines are held as UTF-8.
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/timestamp.h"

namespace quorvel {

// "dd.mm. hh:nn:ss,zzz: " with the locale's time separator in place of each ':'.
std::string NotificationTimeStamp(TDateTime when, char timeSeparator);

// The file's bytes to lines. Line ends are CR LF, LF or CR; a final line end adds no line.
std::vector<std::string> DecodeNotificationLines(std::string_view bytes);
// Lines to the file's bytes: Windows-1252, each line followed by CR LF.
std::string EncodeNotificationLines(const std::deque<std::string>& lines);

class NotificationList {
public:
    // Inserts the time stamp followed by `text` as line 0.
    void Add(TDateTime when, char timeSeparator, std::string_view text);
    void Clear() { m_lines.clear(); }
    const std::deque<std::string>& Lines() const { return m_lines; }

    // Replaces the lines with the file's. Any failure leaves the list empty; a file that
    // exists but cannot be read (not a regular file, no access, too large) is set aside, so
    // that the next save cannot overwrite the lines it holds, and the text returned says so.
    // Empty text when there is nothing to tell.
    std::string Load(const std::string& path);
    // Replaces the file with the whole list. Throws FileError; the list is not changed.
    // Nothing is written over a file that Load could neither read nor set aside.
    void Save(const std::string& path) const;
    // What Save would write, taken now: a writer that replaces the file with the list as it is
    // now and may run on another thread (it holds a copy). Throws FileError as Save does.
    std::function<void()> SaveLater(const std::string& path) const;

private:
    std::deque<std::string> m_lines;
    std::string m_keepFile;
};

} // namespace quorvel
