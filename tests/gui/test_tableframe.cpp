// The table frame, the up-down buttons, the settings bar and the Watch tab's values.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <fstream>
#include <gtest/gtest.h>

#include "components/NumEdit.h"
#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "platform/numbers.h"
#include "platform/widgets/stringgrid.h"
#include "platform/widgets/updown.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

QString ScreenshotPath(const char* name) {
    QDir().mkpath(QUORVEL_SCREENSHOT_DIR);
    return QString(QUORVEL_SCREENSHOT_DIR) + "/" + name;
}

void PressHalf(TUpDown* u, TUDBtnType half) {
    QTest::mouseClick(half == TUDBtnType::btNext ? static_cast<QWidget*>(u->UpButton())
                                                 : static_cast<QWidget*>(u->DownButton()),
                      Qt::LeftButton);
}

void ReleaseKey(QWidget* w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(w, key, mods);
}

class Frame : public ::testing::Test {
protected:
    test::LocaleScope comma{','};
};

TEST_F(Frame, UpDownClicksOnlyWhileItsPositionCanMove) {
    TUpDown u;
    u.SetRange(-9, 100);
    QSignalSpy clicks(&u, &TUpDown::Click);
    for (int i = 0; i < 9; ++i) PressHalf(&u, TUDBtnType::btPrev);
    EXPECT_EQ(u.Position(), -9);
    EXPECT_EQ(clicks.count(), 9);
    PressHalf(&u, TUDBtnType::btPrev); // at the end of the range
    EXPECT_EQ(clicks.count(), 9);
    EXPECT_EQ(u.Position(), -9);
    PressHalf(&u, TUDBtnType::btNext);
    ASSERT_EQ(clicks.count(), 10);
    EXPECT_EQ(clicks.last().at(0).value<TUDBtnType>(), TUDBtnType::btNext);
    u.SetPosition(100);
    EXPECT_FALSE(u.Press(TUDBtnType::btNext));
    EXPECT_TRUE(u.Press(TUDBtnType::btPrev));
    u.SetPosition(1000); // kept within the range
    EXPECT_EQ(u.Position(), 100);
}

TEST_F(Frame, ANewFrameShowsItsLaidOutComponentsAndDefaults) {
    TFrameTable f;
    EXPECT_EQ(f.m_reLots1->text(), "1,00");
    EXPECT_EQ(f.m_reSpread1->text(), "-0,00040");
    EXPECT_EQ(f.m_reCloseSpread1->text(), "-0,00020");
    EXPECT_EQ(f.m_reMaxVerlust->text(), "0,00000");
    EXPECT_EQ(f.m_reLots1->Precision(), 2);
    for (TRealEdit* e : {f.m_reSpread1, f.m_reCloseSpread1, f.m_reMaxVerlust}) EXPECT_EQ(e->Precision(), 5);
    EXPECT_TRUE(f.m_rbBuySell1->isChecked());
    EXPECT_FALSE(f.m_rbBuy1->isChecked());
    EXPECT_FALSE(f.m_rbSell1->isChecked());
    EXPECT_TRUE(f.m_rbSpreadKleinerGleich1->isChecked());
    EXPECT_TRUE(f.m_rbCloseSpreadKleiner1->isChecked());
    EXPECT_TRUE(f.m_cbAutoClose->isChecked());
    EXPECT_TRUE(f.m_cbSlippageAusgleich1->isChecked());
    // Checking one direction unchecks the others; the lone "<=" radios stay checked.
    f.SetChecked(FrameCtl::rbSell1, true);
    EXPECT_FALSE(f.Checked(FrameCtl::rbBuySell1));
    QTest::mouseClick(f.m_rbSpreadKleinerGleich1, Qt::LeftButton);
    EXPECT_TRUE(f.m_rbSpreadKleinerGleich1->isChecked());
    EXPECT_TRUE(f.m_rbCloseSpreadKleiner1->isChecked());

    struct Laid {
        QWidget* w;
        QString caption;
        QRect bounds;
    };
    for (const Laid& l : {
             Laid{f.GroupBox1, "Order", {0, 2, 585, 161}},
             Laid{f.m_lbBrokerIDs1, "", {61, 14, 52, 139}},
             Laid{f.m_reLots1, "", {124, 28, 42, 21}},
             Laid{f.UpDown4, "", {164, 25, 17, 21}},
             Laid{f.GroupBox2, "Set Open Spread", {187, 12, 177, 41}},
             Laid{f.m_rbSpreadKleinerGleich1, "<=", {56, 16, 49, 17}},
             Laid{f.m_reSpread1, "", {96, 13, 57, 21}},
             Laid{f.UpDown2, "", {149, 13, 17, 21}},
             Laid{f.GroupBox3, "Direction", {187, 52, 177, 41}},
             Laid{f.m_rbBuy1, "Buy", {8, 16, 57, 17}},
             Laid{f.m_rbBuySell1, "and", {56, 16, 42, 17}},
             Laid{f.m_rbSell1, "Sell", {104, 16, 57, 17}},
             Laid{f.GroupBox4, "MaxLoss for AutoClose", {370, 12, 207, 41}},
             Laid{f.m_reMaxVerlust, "", {127, 13, 57, 21}},
             Laid{f.UpDown1, "", {182, 13, 17, 21}},
             Laid{f.GroupBox10, "Set Close Spread", {370, 52, 207, 41}},
             Laid{f.m_reCloseSpread1, "", {127, 13, 59, 21}},
             Laid{f.UpDown3, "", {182, 13, 17, 21}},
             Laid{f.m_cbAutoClose, "Forced AutoClose", {195, 99, 118, 17}},
             Laid{f.m_cbSlippageAusgleich1, "Slippage Correction", {370, 99, 200, 17}},
             Laid{f.Button13, "Place Order", {360, 128, 201, 25}},
             Laid{f.Button1, "Reset Spread Table", {591, 138, 113, 25}},
             Laid{f.btnResetCSTable, "Reset ARB Table", {1072, 138, 113, 25}},
         }) {
        EXPECT_EQ(l.w->geometry(), l.bounds)
            << l.w->metaObject()->className() << " " << l.caption.toStdString();
        if (auto* b = qobject_cast<QAbstractButton*>(l.w)) {
            EXPECT_EQ(b->text(), l.caption);
        }
        if (auto* g = qobject_cast<QGroupBox*>(l.w)) {
            EXPECT_EQ(g->title(), l.caption);
        }
    }
    for (auto [label, caption, pos] :
         {std::tuple{f.Label2, "Broker ID", QPoint(3, 14)}, std::tuple{f.Label3, "Lots", QPoint(124, 12)},
          std::tuple{f.Label4, "Spread", QPoint(8, 16)}, std::tuple{f.Label15, "Spread", QPoint(8, 16)},
          std::tuple{f.Label5, "Min. Cross Spread:", QPoint(591, 14)},
          std::tuple{f.lblMinCrossSpread, "lblMinCrossSpread", QPoint(689, 14)},
          std::tuple{f.Label7, "Counter Spread:", QPoint(591, 33)},
          std::tuple{f.lblGegenwert, "lblGegenwert", QPoint(689, 33)},
          std::tuple{f.Label1, "Total:", QPoint(591, 52)},
          std::tuple{f.lblSumme, "Summe", QPoint(689, 52)}}) {
        EXPECT_EQ(label->text(), caption);
        EXPECT_EQ(label->pos(), pos) << caption;
    }
    EXPECT_EQ(f.UpDown4->Min(), -9);
    EXPECT_EQ(f.UpDown4->Max(), 100);
    for (TUpDown* u : {f.UpDown1, f.UpDown2, f.UpDown3}) {
        EXPECT_EQ(u->Min(), -100);
        EXPECT_EQ(u->Max(), 100);
        EXPECT_EQ(u->Position(), 0);
    }
    // The grids' look.
    EXPECT_EQ(f.StringGrid1->RowCount(), 21);
    EXPECT_EQ(f.StringGrid1->ColCount(), 13);
    EXPECT_EQ(f.StringGrid1->FixedRows(), 1);
    EXPECT_EQ(f.StringGrid1->FixedCols(), 1);
    EXPECT_EQ(f.StringGrid1->ColWidth(12), 103);
    EXPECT_EQ(f.StringGrid1->rowHeight(20), 20);
    EXPECT_EQ(f.StringGrid1->font().pixelSize(), 13);
    EXPECT_EQ(f.m_sgMinSpread->RowCount(), 46);
    EXPECT_EQ(f.m_sgMinSpread->ColCount(), 5);
    EXPECT_EQ(f.m_sgMinSpread->FixedRows(), 1);
    EXPECT_EQ(f.m_sgMinSpread->FixedCols(), 0);
    EXPECT_EQ(f.m_sgMinSpread->ColWidth(4), 100);
    EXPECT_EQ(f.m_sgMinSpread->rowHeight(45), 20);
    EXPECT_EQ(f.m_sgMinSpread->editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST_F(Frame, ArrowKeysAndButtonsStepTheOrderBox) {
    TFrameTable f;
    ReleaseKey(f.m_reLots1, Qt::Key_Up);
    EXPECT_EQ(f.m_reLots1->text(), "1,10");
    ReleaseKey(f.m_reSpread1, Qt::Key_Down);
    EXPECT_EQ(f.m_reSpread1->text(), "-0,00045");
    ReleaseKey(f.m_reCloseSpread1, Qt::Key_Up, Qt::ShiftModifier); // whatever the shift state
    EXPECT_EQ(f.m_reCloseSpread1->text(), "-0,00015");
    ReleaseKey(f.m_reMaxVerlust, Qt::Key_Down);
    EXPECT_EQ(f.m_reMaxVerlust->text(), "-0,00005");
    ReleaseKey(f.m_reMaxVerlust, Qt::Key_Left); // no other key steps
    EXPECT_EQ(f.m_reMaxVerlust->text(), "-0,00005");

    // Each button's own position: nine presses of the lots button's lower half, a tenth does
    // nothing, while the Down arrow key still steps.
    f.m_reLots1->SetValue(1.0);
    for (int i = 0; i < 9; ++i) PressHalf(f.UpDown4, TUDBtnType::btPrev);
    EXPECT_EQ(f.m_reLots1->text(), "0,10");
    PressHalf(f.UpDown4, TUDBtnType::btPrev);
    EXPECT_EQ(f.m_reLots1->text(), "0,10");
    ReleaseKey(f.m_reLots1, Qt::Key_Down);
    EXPECT_EQ(f.m_reLots1->text(), "0,00");
    ReleaseKey(f.m_reLots1, Qt::Key_Down); // no bound at zero
    EXPECT_EQ(f.m_reLots1->text(), "-0,10");
    PressHalf(f.UpDown4, TUDBtnType::btNext);
    EXPECT_EQ(f.m_reLots1->text(), "0,00");

    // An empty spread box stepped up shows 0,00005; the buttons step their own boxes.
    f.m_reSpread1->clear();
    PressHalf(f.UpDown2, TUDBtnType::btNext);
    EXPECT_EQ(f.m_reSpread1->text(), "0,00005");
    PressHalf(f.UpDown3, TUDBtnType::btPrev);
    EXPECT_EQ(f.m_reCloseSpread1->text(), "-0,00020");
    PressHalf(f.UpDown1, TUDBtnType::btNext);
    EXPECT_EQ(f.m_reMaxVerlust->text(), "0,00000");
    for (int i = 0; i < 100; ++i) f.UpDown1->Press(TUDBtnType::btNext);
    EXPECT_EQ(f.UpDown1->Position(), 100);
    EXPECT_EQ(f.m_reMaxVerlust->text(), "0,00495"); // 99 more steps moved; the 100th did not

    // Steps are taken in extended precision: a step a double would lose still counts.
    f.m_reLots1->setText("100000000000000000,00");
    ReleaseKey(f.m_reLots1, Qt::Key_Up);
    EXPECT_EQ(f.m_reLots1->text(), "100000000000000000,10");
    f.m_reSpread1->setText("1e310");
    ReleaseKey(f.m_reSpread1, Qt::Key_Up);
    EXPECT_EQ(f.m_reSpread1->Value(), 1e310L + 0.00005L);
}

// The topmost row of dark pixels of a cell, relative to the cell's top.
int TextTop(const QImage& img, const QRect& cell) {
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            if (qGray(img.pixel(x, y)) < 100) return y - cell.top();
    return -1;
}

TEST_F(Frame, TheQuoteGridBandsEverySecondEAAndRaisesItsText) {
    TFrameTable f;
    f.resize(1200, 700);
    f.show();
    for (int r = 1; r <= 8; ++r) f.StringGrid1->SetCells(1, r, "X");
    QTest::qWait(10);
    const QImage img = f.StringGrid1->grab().toImage();
    auto cell = [&](int col, int row) { return f.StringGrid1->CellRect(col, row); };
    const QColor band(192, 220, 192);
    for (int r = 1; r <= 8; ++r) {
        const bool banded = ((r + 1) / 2) % 2 == 0;
        for (int col : {0, 2})
            EXPECT_EQ(QColor(img.pixel(cell(col, r).center())) == band, banded)
                << "row " << r << " col " << col;
    }
    EXPECT_NE(QColor(img.pixel(cell(2, 0).center())), band);
    const int plain = TextTop(img, cell(1, 1));
    const int raised = TextTop(img, cell(1, 3));
    ASSERT_GE(plain, 0);
    EXPECT_EQ(plain - raised, 2);
}

// Titles in the fixed cells, a text of its own in every other cell.
void FillGrid(TStringGrid* g) {
    for (int r = 0; r < g->RowCount(); ++r)
        for (int c = 0; c < g->ColCount(); ++c)
            g->SetCells(c, r, g->IsFixed(c, r) ? QString("Title %1").arg(c) : QString("%1:%2").arg(c).arg(r));
}

bool HasInk(const QImage& img, const QRect& r) {
    return TextTop(img, r) >= 0;
}

TEST_F(Frame, TheFixedCellsStayInPlaceWhileTheOtherCellsScroll) {
    TFrameTable f;
    f.resize(1240, 640);
    f.show();
    QTest::qWait(10);
    const QColor button = f.palette().color(QPalette::Button);
    const QColor band(192, 220, 192);
    struct Fixed {
        int col, row;
        QColor background;
    };
    struct Case {
        const char* name;
        TStringGrid* grid;
        Qt::Orientation scrolled;
        int last; // the last row or column, which scrolling to the end brings into view
        std::vector<Fixed> fixed;
    };
    for (const Case& c : {
             Case{"pair grid to its last row",
                  f.m_sgMinSpread,
                  Qt::Vertical,
                  45,
                  {{0, 0, button}, {1, 0, button}, {2, 0, button}, {3, 0, button}}},
             Case{"quote grid to its last column",
                  f.StringGrid1,
                  Qt::Horizontal,
                  12,
                  {{0, 0, button}, {0, 1, button}, {0, 3, band}, {0, 17, button}, {0, 19, band}}},
         }) {
        SCOPED_TRACE(c.name);
        TStringGrid* g = c.grid;
        FillGrid(g);
        QApplication::processEvents();
        const QImage before = g->grab().toImage();
        QScrollBar* bar = c.scrolled == Qt::Vertical ? g->verticalScrollBar() : g->horizontalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        bar->setValue(bar->maximum());
        QApplication::processEvents();
        const QImage after = g->grab().toImage();

        // The other cells did scroll: the last one is in view, the first ones are not.
        const QRect vg = g->viewport()->geometry();
        const QRect last = c.scrolled == Qt::Vertical ? g->CellRect(1, c.last) : g->CellRect(c.last, 1);
        ASSERT_FALSE(last.isEmpty());
        EXPECT_TRUE(vg.contains(last)) << last.x() << "," << last.y();
        EXPECT_GT(c.scrolled == Qt::Vertical ? g->rowAt(0) : g->columnAt(0), 1);

        // The fixed row is drawn at the top of the grid's inside, the fixed column at its left.
        const QRect corner = g->CellRect(0, 0);
        if (c.scrolled == Qt::Vertical) {
            EXPECT_EQ(corner.top(), g->contentsRect().top());
        }
        if (c.scrolled == Qt::Horizontal) {
            EXPECT_EQ(corner.left(), g->contentsRect().left());
        }
        for (const Fixed& cell : c.fixed) {
            const QRect r = g->CellRect(cell.col, cell.row);
            ASSERT_FALSE(r.isEmpty()) << cell.col << "," << cell.row;
            EXPECT_TRUE(after.copy(r) == before.copy(r)) << cell.col << "," << cell.row;
            EXPECT_EQ(QColor(after.pixel(r.right() - 1, r.bottom() - 1)), cell.background)
                << cell.col << "," << cell.row;
            EXPECT_TRUE(HasInk(after, r)) << cell.col << "," << cell.row;
        }
        if (g == f.m_sgMinSpread) {
            EXPECT_TRUE(g->grab().save(ScreenshotPath("table_frame_pair_grid_scrolled_to_end.png")));
        }
    }
}

// A drag with the left button held, as the mouse sends it.
void Drag(QWidget* w, QPoint from, int dx) {
    auto send = [w](QEvent::Type type, QPoint p, Qt::MouseButtons held) {
        QMouseEvent e(type, p, w->mapToGlobal(p), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    };
    send(QEvent::MouseButtonPress, from, Qt::LeftButton);
    send(QEvent::MouseMove, from + QPoint(dx / 2, 0), Qt::LeftButton);
    send(QEvent::MouseMove, from + QPoint(dx, 0), Qt::LeftButton);
    send(QEvent::MouseButtonRelease, from + QPoint(dx, 0), Qt::NoButton);
}

TEST_F(Frame, FixedCellsTakeNoSelectionOrCursorAndSizeColumnsOnTheirLines) {
    TStringGrid g; // 5 x 5, one fixed row and column
    FillGrid(&g);
    g.resize(400, 200);
    g.show();
    QTest::qWait(10);
    auto click = [&](int col, int row, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        const QPoint p = g.CellRect(col, row).center();
        QWidget* w = g.childAt(p);
        ASSERT_NE(w, nullptr);
        QTest::mouseClick(w, Qt::LeftButton, mods, w->mapFrom(&g, p));
    };
    auto current = [&] { return QPoint(g.currentIndex().column(), g.currentIndex().row()); };

    click(2, 2);
    EXPECT_EQ(current(), QPoint(2, 2));
    struct Key {
        Qt::Key key;
        QPoint after;
    };
    for (const Key& k : {Key{Qt::Key_Up, {2, 1}}, Key{Qt::Key_Up, {2, 1}},     // the fixed row is not entered
                         Key{Qt::Key_Left, {1, 1}}, Key{Qt::Key_Left, {1, 1}}, // nor the fixed column
                         Key{Qt::Key_Right, {2, 1}}, Key{Qt::Key_Down, {2, 2}}, Key{Qt::Key_End, {4, 2}}}) {
        QTest::keyClick(&g, k.key);
        EXPECT_EQ(current(), k.after) << "key " << k.key;
    }

    // A range selection of scrolling cells; clicks on fixed cells leave it as it is.
    click(1, 1);
    click(3, 3, Qt::ShiftModifier);
    EXPECT_EQ(g.selectionModel()->selectedIndexes().size(), 9);
    for (QPoint fixed : {QPoint(2, 0), QPoint(0, 2), QPoint(0, 0)}) {
        click(fixed.x(), fixed.y());
        EXPECT_EQ(g.selectionModel()->selectedIndexes().size(), 9) << fixed.x() << "," << fixed.y();
        EXPECT_EQ(current(), QPoint(3, 3));
    }

    // Column lines of the fixed row size the columns, the fixed column's too; the cells to the
    // right follow.
    struct Sizing {
        int col;
        int dx;
        int width;
    };
    for (const Sizing& s : {Sizing{2, 30, 94}, Sizing{0, 20, 84}, Sizing{0, -40, 44}, Sizing{4, -60, 4}}) {
        const QRect title = g.CellRect(s.col, 0);
        const QPoint line(title.right() + 1, title.center().y());
        const int nextLeft = s.col + 1 < g.ColCount() ? g.CellRect(s.col + 1, 1).left() : 0;
        QWidget* w = g.childAt(line);
        ASSERT_NE(w, nullptr);
        Drag(w, w->mapFrom(&g, line), s.dx);
        EXPECT_EQ(g.ColWidth(s.col), s.width) << "column " << s.col;
        if (s.col + 1 < g.ColCount()) {
            EXPECT_EQ(g.CellRect(s.col + 1, 1).left(), nextLeft + s.dx);
        }
    }
    // Inside a cell, away from its lines, a drag sizes nothing.
    const QRect title = g.CellRect(1, 0);
    Drag(g.childAt(title.center()), g.childAt(title.center())->mapFrom(&g, title.center()), 25);
    EXPECT_EQ(g.ColWidth(1), 64);
}

TEST_F(Frame, ScreenshotOfATableTab) {
    TFrameTable f;
    const char* heads[] = {"Bid/Ask", "Account No.", "Conn. Status", "Live Spread",
                           "Time",    "Min. Spread", "Time Stamp"};
    f.StringGrid1->SetColCount(7);
    for (int c = 0; c < 7; ++c) f.StringGrid1->SetCells(c, 0, heads[c]);
    f.StringGrid1->SetColWidth(0, 60);
    for (int k = 1; k <= 10; ++k) {
        f.StringGrid1->SetCells(0, 2 * k - 1, QString("EA ID %1").arg(k));
        f.StringGrid1->SetCells(0, 2 * k, "Bid/Ask");
        f.StringGrid1->SetCells(3, 2 * k - 1, "0,00012");
    }
    const char* pairs[] = {"Min. Cross Spread", "EA Bid", "EA Ask", "Min. Counter Spread", "TOTAL ARB"};
    for (int c = 0; c < 5; ++c) f.m_sgMinSpread->SetCells(c, 0, pairs[c]);
    f.m_lbBrokerIDs1->clear();
    for (int k = 1; k <= 10; ++k) {
        auto* it = new QListWidgetItem(QString::number(k), f.m_lbBrokerIDs1);
        it->setFlags(it->flags() | Qt::ItemIsUserCheckable);
        it->setCheckState(k == 3 ? Qt::Unchecked : Qt::Checked);
    }
    f.resize(1240, 640);
    f.show();
    QTest::qWait(10);
    EXPECT_TRUE(f.grab().save(ScreenshotPath("table_frame.png")));
}

class Window : public Frame {};

TEST_F(Window, TheSettingsBarStandsInItsOrderAndTakesTheDefaults) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    // Before the first showing all twenty frames are there, the last with EA IDs 191..200,
    // unticked by default.
    TFrameTable* t19 = form.GetFrameTable(19);
    ASSERT_EQ(t19->m_lbBrokerIDs1->count(), 10);
    EXPECT_EQ(t19->m_lbBrokerIDs1->item(0)->text(), "191");
    EXPECT_EQ(t19->m_lbBrokerIDs1->item(9)->text(), "200");
    EXPECT_EQ(t19->m_lbBrokerIDs1->item(9)->checkState(), Qt::Unchecked);
    form.resize(1280, 800);
    form.show();
    QTest::qWait(10);
    // Left to right.
    std::vector<QWidget*> order;
    auto labelFor = [&](const QString& caption) {
        for (QLabel* l : form.Panel1->findChildren<QLabel*>())
            if (l->text() == caption) return static_cast<QWidget*>(l);
        return static_cast<QWidget*>(nullptr);
    };
    order = {
        form.m_chkbStandby,     form.m_cbAlertAktiv,  form.m_cbAutoTrade,        labelFor("Max. AT"),
        form.m_seMaxAutoTrades, form.Button2,         labelFor("CloseTime"),     form.m_seMaxCounterCheck,
        form.m_chkbSeqMode,     form.m_chkbDelayMode, labelFor("Del"),           form.m_seDelayPos2,
        labelFor("Slippage"),   form.m_seSlippage,    labelFor("OrderAttempts"), form.m_seRequoteAnzahl,
        labelFor("LoopTime"),   form.m_seLoopTime,    labelFor("Timeout"),       form.m_seTimeOut};
    for (size_t i = 0; i < order.size(); ++i) {
        ASSERT_NE(order[i], nullptr) << i;
        EXPECT_TRUE(order[i]->isVisible()) << i;
        if (i > 0) {
            EXPECT_GT(order[i]->x(), order[i - 1]->x()) << i;
        }
    }
    EXPECT_EQ(form.Panel1->height(), 25);
    EXPECT_EQ(form.m_chkbStandby->text(), "Standby");
    EXPECT_TRUE(form.m_chkbStandby->font().bold());
    EXPECT_EQ(form.m_chkbStandby->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(form.m_cbAlertAktiv->text(), "Alert active");
    EXPECT_EQ(form.m_cbAutoTrade->text(), "AutoTrade activ");
    EXPECT_EQ(form.Button2->text(), "Reset AT");
    EXPECT_FALSE(form.m_chkbAddCanT->isVisible());
    EXPECT_FALSE(form.m_chkbAddCloT->isVisible());
    EXPECT_FALSE(form.m_rePRIDynamic->isVisible());

    // config.ini was missing: the defaults, and the file is written beside the given path.
    EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.File("config.ini"))));
    EXPECT_TRUE(form.m_chkbStandby->isChecked());
    EXPECT_TRUE(form.m_cbAlertAktiv->isChecked()); // no key: the design value
    EXPECT_FALSE(form.m_cbAutoTrade->isChecked());
    EXPECT_EQ(form.m_seMaxAutoTrades->Text(), "2");
    EXPECT_EQ(form.m_seMaxCounterCheck->Text(), "60");
    EXPECT_EQ(form.m_seDelayPos2->Text(), "100");
    EXPECT_EQ(form.m_seSlippage->Text(), "16");
    EXPECT_EQ(form.m_seRequoteAnzahl->Text(), "2");
    EXPECT_EQ(form.m_seLoopTime->Text(), "200");
    EXPECT_EQ(form.m_seTimeOut->Text(), "4");
    EXPECT_DOUBLE_EQ(form.DeskCore().settings.CONNECTION_TIMEOUT, 4.0 / 86400.0);
    EXPECT_TRUE(form.m_chkbAddCanT->isChecked());
    EXPECT_EQ(form.m_rePRIDynamic->Precision(), 4);
    EXPECT_EQ(form.m_rePRIDynamic->text(), "0,0010");
    EXPECT_EQ(form.m_TimerAutoSave.interval(), 180000);
    EXPECT_TRUE(form.m_TimerAutoSave.isActive());
    // The Watch tab's values.
    EXPECT_EQ(form.m_reAlert->Precision(), 5);
    EXPECT_EQ(form.m_reAlert->text(), "-0,00018");
    EXPECT_EQ(form.m_reAlertIntervall->Precision(), 1);
    EXPECT_EQ(form.m_reAlertIntervall->text(), "1,0");
    EXPECT_EQ(form.m_seTradeIntervall->Text(), "1");
    EXPECT_EQ(form.m_seTradeIntervall->Range().min, 1);
    EXPECT_EQ(form.m_seTradeIntervall->Range().max, 10000);
    EXPECT_EQ(form.UpDown5->Min(), -100);
    EXPECT_EQ(form.UpDown6->Max(), 100);
    // The frames: broker lists prepared, then ticked from the file; order boxes from Group_1/2.
    TFrameTable* t0 = form.GetFrameTable(0);
    ASSERT_EQ(t0->m_lbBrokerIDs1->count(), 10);
    EXPECT_EQ(t0->m_lbBrokerIDs1->item(0)->text(), "1");
    EXPECT_EQ(t0->m_lbBrokerIDs1->item(9)->text(), "10");
    EXPECT_EQ(t0->m_lbBrokerIDs1->item(4)->checkState(), Qt::Checked);
    EXPECT_EQ(t0->m_reLots1->text(), "0,10");
    EXPECT_EQ(t0->m_reSpread1->text(), "-0,00019");
    EXPECT_FALSE(t0->m_cbSlippageAusgleich1->isChecked());
    EXPECT_EQ(form.GetFrameTable(19), nullptr); // "Tables" 1: the other tabs went at the first showing

    // "Reset AT": the credits back to MaxAutoTrades and "AutoTrade activ" ticked.
    form.m_seMaxAutoTrades->SetText("0");
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    EXPECT_EQ(form.m_seMaxAutoTrades->Text(), "2");
    EXPECT_TRUE(form.m_cbAutoTrade->isChecked());

    EXPECT_TRUE(form.Panel1->grab().save(ScreenshotPath("settings_bar.png")));
    form.PageControl1->setCurrentWidget(form.m_tsWatch);
    QTest::qWait(10);
    EXPECT_TRUE(form.m_tsWatch->grab().save(ScreenshotPath("watch_tab_settings.png")));
    form.PageControl1->setCurrentIndex(0);
    QTest::qWait(10);
    EXPECT_TRUE(form.grab().save(ScreenshotPath("table_tab_in_window.png")));
}

TEST_F(Window, AConfigThatCannotBeWrittenStopsTheCreation) {
    test::TempDir dir;
    DeskPaths paths = test::PathsIn(dir);
    paths.configIni = dir.File("missing/config.ini");
    std::ofstream(paths.dataDat, std::ios::binary) << "previous";
    QString boxText;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            boxText = box->text();
            box->accept();
        }
    });
    poll.start();
    {
        TForm3 form(paths, "");
        EXPECT_FALSE(form.DeskCore().files.m_bPricesLoaded);
        EXPECT_EQ(form.m_seTimeOut->Text(), "4"); // what was read before the write stays
    }
    poll.stop();
    EXPECT_EQ(boxText, QString::fromStdString("In " + paths.configIni + " kann nicht geschrieben werden."));
    std::ifstream in(paths.dataDat, std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, "previous");
}

} // namespace
