// The ADMIN PANEL's operator controls: the "Edit Orders" group and the manual close and
// close-spread buttons, and every control of the tab placed at its position. Every button and
// box only calls the desk core.
#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QStyledItemDelegate>
#include <qdrawutil.h>

#include "components/NumEdit.h"
#include "desk/core/crossspreads.h"
#include "desk/uSkarlin.h"

namespace quorvel {

namespace {

const QColor kGrey(128, 128, 128);

// The tab's client size the positions are given for. A control anchored to the right or the
// bottom edge keeps its distance to that edge when the tab has another size; anchored to both
// opposite edges it stretches.
constexpr int kTabWidth = 1251, kTabHeight = 611;
enum Anchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };

class TabAnchors : public QObject {
public:
    explicit TabAnchors(QWidget* sheet) : QObject(sheet), m_sheet(sheet) { sheet->installEventFilter(this); }
    void Add(QWidget* w, const QRect& rect, unsigned anchors) {
        m_entries.push_back({w, rect, anchors});
        Place(m_entries.back());
    }

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o == m_sheet && e->type() == QEvent::Resize)
            for (const Entry& entry : m_entries) Place(entry);
        return false;
    }

private:
    struct Entry {
        QPointer<QWidget> w;
        QRect rect;
        unsigned anchors;
    };
    void Place(const Entry& e) const {
        if (!e.w) return;
        const int dx = m_sheet->width() - kTabWidth, dy = m_sheet->height() - kTabHeight;
        QRect r = e.rect;
        if (e.anchors & akRight) {
            if (e.anchors & akLeft)
                r.setWidth(std::max(0, r.width() + dx));
            else
                r.translate(dx, 0);
        }
        if (e.anchors & akBottom) {
            if (e.anchors & akTop)
                r.setHeight(std::max(0, r.height() + dy));
            else
                r.translate(0, dy);
        }
        e.w->setGeometry(r);
    }
    QWidget* m_sheet;
    std::vector<Entry> m_entries;
};

// A group box drawn as the panel was laid out for: the frame's top line runs through the
// middle of the caption, so the controls placed a dozen pixels down sit inside the frame.
class PanelGroupBox : public QGroupBox {
public:
    PanelGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QStyleOption opt;
        opt.initFrom(this);
        const QFontMetrics fm = fontMetrics();
        const int top = std::max(0, fm.height() / 2 - 1);
        qDrawShadeRect(&p, QRect(0, top, width(), height() - top), opt.palette, true, 1, 0);
        if (title().isEmpty()) return;
        const QRect caption(8, 0, fm.horizontalAdvance(title()), fm.height());
        p.fillRect(caption, opt.palette.brush(backgroundRole()));
        style()->drawItemText(&p, caption, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, opt.palette,
                              isEnabled(), title(), QPalette::WindowText);
    }
};

class PanelItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(13);
        return s;
    }
};

template <class W> W* At(W* w, int left, int top, int width = -1, int height = -1) {
    if (width < 0) {
        w->adjustSize();
        w->move(left, top);
    } else {
        w->setGeometry(left, top, width, height);
    }
    return w;
}

template <class W> W* Named(W* w, const char* name) {
    w->setObjectName(name);
    return w;
}

TRealEdit* RealBox(int precision, long double value, QWidget* parent, int left, int top, int width,
                   int height) {
    auto* e = At(new TRealEdit(parent), left, top, width, height);
    e->SetPrecision(precision);
    e->SetValue(value);
    return e;
}

TUpDown* Arrows(QWidget* parent, int left, int top) {
    auto* u = At(new TUpDown(parent), left, top, 17, 21);
    u->SetRange(-100000, 100000);
    u->SetPosition(0);
    return u;
}

// A radio button alone in its group: a click switches it on, never off.
void Alone(QRadioButton* rb, QObject* owner) {
    auto* group = new QButtonGroup(owner);
    group->setExclusive(true);
    group->addButton(rb);
}

void AddBrokerItems(QListWidget* lb, const std::vector<std::string>& items) {
    lb->clear();
    for (const auto& s : items) {
        auto* item = new QListWidgetItem(QString::fromStdString(s), lb);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

// The virtual key code of the arrow keys; 0 for any other key.
int ArrowKey(int qtKey) {
    return qtKey == Qt::Key_Up ? kVkUp : qtKey == Qt::Key_Down ? kVkDown : 0;
}

} // namespace

void TForm3::BuildOperatorControls() {
    QWidget* tab = TabSheet4;
    // The order grid below the controls, anchored to all four edges of the tab; the sums above
    // its right end, anchored to the tab's top-right corner. "COPY TRANSACTION" and
    // "Delete Order" stand beside the close buttons.
    auto* anchors = new TabAnchors(tab);
    anchors->Add(DBSortGrid1, QRect(0, 164, 1251, 444), akLeft | akTop | akRight | akBottom);
    const int sumHeight = QFontMetrics(m_lSummelots->font()).height() + 3;
    const std::pair<QLabel*, QRect> sums[] = {{m_lSummelots, QRect(1141, 101, 110, sumHeight)},
                                              {m_lSummeGewinn, QRect(1141, 123, 110, sumHeight)},
                                              {m_lSummeGewinnPips, QRect(1118, 145, 133, sumHeight)}};
    for (const auto& [label, rect] : sums) {
        // A fixed size: a new sum repaints the label and lays out nothing.
        label->setFixedSize(rect.size());
        anchors->Add(label, rect, akTop | akRight);
    }
    At(Button3, 850, 3, 130, 25);
    At(Button14, 850, 34, 130, 25);

    m_gbChange = At(Named(new PanelGroupBox("Edit Orders", tab), "m_gbChange"), 3, 0, 567, 161);
    At(Named(new QLabel("Broker ID", m_gbChange), "Label12"), 8, 16);
    m_lbBrokerIDsChange = At(Named(new QListWidget(m_gbChange), "m_lbBrokerIDsChange"), 66, 16, 52, 140);
    m_lbBrokerIDsChange->setItemDelegate(new PanelItemDelegate(m_lbBrokerIDsChange));
    m_lbBrokerIDsChange->setUniformItemSizes(true);
    AddBrokerItems(m_lbBrokerIDsChange, {"01", "02", "03"});
    At(Named(new QLabel("Lots", m_gbChange), "Label13"), 124, 14);
    m_reLotsChange = RealBox(PrecisionOf(Ctl::reLotsChange), 1.0L, m_gbChange, 124, 30, 42, 21);
    m_reLotsChange->setObjectName("m_reLotsChange");
    UpDown4 = Named(Arrows(m_gbChange, 162, 30), "UpDown4");

    m_gbOpenBedingung =
        At(Named(new PanelGroupBox("Set Open Spread", m_gbChange), "m_gbOpenBedingung"), 185, 14, 186, 41);
    At(Named(new QLabel("Spread", m_gbOpenBedingung), "Label14"), 8, 16);
    m_rbOpenKleinerChange =
        At(Named(new QRadioButton("<=", m_gbOpenBedingung), "m_rbOpenKleinerChange"), 56, 16, 49, 17);
    m_rbOpenKleinerChange->setChecked(true);
    Alone(m_rbOpenKleinerChange, this);
    m_reOpenSpreadChange = RealBox(5, 0.0L, m_gbOpenBedingung, 96, 13, 65, 21);
    m_reOpenSpreadChange->setObjectName("m_reOpenSpreadChange");
    UpDown1 = Named(Arrows(m_gbOpenBedingung, 162, 13), "UpDown1");

    m_gbChangeBuySell =
        At(Named(new PanelGroupBox("Direction", m_gbChange), "m_gbChangeBuySell"), 124, 57, 247, 41);
    m_rbBuyChange = At(Named(new QRadioButton("Buy", m_gbChangeBuySell), "m_rbBuyChange"), 8, 16);
    m_rbBuySellChange = At(Named(new QRadioButton("and", m_gbChangeBuySell), "m_rbBuySellChange"), 80, 16);
    m_rbSellChange = At(Named(new QRadioButton("Sell", m_gbChangeBuySell), "m_rbSellChange"), 168, 16);
    m_rbBuySellChange->setChecked(true);

    GroupBox1 =
        At(Named(new PanelGroupBox("MaxLoss for AutoClose", m_gbChange), "GroupBox1"), 377, 14, 181, 41);
    m_reMaxVerlust = RealBox(5, 0.001L, GroupBox1, 93, 15, 65, 21);
    m_reMaxVerlust->setObjectName("m_reMaxVerlust");
    UpDown2 = Named(Arrows(GroupBox1, 155, 15), "UpDown2");

    m_gbCloseBedingung =
        At(Named(new PanelGroupBox("Set Close Spread", m_gbChange), "m_gbCloseBedingung"), 377, 56, 181, 41);
    At(Named(new QLabel("Spread", m_gbCloseBedingung), "Label5"), 8, 19);
    m_rbCloseKleinerChange =
        At(Named(new QRadioButton("<=", m_gbCloseBedingung), "m_rbCloseKleinerChange"), 56, 18, 49, 17);
    Alone(m_rbCloseKleinerChange, this);
    m_reCloseSpreadChange = RealBox(5, 0.0L, m_gbCloseBedingung, 93, 17, 65, 21);
    m_reCloseSpreadChange->setObjectName("m_reCloseSpreadChange");
    UpDown3 = Named(Arrows(m_gbCloseBedingung, 157, 17), "UpDown3");

    m_cbAutoClose =
        At(Named(new QCheckBox("Forced AutoClose", m_gbChange), "m_cbAutoClose"), 385, 100, 118, 17);
    m_cbAutoClose->setChecked(true);
    m_btnChangeOrder =
        At(Named(new QPushButton("Change Order", m_gbChange), "m_btnChangeOrder"), 325, 124, 105, 25);
    m_btnCloseOrder =
        At(Named(new QPushButton("Change Close Order", m_gbChange), "m_btnCloseOrder"), 437, 124, 121, 25);

    // The manual close and the presets, 130 x 25; the presets in Tahoma 11 px, maroon or green.
    QFont presetFont("Tahoma");
    presetFont.setPixelSize(11);
    auto button = [&](QPushButton*& b, const char* name, const char* caption, int left, int top,
                      const QColor* colour) {
        b = At(new QPushButton(caption, tab), left, top, 130, 25);
        b->setObjectName(name);
        if (colour) {
            b->setFont(presetFont);
            QPalette pal = b->palette();
            pal.setColor(QPalette::ButtonText, *colour);
            b->setPalette(pal);
        }
    };
    const QColor maroon(128, 0, 0), green(0, 128, 0);
    button(m_bManuell, "m_bManuell", "CloseSpread = -0,09999", 575, 3, &maroon);
    button(m_bManuell2, "m_bManuell2", "CloseSpread = -0,00020", 575, 34, &maroon);
    button(m_bManuell3, "m_bManuell3", "CloseSpread = -0,00010", 575, 65, &maroon);
    button(Button6, "Button6", "CloseSpread = 0", 576, 95, &maroon);
    button(Button4, "Button4", "CloseSpread = 0,00020", 711, 33, &green);
    button(Button5, "Button5", "CloseSpread = 0,00010", 711, 64, &green);
    button(Button1, "Button1", "Close Transaction", 712, 95, nullptr);
    button(Button18, "Button18", "Close Position", 712, 136, nullptr);

    // Each button calls its control on the desk; the close-spread presets name their value.
    auto click = [this](QPushButton* b, auto handler) {
        connect(b, &QPushButton::clicked, this,
                [this, handler] { m_desk->Guarded([this, handler] { handler(*m_desk); }); });
    };
    auto preset = [click](QPushButton* b, double closeSpread) {
        click(b, [closeSpread](Desk& d) { d.orderControls.SetCloseSpreadSelected(closeSpread); });
    };
    preset(m_bManuell, -0.09999);
    preset(m_bManuell2, -0.0002);
    preset(m_bManuell3, -0.0001);
    preset(Button6, 0.0);
    preset(Button4, 0.0002);
    preset(Button5, 0.0001);
    click(Button1, [](Desk& d) { d.orderControls.ForceCloseOrder(false); }); // "Close Transaction"
    click(Button18, [](Desk& d) { d.orderControls.ForceCloseOrder(true); }); // "Close Position"
    click(m_btnChangeOrder, [](Desk& d) { d.editOrders.ChangeSelectedOrder(); });
    click(m_btnCloseOrder, [](Desk& d) { d.orderControls.ChangeCloseOrder(); });

    auto arrows = [this](TUpDown* u, void (EditOrders::*handler)(bool)) {
        connect(u, &TUpDown::Click, this, [this, handler](TUDBtnType b) {
            m_desk->Guarded([this, handler, b] { (m_desk->editOrders.*handler)(b == TUDBtnType::btNext); });
        });
    };
    arrows(UpDown1, &EditOrders::UpDown1Click);
    arrows(UpDown2, &EditOrders::UpDown2Click);
    arrows(UpDown3, &EditOrders::UpDown3Click);
    arrows(UpDown4, &EditOrders::UpDown4Click);
    connect(m_reLotsChange, &TRealEdit::KeyUp, this, [this](int key) {
        m_desk->Guarded([this, key] { m_desk->editOrders.m_reLotsChangeKeyUp(ArrowKey(key)); });
    });
    const std::pair<TRealEdit*, Ctl> spreadBoxes[] = {{m_reOpenSpreadChange, Ctl::reOpenSpreadChange},
                                                      {m_reCloseSpreadChange, Ctl::reCloseSpreadChange},
                                                      {m_reMaxVerlust, Ctl::reMaxVerlust}};
    for (const auto& [box, ctl] : spreadBoxes)
        connect(box, &TRealEdit::KeyUp, this, [this, c = ctl](int key) {
            m_desk->Guarded([this, c, key] { m_desk->RealEditKeyUp(c, ArrowKey(key)); });
        });

    // The display cursor's data-change event (also raised by the grid on its first mouse
    // release after gaining the focus) loads the group.
    DataSource1.OnDataChange = [this](const void*, Field*) {
        m_desk->Guarded([this] { m_desk->editOrders.FillEditOrdersPanel(); });
    };
}

// ---- controls seam: the "Edit Orders" group ----------------------------------------------------

void TForm3::SetPanelBrokerItems(const std::vector<std::string>& items) {
    AddBrokerItems(m_lbBrokerIDsChange, items);
}

int TForm3::PanelBrokerCount() const {
    return m_lbBrokerIDsChange->count();
}

std::string TForm3::PanelBrokerText(int item) const {
    return m_lbBrokerIDsChange->item(item)->text().toStdString();
}

bool TForm3::PanelBrokerChecked(int item) const {
    return m_lbBrokerIDsChange->item(item)->checkState() == Qt::Checked;
}

void TForm3::SetPanelBrokerChecked(int item, bool on) {
    m_lbBrokerIDsChange->item(item)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

QWidget* TForm3::PanelPartOf(PanelPart p) const {
    switch (p) {
    case PanelPart::gbChange:
        return m_gbChange;
    case PanelPart::btnChangeOrder:
        return m_btnChangeOrder;
    case PanelPart::btnCloseOrder:
        return m_btnCloseOrder;
    case PanelPart::lbBrokerIDsChange:
        return m_lbBrokerIDsChange;
    case PanelPart::reLotsChange:
        return m_reLotsChange;
    case PanelPart::gbChangeBuySell:
        return m_gbChangeBuySell;
    case PanelPart::gbOpenBedingung:
        return m_gbOpenBedingung;
    case PanelPart::gbCloseBedingung:
        return m_gbCloseBedingung;
    }
    return nullptr;
}

void TForm3::SetPanelEnabled(PanelPart p, bool on) {
    // The lots box stays a window that takes clicks and keys: off, it is read-only.
    if (p == PanelPart::reLotsChange)
        m_reLotsChange->SetEnabled(on);
    else if (QWidget* w = PanelPartOf(p))
        w->setEnabled(on);
}

void TForm3::SetPanelFontGrey(PanelPart p, bool grey) {
    QWidget* w = PanelPartOf(p);
    if (!w) return;
    // The colour shows in the caption and in every control inside that takes its font from it.
    QPalette pal = w->palette();
    const QColor text = grey ? kGrey : palette().color(QPalette::Active, QPalette::WindowText);
    // A switched-off control inside keeps the disabled look of its own.
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive})
        for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            pal.setColor(g, r, text);
    w->setPalette(pal);
}

} // namespace quorvel
