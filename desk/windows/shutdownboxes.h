#pragma once
// A shut-down that a signal started: from then on no modal box of the desk waits for a click.
#include <QString>
#include <string>

class QMessageBox;

namespace quorvel {

// From the first SIGTERM, SIGINT or SIGHUP on, no modal box waits for a click: the boxes open
// at that moment are closed, and the text of each of them, and of every box that would open
// later, goes to stderr and to the notifications instead.
void BeginSignalShutDown();
bool SignalShutDown();
// Shows `box` modally; during a signal shut-down reports its text instead.
void ExecBox(QMessageBox& box);
// Writes the text to stderr and adds it to the notifications. While the notifications window
// does not exist the text is kept: DeliverReportedTexts hands it to the window once it exists,
// SaveReportedTexts adds what is still kept to the notification file once the windows are gone.
void ReportWithoutBox(const QString& text);
void DeliverReportedTexts();
void SaveReportedTexts(const std::string& notificationsPath);
// Back to ordinary running, with nothing kept (tests).
void EndSignalShutDownForTests();

} // namespace quorvel
