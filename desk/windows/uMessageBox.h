#pragma once
// The notifications window: a small tool window that stays on top of the desk and lists the
// notification lines, newest first. It shows the list that the Qt-free NotificationList keeps
// and saves it to Notifications.txt.
#include <QString>
#include <QWidget>
#include <string>

#include "desk/core/notifications.h"
#include "platform/timestamp.h"

class QListWidget;
class QPushButton;

namespace quorvel {

class TMessageBox : public QWidget {
    Q_OBJECT
public:
    // Creates the window hidden, makes it the global MessageBox and loads its list from
    // `notificationsPath`.
    explicit TMessageBox(std::string notificationsPath, QWidget* parent = nullptr);
    // Saves the list; an error is shown in the stop box.
    ~TMessageBox() override;

    // Writes the list to Notifications.txt. Throws FileError; the list is unchanged.
    void Save();

    // What ShowNotification does once the window exists: stamps the text with the time, puts
    // it first, selects it and shows the window in front.
    void AddNotification(const QString& text);
    // Shows the window and brings it to the front.
    void ShowInFront();

    const NotificationList& List() const { return m_list; }
    const std::string& FileName() const { return m_path; }
    // The clock the time stamps come from (the system clock unless a test sets another).
    void SetClock(const IClock* clock) { m_clock = clock ? clock : &m_systemClock; }

    void OKButtonClick();
    void Button1Click();

    QListWidget* ListBox1 = nullptr;
    QPushButton* OKButton = nullptr; // "OK"
    QPushButton* Button1 = nullptr;  // "Delete Notifications"

protected:
    void resizeEvent(QResizeEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void FormCreate();
    void FormDestroy();
    void Arrange();

    std::string m_path;
    NotificationList m_list;
    SystemClock m_systemClock;
    const IClock* m_clock = &m_systemClock;
    bool m_placed = false;
};

// The notifications window; none until the program block creates it and again once it is gone.
extern TMessageBox* MessageBox;

// Adds a notification; dropped while the window does not exist.
void ShowNotification(const QString& text);
// Shows the window and brings it to the front; nothing is added.
void ShowNotificationWindow();

} // namespace quorvel
