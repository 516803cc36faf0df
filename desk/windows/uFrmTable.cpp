#include "desk/windows/uFrmTable.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "components/NumEdit.h"
#include "desk/core/spreadtables.h"
#include "platform/widgets/formfont.h"
#include "platform/widgets/stringgrid.h"

namespace quorvel {

namespace {

constexpr long double kLotsStep = 0.1L;
constexpr long double kSpreadStep = 0.00005L;

// Items of the broker list are 13 pixels high.
class BrokerItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(13);
        return s;
    }
};

template <class W> W* Place(W* w, int left, int top, int width = -1, int height = -1) {
    if (width < 0) {
        w->adjustSize();
        w->move(left, top);
    } else {
        w->setGeometry(left, top, width, height);
    }
    return w;
}

QLabel* MakeLabel(const QString& caption, QWidget* parent, int left, int top) {
    return Place(new QLabel(caption, parent), left, top);
}

TRealEdit* MakeRealEdit(int precision, QWidget* parent, int left, int top, int width, int height) {
    auto* e = Place(new TRealEdit(parent), left, top, width, height);
    e->SetPrecision(precision);
    return e;
}

TUpDown* MakeUpDown(int min, int max, QWidget* parent, int left, int top) {
    auto* u = Place(new TUpDown(parent), left, top, 17, 21);
    u->SetRange(min, max);
    u->SetPosition(0);
    return u;
}

void SetUpGrid(TStringGrid* g, int rows, int cols, int fixedRows, int fixedCols, int colWidth) {
    QFont f("Tahoma");
    f.setPixelSize(13);
    g->setFont(f);
    g->SetFixedRows(fixedRows);
    g->SetFixedCols(fixedCols);
    g->SetDefaultRowHeight(20);
    g->SetDefaultColWidth(colWidth);
    g->SetRowCount(rows);
    g->SetColCount(cols);
}

} // namespace

TFrameTable::TFrameTable(QWidget* parent) : QFrame(parent) {
    setObjectName("FrameTable");
    setFont(FormFont());

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel1->setFixedHeight(169);

    GroupBox1 = Place(new QGroupBox("Order", Panel1), 0, 2, 585, 161);
    Label2 = MakeLabel("Broker ID", GroupBox1, 3, 14);
    m_lbBrokerIDs1 = Place(new QListWidget(GroupBox1), 61, 14, 52, 139);
    m_lbBrokerIDs1->setObjectName("m_lbBrokerIDs1");
    m_lbBrokerIDs1->setItemDelegate(new BrokerItemDelegate(m_lbBrokerIDs1));
    m_lbBrokerIDs1->setUniformItemSizes(true);
    Label3 = MakeLabel("Lots", GroupBox1, 124, 12);
    m_reLots1 = MakeRealEdit(2, GroupBox1, 124, 28, 42, 21);
    m_reLots1->SetValue(1.0);
    UpDown4 = MakeUpDown(-9, 100, GroupBox1, 164, 25);

    GroupBox2 = Place(new QGroupBox("Set Open Spread", GroupBox1), 187, 12, 177, 41);
    Label4 = MakeLabel("Spread", GroupBox2, 8, 16);
    m_rbSpreadKleinerGleich1 = Place(new QRadioButton("<=", GroupBox2), 56, 16, 49, 17);
    m_rbSpreadKleinerGleich1->setChecked(true);
    m_reSpread1 = MakeRealEdit(5, GroupBox2, 96, 13, 57, 21);
    m_reSpread1->SetValue(0.0);
    UpDown2 = MakeUpDown(-100, 100, GroupBox2, 149, 13);

    GroupBox3 = Place(new QGroupBox("Direction", GroupBox1), 187, 52, 177, 41);
    m_rbBuy1 = Place(new QRadioButton("Buy", GroupBox3), 8, 16, 57, 17);
    m_rbBuySell1 = Place(new QRadioButton("and", GroupBox3), 56, 16, 42, 17);
    m_rbSell1 = Place(new QRadioButton("Sell", GroupBox3), 104, 16, 57, 17);
    m_rbBuySell1->setChecked(true);

    GroupBox4 = Place(new QGroupBox("MaxLoss for AutoClose", GroupBox1), 370, 12, 207, 41);
    m_reMaxVerlust = MakeRealEdit(5, GroupBox4, 127, 13, 57, 21);
    m_reMaxVerlust->SetValue(0.0);
    UpDown1 = MakeUpDown(-100, 100, GroupBox4, 182, 13);

    GroupBox10 = Place(new QGroupBox("Set Close Spread", GroupBox1), 370, 52, 207, 41);
    Label15 = MakeLabel("Spread", GroupBox10, 8, 16);
    m_rbCloseSpreadKleiner1 = Place(new QRadioButton("<=", GroupBox10), 56, 16, 49, 17);
    m_rbCloseSpreadKleiner1->setChecked(true);
    // Each "<=" is alone in its group, so it stays checked.
    for (QRadioButton* rb : {m_rbSpreadKleinerGleich1, m_rbCloseSpreadKleiner1}) {
        auto* group = new QButtonGroup(this);
        group->setExclusive(true);
        group->addButton(rb);
    }
    m_reCloseSpread1 = MakeRealEdit(5, GroupBox10, 127, 13, 59, 21);
    m_reCloseSpread1->SetValue(0.0);
    UpDown3 = MakeUpDown(-100, 100, GroupBox10, 182, 13);

    m_cbAutoClose = Place(new QCheckBox("Forced AutoClose", GroupBox1), 195, 99, 118, 17);
    m_cbAutoClose->setChecked(true);
    m_cbSlippageAusgleich1 = Place(new QCheckBox("Slippage Correction", GroupBox1), 370, 99, 200, 17);
    m_cbSlippageAusgleich1->setChecked(true);
    Button13 = Place(new QPushButton("Place Order", GroupBox1), 360, 128, 201, 25);
    Button13->setObjectName("Button13");

    Label5 = MakeLabel("Min. Cross Spread:", Panel1, 591, 14);
    lblMinCrossSpread = MakeLabel("lblMinCrossSpread", Panel1, 689, 14);
    Label7 = MakeLabel("Counter Spread:", Panel1, 591, 33);
    lblGegenwert = MakeLabel("lblGegenwert", Panel1, 689, 33);
    Label1 = MakeLabel("Total:", Panel1, 591, 52);
    lblSumme = MakeLabel("Summe", Panel1, 689, 52);
    // The value labels change with every quote of the table: give them room for the longest
    // text once, so that a new text costs no size computation.
    for (QLabel* l : {lblMinCrossSpread, lblGegenwert, lblSumme}) l->resize(480, l->height());
    Button1 = Place(new QPushButton("Reset Spread Table", Panel1), 591, 138, 113, 25);
    Button1->setObjectName("Button1");
    btnResetCSTable = Place(new QPushButton("Reset ARB Table", Panel1), 1072, 138, 113, 25);
    btnResetCSTable->setObjectName("btnResetCSTable");

    Panel2 = new QFrame(this);
    Panel2->setObjectName("Panel2");
    Panel2->setFrameStyle(QFrame::NoFrame);
    Panel2->setFixedWidth(713);
    StringGrid1 = new TStringGrid(Panel2);
    StringGrid1->setObjectName("StringGrid1");
    SetUpGrid(StringGrid1, 21, 13, 1, 1, 103);
    StringGrid1->setFixedWidth(704);
    StringGrid1->OnDrawCell = [this](QPainter& p, int col, int row, const QRect& r) {
        StringGrid1DrawCell(p, col, row, r);
    };
    auto* left = new QHBoxLayout(Panel2);
    left->setContentsMargins(0, 0, 0, 0);
    left->addWidget(StringGrid1);
    left->addStretch(1);

    Panel3 = new QFrame(this);
    Panel3->setObjectName("Panel3");
    Panel3->setFrameStyle(QFrame::NoFrame);
    Panel3->setFixedWidth(472);
    m_sgMinSpread = new TStringGrid(Panel3);
    m_sgMinSpread->setObjectName("m_sgMinSpread");
    SetUpGrid(m_sgMinSpread, 46, 5, 1, 0, 100);
    auto* right = new QHBoxLayout(Panel3);
    right->setContentsMargins(0, 0, 0, 0);
    right->addWidget(m_sgMinSpread);

    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addWidget(Panel1);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(Panel2);
    row->addWidget(Panel3);
    row->addStretch(1);
    col->addLayout(row, 1);

    m_edits = {{FrameCtl::reLots1, m_reLots1},
               {FrameCtl::reSpread1, m_reSpread1},
               {FrameCtl::reMaxVerlust, m_reMaxVerlust},
               {FrameCtl::reCloseSpread1, m_reCloseSpread1}};
    m_buttons = {{FrameCtl::rbBuy1, m_rbBuy1},
                 {FrameCtl::rbBuySell1, m_rbBuySell1},
                 {FrameCtl::rbSell1, m_rbSell1},
                 {FrameCtl::rbSpreadKleinerGleich1, m_rbSpreadKleinerGleich1},
                 {FrameCtl::rbCloseSpreadKleiner1, m_rbCloseSpreadKleiner1},
                 {FrameCtl::cbAutoClose, m_cbAutoClose},
                 {FrameCtl::cbSlippageAusgleich1, m_cbSlippageAusgleich1}};

    connect(m_reLots1, &TRealEdit::KeyUp, this, [this](int key) { m_reLots1KeyUp(key); });
    for (TRealEdit* e : {m_reSpread1, m_reCloseSpread1, m_reMaxVerlust})
        connect(e, &TRealEdit::KeyUp, this, [this, e](int key) { RealEditKeyUp(e, key); });
    connect(UpDown1, &TUpDown::Click, this, &TFrameTable::UpDown1Click);
    connect(UpDown2, &TUpDown::Click, this, &TFrameTable::UpDown2Click);
    connect(UpDown3, &TUpDown::Click, this, &TFrameTable::UpDown3Click);
    connect(UpDown4, &TUpDown::Click, this, &TFrameTable::UpDown4Click);

    // A new frame shows open spread -0,00040 and close spread -0,00020.
    m_reSpread1->SetValue(-0.0004L);
    m_reCloseSpread1->SetValue(-0.0002L);
}

namespace {
void StepBy(TRealEdit* e, long double delta) {
    e->SetValue(e->Value() + delta);
}
long double Delta(TUDBtnType b, long double step) {
    return b == TUDBtnType::btNext ? step : -step;
}
} // namespace

void TFrameTable::m_reLots1KeyUp(int key) {
    if (key == Qt::Key_Up) StepBy(m_reLots1, kLotsStep);
    if (key == Qt::Key_Down) StepBy(m_reLots1, -kLotsStep);
}

void TFrameTable::RealEditKeyUp(TRealEdit* sender, int key) {
    if (key == Qt::Key_Up) StepBy(sender, kSpreadStep);
    if (key == Qt::Key_Down) StepBy(sender, -kSpreadStep);
}

void TFrameTable::UpDown1Click(TUDBtnType button) {
    StepBy(m_reMaxVerlust, Delta(button, kSpreadStep));
}
void TFrameTable::UpDown2Click(TUDBtnType button) {
    StepBy(m_reSpread1, Delta(button, kSpreadStep));
}
void TFrameTable::UpDown3Click(TUDBtnType button) {
    StepBy(m_reCloseSpread1, Delta(button, kSpreadStep));
}
void TFrameTable::UpDown4Click(TUDBtnType button) {
    StepBy(m_reLots1, Delta(button, kLotsStep));
}

void TFrameTable::StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect) {
    if (!IsBandedRow(row)) return;
    painter.fillRect(rect, QColor(QRgb(kBandColour)));
    painter.setFont(StringGrid1->font());
    painter.setPen(StringGrid1->palette().color(QPalette::WindowText));
    StringGrid1->Texts().Draw(painter, rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                              StringGrid1->Cells(col, row));
}

TRealEdit* TFrameTable::Edit(FrameCtl c) const {
    auto it = m_edits.find(c);
    return it == m_edits.end() ? nullptr : it->second;
}

QString TFrameTable::Text(FrameCtl c) const {
    TRealEdit* e = Edit(c);
    return e ? e->text() : QString();
}

void TFrameTable::SetText(FrameCtl c, const QString& text) {
    if (TRealEdit* e = Edit(c)) e->setText(text);
}

bool TFrameTable::Checked(FrameCtl c) const {
    auto it = m_buttons.find(c);
    return it != m_buttons.end() && it->second->isChecked();
}

void TFrameTable::SetChecked(FrameCtl c, bool on) {
    auto it = m_buttons.find(c);
    if (it != m_buttons.end()) it->second->setChecked(on);
}

} // namespace quorvel
