#pragma once
// One table's page: the order box for the next transaction, the broker list, the labels of
// the live cross spread, the quote grid of the table's ten EAs and the grid of its 45 EA pairs,
// and three buttons. The frame holds no desk state: others write what it shows and read what
// the operator sets in it at the moment of use.
#include <QFrame>
#include <QString>
#include <map>

#include "desk/core/controls.h"
#include "platform/widgets/updown.h"

class QAbstractButton;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPainter;
class QPushButton;
class QRadioButton;

namespace quorvel {

class TRealEdit;
class TStringGrid;

class TFrameTable : public QFrame {
    Q_OBJECT
public:
    explicit TFrameTable(QWidget* parent = nullptr);

    // The order box as the desk core reads and writes it.
    QString Text(FrameCtl c) const;
    void SetText(FrameCtl c, const QString& text);
    bool Checked(FrameCtl c) const;
    void SetChecked(FrameCtl c, bool on);
    TRealEdit* Edit(FrameCtl c) const;

    // The arrow steps of the order-box edits: the key released in the box, and the clicks of
    // the up-down buttons.
    void m_reLots1KeyUp(int key);
    void RealEditKeyUp(TRealEdit* sender, int key);
    void UpDown1Click(TUDBtnType button);
    void UpDown2Click(TUDBtnType button);
    void UpDown3Click(TUDBtnType button);
    void UpDown4Click(TUDBtnType button);
    // Banding of the quote grid, after a cell's default drawing.
    void StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect);

    // Components, named as the desk refers to them.
    QFrame* Panel1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QListWidget* m_lbBrokerIDs1 = nullptr; // check list: one checkable item per EA ID
    QLabel* Label3 = nullptr;
    TRealEdit* m_reLots1 = nullptr;
    TUpDown* UpDown4 = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QLabel* Label4 = nullptr;
    QRadioButton* m_rbSpreadKleinerGleich1 = nullptr;
    TRealEdit* m_reSpread1 = nullptr;
    TUpDown* UpDown2 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QRadioButton* m_rbBuy1 = nullptr;
    QRadioButton* m_rbBuySell1 = nullptr;
    QRadioButton* m_rbSell1 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    TRealEdit* m_reMaxVerlust = nullptr;
    TUpDown* UpDown1 = nullptr;
    QGroupBox* GroupBox10 = nullptr;
    QLabel* Label15 = nullptr;
    QRadioButton* m_rbCloseSpreadKleiner1 = nullptr;
    TRealEdit* m_reCloseSpread1 = nullptr;
    TUpDown* UpDown3 = nullptr;
    QCheckBox* m_cbAutoClose = nullptr;
    QCheckBox* m_cbSlippageAusgleich1 = nullptr;
    QPushButton* Button13 = nullptr; // "Place Order"
    QLabel* Label5 = nullptr;
    QLabel* lblMinCrossSpread = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* lblGegenwert = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblSumme = nullptr;
    QPushButton* Button1 = nullptr;         // "Reset Spread Table"
    QPushButton* btnResetCSTable = nullptr; // "Reset ARB Table"
    QFrame* Panel2 = nullptr;
    TStringGrid* StringGrid1 = nullptr; // quote grid of the ten EAs
    QFrame* Panel3 = nullptr;
    TStringGrid* m_sgMinSpread = nullptr; // pair grid of the 45 EA pairs

private:
    std::map<FrameCtl, TRealEdit*> m_edits;
    std::map<FrameCtl, QAbstractButton*> m_buttons;
};

} // namespace quorvel
