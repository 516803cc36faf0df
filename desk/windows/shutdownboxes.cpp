#include "desk/windows/shutdownboxes.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <cstdio>
#include <exception>
#include <vector>

#include "desk/core/notifications.h"
#include "desk/windows/uMessageBox.h"
#include "platform/numbers.h"
#include "platform/timestamp.h"
#include "platform/widgets/apptitle.h"

namespace quorvel {

namespace {

bool g_signalShutDown = false;

struct KeptText {
    TDateTime when;
    std::string text; // UTF-8
};
std::vector<KeptText> g_keptTexts; // reported while no notifications window existed

} // namespace

void BeginSignalShutDown() {
    g_signalShutDown = true;
    // Nobody will read the boxes that are open now: their texts are reported, and each box is
    // closed, which ends its loop (and with it the handler that opened it).
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (!dialog || !dialog->isVisible()) continue;
        if (auto* box = qobject_cast<QMessageBox*>(dialog)) ReportWithoutBox(box->text());
        dialog->done(QDialog::Rejected);
    }
}

bool SignalShutDown() {
    return g_signalShutDown;
}

void ExecBox(QMessageBox& box) {
    if (g_signalShutDown) {
        ReportWithoutBox(box.text());
        return;
    }
    box.exec();
}

void ReportWithoutBox(const QString& text) {
    const QByteArray local = text.toLocal8Bit();
    std::fprintf(stderr, "%s: %s\n", ApplicationTitle().toLocal8Bit().constData(), local.constData());
    if (MessageBox) {
        ShowNotification(text);
        return;
    }
    g_keptTexts.push_back({NowLocal(), text.toStdString()});
}

void DeliverReportedTexts() {
    if (!MessageBox) return;
    for (const KeptText& k : g_keptTexts)
        ShowNotification(QString::fromUtf8(k.text.data(), static_cast<qsizetype>(k.text.size())));
    g_keptTexts.clear();
}

void SaveReportedTexts(const std::string& notificationsPath) {
    if (g_keptTexts.empty() || notificationsPath.empty()) return;
    NotificationList list;
    list.Load(notificationsPath); // a file that cannot be read is set aside, never overwritten
    for (const KeptText& k : g_keptTexts) list.Add(k.when, Locale().timeSeparator, k.text);
    g_keptTexts.clear();
    try {
        list.Save(notificationsPath);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", ApplicationTitle().toLocal8Bit().constData(), e.what());
    }
}

void EndSignalShutDownForTests() {
    g_signalShutDown = false;
    g_keptTexts.clear();
}

} // namespace quorvel
