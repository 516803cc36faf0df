#include "desk/windows/uMessageBox.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QStyledItemDelegate>
#include <cstdio>
#include <exception>

#include "desk/core/view.h"
#include "desk/windows/shutdownboxes.h"
#include "platform/numbers.h"
#include "platform/widgets/apptitle.h"

namespace quorvel {

TMessageBox* MessageBox = nullptr;

namespace {

constexpr int kClientWidth = 505;
constexpr int kClientHeight = 168;
constexpr int kItemHeight = 13;

// Every line of the list is 13 pixels high.
class FixedHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(kItemHeight);
        return s;
    }
};

} // namespace

TMessageBox::TMessageBox(std::string notificationsPath, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_path(std::move(notificationsPath)) {
    MessageBox = this;
    setObjectName("MessageBox");
    setWindowTitle("Notifications");

    // A small font like the desk's other windows, so that the captions fit their buttons.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new FixedHeightDelegate(ListBox1));

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setDefault(true);
    Button1 = new QPushButton("Delete Notifications", this);
    Button1->setObjectName("Button1");

    connect(OKButton, &QPushButton::clicked, this, [this] { OKButtonClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    resize(kClientWidth, kClientHeight);
    Arrange();
    FormCreate();
}

TMessageBox::~TMessageBox() {
    if (MessageBox == this) MessageBox = nullptr; // nothing is added to a list that is going
    FormDestroy();
}

void TMessageBox::FormCreate() {
    // A file that is missing gives an empty list without a word; one that had to be set aside
    // is told, on stderr and as the first notification.
    const std::string note = m_list.Load(m_path);
    QStringList items;
    for (const std::string& line : m_list.Lines())
        items << QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    ListBox1->addItems(items);
    if (!note.empty()) {
        std::fprintf(stderr, "%s\n", note.c_str());
        AddNotification(QString::fromStdString(note));
    }
}

void TMessageBox::FormDestroy() {
    try {
        Save();
    } catch (const std::exception& e) {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                        QString::fromStdString(StopBoxText(e.what())), QMessageBox::Ok);
        ExecBox(box);
    }
}

void TMessageBox::Save() {
    m_list.Save(m_path);
}

void TMessageBox::AddNotification(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    m_list.Add(m_clock->Now(), Locale().timeSeparator, std::string_view(utf8.constData(), utf8.size()));
    const std::string& line = m_list.Lines().front();
    ListBox1->insertItem(0, QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    ListBox1->setCurrentRow(0);
    ShowInFront();
}

void TMessageBox::ShowInFront() {
    show();
    raise();
}

void TMessageBox::OKButtonClick() {
    close(); // a secondary window closes by hiding
}

void TMessageBox::Button1Click() {
    m_list.Clear();
    ListBox1->clear();
}

void TMessageBox::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    Arrange();
}

void TMessageBox::Arrange() {
    // The list stretches with the window; "OK" keeps to the right and bottom edges and
    // "Delete Notifications" to the left and bottom edges.
    const int w = width(), h = height();
    ListBox1->setGeometry(0, 0, w, h - (kClientHeight - 137));
    OKButton->setGeometry(w - (kClientWidth - 373), h - (kClientHeight - 140), 75, 25);
    Button1->setGeometry(64, h - (kClientHeight - 140), 105, 25);
}

void TMessageBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OKButton->click(); // the default button
        return;
    }
    QWidget::keyPressEvent(e);
}

void TMessageBox::showEvent(QShowEvent* e) {
    if (!m_placed) {
        m_placed = true;
        if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }
    QWidget::showEvent(e);
}

void ShowNotification(const QString& text) {
    if (!MessageBox) return; // not kept for later
    MessageBox->AddNotification(text);
}

void ShowNotificationWindow() {
    if (!MessageBox) return;
    MessageBox->ShowInFront();
    MessageBox->activateWindow();
}

} // namespace quorvel
