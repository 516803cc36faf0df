#pragma once
// The notifications window: a small tool window that stays on top of the desk and lists the
// notification lines, newest first. It shows the list that the Qt-free NotificationList keeps
// and saves it to Notifications.txt.
//
// A notification goes into the list at once; the window paints at its own pace (PaintThrottle),
// never in the middle of the EAs' traffic. The list's model and view cost the same per new line
// however long the list is: row r is the list's line r, every row is one line high, and the view
// draws only the rows on screen.
#include <QAbstractItemView>
#include <QAbstractListModel>
#include <QHash>
#include <QStaticText>
#include <QString>
#include <QWidget>
#include <string>

#include "desk/core/notifications.h"
#include "platform/timestamp.h"

class QPushButton;

namespace quorvel {

class PaintThrottle;

// The notification list as a list model: row 0 is the newest line. Every change of the list
// goes through the model, so that its views follow.
class NotificationListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit NotificationListModel(NotificationList& list, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // A new line 0; every other row moves one down.
    void Add(TDateTime when, char timeSeparator, std::string_view text);
    void Clear();
    // NotificationList::Load, the rows following.
    std::string Load(const std::string& path);
    const NotificationList& List() const { return m_list; }

private:
    NotificationList& m_list;
};

// The list box of the notifications window: one line per row, each kItemHeight pixels high,
// single selection, a vertical scroll bar that counts rows. Only the rows on screen are drawn.
class NotificationListBox : public QAbstractItemView {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 13;

    explicit NotificationListBox(QWidget* parent = nullptr);

    int count() const;
    int currentRow() const;
    void setCurrentRow(int row);
    // The text of a row; empty outside the list.
    QString LineText(int row) const;
    // The first row on screen.
    int TopRow() const;

    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QRect visualRect(const QModelIndex& index) const override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override { return TopRow() * kItemHeight; }
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void paintEvent(QPaintEvent* e) override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* e) override;

private:
    // Rows that fit the view entirely (at least one).
    int FullRows() const;
    void UpdateScrollBar();
    // A line's text laid out for drawing; the lines drawn lately are kept.
    const QStaticText& TextOf(const QString& line) const;
    static constexpr qsizetype kTextCacheSize = 256;
    mutable QHash<QString, QStaticText> m_texts;
};

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
    NotificationListModel* Model() const { return m_model; }
    // The budget of the window's repaints.
    PaintThrottle* Paints() const { return m_paints; }
    // At most one repaint per this many milliseconds.
    static constexpr int kPaintIntervalMs = 150;
    const std::string& FileName() const { return m_path; }
    // The clock the time stamps come from (the system clock unless a test sets another).
    void SetClock(const IClock* clock) { m_clock = clock ? clock : &m_systemClock; }

    void OKButtonClick();
    void Button1Click();

    NotificationListBox* ListBox1 = nullptr;
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
    NotificationListModel* m_model = nullptr;
    PaintThrottle* m_paints = nullptr;
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
