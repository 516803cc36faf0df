#include "desk/windows/uMessageBox.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStaticText>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>

#include "desk/core/view.h"
#include "desk/windows/shutdownboxes.h"
#include "platform/numbers.h"
#include "platform/widgets/apptitle.h"
#include "platform/widgets/paintthrottle.h"

namespace quorvel {

TMessageBox* MessageBox = nullptr;

namespace {

constexpr int kClientWidth = 505;
constexpr int kClientHeight = 168;
constexpr int kTextIndent = 2;

QString LineToQString(const std::string& line) {
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

// The list's scroll bar: its range grows with every line, but it is drawn again only when
// that changes what it shows (the slider's place and length, which arrows can move).
class RowScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override {
        if ((change == SliderRangeChange || change == SliderStepsChange) && m_drawn && Look() == m_look)
            return;
        QScrollBar::sliderChange(change);
    }
    void paintEvent(QPaintEvent* e) override {
        m_look = Look();
        m_drawn = true;
        QScrollBar::paintEvent(e);
    }
    void resizeEvent(QResizeEvent* e) override {
        m_drawn = false;
        QScrollBar::resizeEvent(e);
    }

private:
    struct Shown {
        QRect slider;
        bool back = false, forth = false;
        bool operator==(const Shown&) const = default;
    };
    Shown Look() const {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this),
                value() > minimum(), value() < maximum()};
    }
    Shown m_look;
    bool m_drawn = false;
};

} // namespace

// ---- the list model ----------------------------------------------------------------------------

NotificationListModel::NotificationListModel(NotificationList& list, QObject* parent)
    : QAbstractListModel(parent), m_list(list) {}

int NotificationListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    const size_t n = m_list.Lines().size();
    return n > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(n);
}

QVariant NotificationListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.column() != 0 || index.row() < 0 ||
        static_cast<size_t>(index.row()) >= m_list.Lines().size())
        return {};
    return LineToQString(m_list.Lines()[static_cast<size_t>(index.row())]);
}

Qt::ItemFlags NotificationListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void NotificationListModel::Add(TDateTime when, char timeSeparator, std::string_view text) {
    beginInsertRows(QModelIndex(), 0, 0);
    m_list.Add(when, timeSeparator, text);
    endInsertRows();
}

void NotificationListModel::Clear() {
    beginResetModel();
    m_list.Clear();
    endResetModel();
}

std::string NotificationListModel::Load(const std::string& path) {
    beginResetModel();
    std::string note = m_list.Load(path);
    endResetModel();
    return note;
}

// ---- the list box ------------------------------------------------------------------------------

NotificationListBox::NotificationListBox(QWidget* parent) : QAbstractItemView(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAutoScroll(true);
    setVerticalScrollBar(new RowScrollBar(Qt::Vertical, this));
    verticalScrollBar()->setSingleStep(1);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent); // the rows paint their background
}

int NotificationListBox::count() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int NotificationListBox::currentRow() const {
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void NotificationListBox::setCurrentRow(int row) {
    if (!model() || !selectionModel()) return;
    const QModelIndex index = model()->index(row, 0, rootIndex());
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

QString NotificationListBox::LineText(int row) const {
    if (!model()) return {};
    return model()->index(row, 0, rootIndex()).data().toString();
}

int NotificationListBox::TopRow() const {
    return verticalScrollBar()->value();
}

int NotificationListBox::FullRows() const {
    return std::max(1, viewport()->height() / kItemHeight);
}

QModelIndex NotificationListBox::indexAt(const QPoint& point) const {
    if (!model() || point.y() < 0 || point.x() < 0 || point.x() >= viewport()->width()) return {};
    const qint64 row = qint64(TopRow()) + point.y() / kItemHeight;
    if (row >= count()) return {};
    return model()->index(static_cast<int>(row), 0, rootIndex());
}

QRect NotificationListBox::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model()) return {};
    const qint64 y = (qint64(index.row()) - TopRow()) * kItemHeight;
    if (y < INT_MIN / 2 || y > INT_MAX / 2) return {}; // far off screen
    return QRect(0, static_cast<int>(y), viewport()->width(), kItemHeight);
}

void NotificationListBox::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.model() != model()) return;
    const int row = index.row(), top = TopRow(), rows = FullRows();
    int newTop = top;
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            newTop = row;
        else if (row >= top + rows)
            newTop = row - rows + 1;
        break;
    case PositionAtTop:
        newTop = row;
        break;
    case PositionAtBottom:
        newTop = row - rows + 1;
        break;
    case PositionAtCenter:
        newTop = row - rows / 2;
        break;
    }
    verticalScrollBar()->setValue(std::max(0, newTop));
}

QModelIndex NotificationListBox::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int n = count();
    if (n == 0) return {};
    const int current = currentRow();
    if (current < 0) return model()->index(0, 0, rootIndex());
    int row = current;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = current - 1;
        break;
    case MoveDown:
    case MoveNext:
        row = current + 1;
        break;
    case MovePageUp:
        row = current - FullRows();
        break;
    case MovePageDown:
        row = current + FullRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = n - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(std::clamp(row, 0, n - 1), 0, rootIndex());
}

void NotificationListBox::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!model() || !selectionModel()) return;
    const QRect r = rect.normalized();
    const int n = count();
    if (n == 0) return;
    const int first = std::clamp(TopRow() + std::max(0, r.top()) / kItemHeight, 0, n - 1);
    const int last = std::clamp(TopRow() + std::max(0, r.bottom()) / kItemHeight, first, n - 1);
    const QItemSelection selection(model()->index(first, 0, rootIndex()),
                                   model()->index(last, 0, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion NotificationListBox::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const int top = TopRow(), bottom = top + FullRows(); // one more row may show in part
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.model() != model()) continue;
        const int first = std::max(range.top(), top), last = std::min(range.bottom(), bottom);
        if (first > last) continue;
        region +=
            QRect(0, (first - top) * kItemHeight, viewport()->width(), (last - first + 1) * kItemHeight);
    }
    return region;
}

const QStaticText& NotificationListBox::TextOf(const QString& line) const {
    if (m_texts.size() >= kTextCacheSize) m_texts.clear();
    auto it = m_texts.find(line);
    if (it == m_texts.end()) {
        QStaticText text(line);
        text.setTextFormat(Qt::PlainText);
        text.prepare(QTransform(), font());
        it = m_texts.insert(line, text);
    }
    return *it;
}

void NotificationListBox::paintEvent(QPaintEvent* e) {
    // Every pixel is painted here, a row at a time: the background of a row and its text. The
    // rows of a list seldom change, the texts are prepared once.
    QPainter painter(viewport());
    const int n = count(), top = TopRow(), width = viewport()->width();
    const QRect dirty = e->rect();
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    const QPalette& pal = palette();
    const QBrush& base = pal.brush(group, QPalette::Base);
    const QModelIndex current = currentIndex();
    const int textTop = (kItemHeight - QFontMetrics(font()).height()) / 2;
    painter.setFont(font());
    const int firstSlot = std::max(0, dirty.top()) / kItemHeight;
    const int lastSlot = std::max(0, dirty.bottom()) / kItemHeight;
    for (int slot = firstSlot; slot <= lastSlot; ++slot) {
        const QRect rect(0, slot * kItemHeight, width, kItemHeight);
        const qint64 row = qint64(top) + slot;
        if (!model() || row >= n) {
            painter.fillRect(rect, base);
            continue;
        }
        const QModelIndex index = model()->index(static_cast<int>(row), 0, rootIndex());
        const bool selected = selectionModel() && selectionModel()->isSelected(index);
        painter.fillRect(rect, selected ? pal.brush(group, QPalette::Highlight) : base);
        painter.setPen(pal.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
        painter.drawStaticText(kTextIndent, rect.top() + textTop, TextOf(index.data().toString()));
        if (index == current && hasFocus()) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = rect;
            focus.backgroundColor = pal.color(group, selected ? QPalette::Highlight : QPalette::Base);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
        }
    }
}

void NotificationListBox::UpdateScrollBar() {
    const int rows = FullRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(rows);
    bar->setRange(0, std::max(0, count() - rows));
}

void NotificationListBox::updateGeometries() {
    UpdateScrollBar();
    QAbstractItemView::updateGeometries();
}

void NotificationListBox::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex()) return;
    // The scroll bar counts rows; the rows on screen change when the new ones come before or
    // among them.
    UpdateScrollBar();
    if (start <= TopRow() + FullRows()) viewport()->update();
}

void NotificationListBox::reset() {
    QAbstractItemView::reset();
    m_texts.clear();
    UpdateScrollBar();
    viewport()->update();
}

void NotificationListBox::scrollContentsBy(int, int) {
    viewport()->update();
}

void NotificationListBox::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) m_texts.clear(); // laid out in the old font
    QAbstractItemView::changeEvent(e);
}

// ---- the window --------------------------------------------------------------------------------

TMessageBox::TMessageBox(std::string notificationsPath, QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), m_path(std::move(notificationsPath)) {
    MessageBox = this;
    setObjectName("MessageBox");
    setWindowTitle("Notifications");

    // A small font like the desk's other windows, so that the captions fit their buttons.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    m_model = new NotificationListModel(m_list, this);
    ListBox1 = new NotificationListBox(this);
    ListBox1->setObjectName("ListBox1");
    ListBox1->setModel(m_model);
    m_paints = new PaintThrottle(this, kPaintIntervalMs);

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
    const std::string note = m_model->Load(m_path);
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
    m_model->Add(m_clock->Now(), Locale().timeSeparator,
                 std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
    ListBox1->setCurrentRow(0);
    ListBox1->scrollTo(m_model->index(0, 0));
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
    m_model->Clear();
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
