#pragma once
// What the desk core asks of its windows. The core computes every text; the window only
// shows it. Modal boxes block the caller while the window's own loop keeps serving.
#include <functional>
#include <string>
#include <string_view>

namespace quorvel {

// Every call has an empty default (a grid of no rows, no notifications writer): a view
// overrides what it shows, and a view that shows nothing is `struct NullView : IDeskView {};`.
class IDeskView {
public:
    virtual ~IDeskView() = default;
    // The stop box of the event model: an error escaped a handler.
    virtual void ShowStopBox(const std::string& /*text*/) {}
    // A plain modal message box (the WM_COPYDATA character, start-up messages).
    virtual void ShowMessageBox(const std::u16string& /*text*/) {}
    // Asks the application to end once the message loop runs.
    virtual void Terminate() {}
    // The auto-save timer's interval in milliseconds; 0 stops it.
    virtual void SetAutoSaveInterval(unsigned /*ms*/) {}
    virtual void Beep() {}

    // ---- notifications -----------------------------------------------------------------
    // One line (UTF-8) for the notifications window, which stamps it with the time, puts it
    // first and comes to the front; dropped while that window does not exist.
    virtual void ShowNotification(const std::string& /*text*/) {}
    // Saves the notification list to Notifications.txt when the window exists. Throws when
    // the file cannot be written.
    virtual void SaveNotifications() {}
    // For a save on another thread: a writer that replaces Notifications.txt with the list as
    // it is now (copied here: the writer touches nothing of the window), or does nothing when
    // the window does not exist. Throws FileError when the file cannot be written. Empty: the
    // view has no such writer, and SaveNotifications runs on this thread once the other files
    // of that save are written.
    virtual std::function<void()> NotificationsWriter() { return {}; }

    // ---- spread tables -------------------------------------------------------------------
    // The string grids the desk fills: each table frame's quote grid and pair grid (t is the
    // table index), and the Watch grid (t is not used). Columns and rows count from 0, the
    // fixed ones included. The grids are pure displays: nothing is read back from a cell.
    enum class Grid { Quote, Pair, Watch };
    // The result labels of a table frame.
    enum class FrameLabel { MinCrossSpread, Gegenwert, Summe };
    virtual int GridRowCount(Grid /*g*/, int /*t*/) const { return 0; }
    virtual void SetGridRowCount(Grid /*g*/, int /*t*/, int /*rows*/) {}
    virtual void SetGridColCount(Grid /*g*/, int /*t*/, int /*cols*/) {}
    virtual void SetGridColWidth(Grid /*g*/, int /*t*/, int /*col*/, int /*width*/) {}
    virtual void SetGridCell(Grid /*g*/, int /*t*/, int /*col*/, int /*row*/, std::string_view /*text*/) {}
    virtual void SetFrameLabel(int /*t*/, FrameLabel /*l*/, std::string_view /*text*/) {}

    // ---- order grid ------------------------------------------------------------------------
    // The sum labels above the order grid: total lots, profit and profit in price units.
    enum class SumLabel { Lots, Gewinn, GewinnPips };
    // colour is 0x00BBGGRR.
    virtual void SetSumLabel(SumLabel /*l*/, std::string_view /*text*/, unsigned /*colour*/) {}
};

// The stop box's text: the error text with "." appended when its last character sorts after ".".
std::string StopBoxText(const std::string& error);

} // namespace quorvel
