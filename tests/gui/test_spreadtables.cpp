// The spread tables on the real window: a table tab's quote grid, pair grid and labels, the
// Watch grid with its banding, and the Watch tab's steps and resets.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
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

struct SpreadWindow : ::testing::Test {
    test::TempDir dir;
    test::LocaleScope comma{','};
    std::unique_ptr<TForm3> form;

    void SetUp() override {
        DeskPaths p = test::PathsIn(dir);
        // Three tables; no alert or auto trade from these quotes.
        std::ofstream(p.configIni, std::ios::binary)
            << "[Defaults]\r\nTables=3\r\nTimeout=30\r\nAlertLevel=-1\r\n";
        form = std::make_unique<TForm3>(p, "");
        form->resize(1280, 800);
        form->show();
    }
    void Quote(int id, int32_t bid, int32_t ask, int32_t account = -1) {
        Desk& d = form->DeskCore();
        TMessage m{EAMsg::NewDataBid, id, bid, 0};
        d.Dispatch(m);
        m = {EAMsg::NewDataAsk, id, ask, 0};
        d.Dispatch(m);
        if (account >= 0) {
            m = {EAMsg::NewDataAccount, id, account, 0};
            d.Dispatch(m);
        }
        m = {EAMsg::DataComplete, id, 0, 0};
        d.Dispatch(m);
    }
    // Table 1: a cross spread of -0,00003 between EA 12 (ask) and EA 14 (bid).
    void QuoteTable1() {
        Quote(11, 123450, 123462, 5001234);
        Quote(12, 123452, 123460, 5001235);
        Quote(13, 123455, 123470);
        Quote(14, 123463, 123475, 7788);
        Quote(15, 123470, 123460); // crossed: no live spread
    }
};

TEST_F(SpreadWindow, TableTabShowsTheQuotesPairsAndLabels) {
    QuoteTable1();
    TFrameTable* f = form->GetFrameTable(1);
    // Not on screen yet: the grids keep their empty cells, the labels are written all the same.
    EXPECT_EQ(f->StringGrid1->Cells(3, 1), "");
    EXPECT_EQ(f->lblMinCrossSpread->text(), "-0,00003 EA ID12 (Ask 1,23460) - EA ID14 (Bid 1,23463)");
    EXPECT_EQ(f->lblGegenwert->text(), "0,00023 EA ID12 (Bid 1,23452) - EA ID14 (Ask 1,23475)");
    EXPECT_EQ(f->lblSumme->text(), "0,00020 (EA ID12 - EA ID14)");

    form->PageControl1->setCurrentIndex(1);
    TStringGrid* q = f->StringGrid1;
    EXPECT_EQ(q->ColCount(), 7);
    EXPECT_EQ(q->RowCount(), 21);
    EXPECT_EQ(q->Cells(0, 3), "EA ID 12");
    EXPECT_EQ(q->Cells(1, 3), "5001235");
    EXPECT_EQ(q->Cells(2, 3), "0 s");
    EXPECT_EQ(q->Cells(3, 3), "0,00008");
    EXPECT_EQ(q->Cells(3, 4), "1,23452");
    EXPECT_EQ(q->Cells(4, 4), "1,23460");
    EXPECT_EQ(q->Cells(5, 3), "0,00008");
    EXPECT_EQ(q->Cells(3, 9), "");  // EA 15 crossed
    EXPECT_EQ(q->Cells(2, 11), ""); // EA 16 never quoted
    TStringGrid* pg = f->m_sgMinSpread;
    EXPECT_EQ(pg->Cells(0, 0), "Min. Cross Spread");
    EXPECT_EQ(pg->ColWidth(0), 125);
    // (11, 12): 123460 - 123450 and 123462 - 123452.
    EXPECT_EQ(pg->Cells(0, 1), "0,00010");
    EXPECT_EQ(pg->Cells(1, 1), "EA 11");
    EXPECT_EQ(pg->Cells(2, 1), "EA 12");
    EXPECT_EQ(pg->Cells(4, 1), "0,00020");
    EXPECT_EQ(pg->Cells(0, 45), "---"); // (19, 20)

    // A quote of the table on screen redraws its rows at once.
    Quote(12, 123452, 123458);
    EXPECT_EQ(q->Cells(3, 3), "0,00006");
    EXPECT_TRUE(form->grab().save(ScreenshotPath("spread_table_tab.png")));

    // "Reset ARB Table": the pairs of this table show "---" again.
    QTest::mouseClick(f->btnResetCSTable, Qt::LeftButton);
    EXPECT_EQ(pg->Cells(0, 1), "---");
    EXPECT_EQ(pg->Cells(1, 1), "EA 11");
    // "Reset Spread Table": the minima of this table's EAs are gone.
    QTest::mouseClick(f->Button1, Qt::LeftButton);
    EXPECT_EQ(q->Cells(5, 3), "");
    EXPECT_EQ(q->Cells(3, 3), "0,00006");
}

TEST_F(SpreadWindow, WatchTabShowsEveryTableBandedAndResets) {
    QuoteTable1();
    Quote(21, 100000, 100004);
    TStringGrid* w = form->StringGrid1;
    EXPECT_EQ(w->RowCount(), 4); // cut to the tables at creation
    form->PageControl1->setCurrentWidget(form->m_tsWatch);
    EXPECT_EQ(w->Cells(1, 0), "Min. Live Cross Spread");
    EXPECT_EQ(w->Cells(0, 1), "Tab  0");
    EXPECT_EQ(w->Cells(1, 1), "---");
    EXPECT_EQ(w->Cells(1, 2), "-0,00003");
    EXPECT_EQ(w->Cells(0, 3), "Tab  2");
    EXPECT_EQ(w->Cells(1, 3), "0,00004");
    EXPECT_EQ(w->Cells(5, 3), "0,00008");
    Quote(22, 99990, 99999); // live on screen: table 2's row follows
    EXPECT_EQ(w->Cells(1, 3), "-0,00001");

    QApplication::processEvents();
    EXPECT_TRUE(form->grab().save(ScreenshotPath("watch_tab.png")));

    // Row 3 (table 2) carries the band colour; row 1 does not. Its text starts at the very left.
    const QImage img = w->viewport()->grab().toImage();
    const auto pixelAt = [&](int col, int row, int dx, int dy) {
        return img.pixelColor(w->columnViewportPosition(col) + dx, w->rowViewportPosition(row) + dy);
    };
    EXPECT_EQ(pixelAt(3, 3, 140, 10), QColor(0xC0, 0xDC, 0xC0));
    EXPECT_NE(pixelAt(3, 1, 140, 10), QColor(0xC0, 0xDC, 0xC0));
    auto leftmostInk = [&](int row) {
        for (int dx = 0; dx < 20; ++dx)
            for (int dy = 0; dy < 18; ++dy)
                if (pixelAt(1, row, dx, dy).lightness() < 100) return dx;
        return -1;
    };
    EXPECT_LE(leftmostInk(3), 1);
    EXPECT_GE(leftmostInk(2), 2);

    QTest::mouseClick(form->m_bResetCS, Qt::LeftButton);
    for (int r = 1; r <= 3; ++r) EXPECT_EQ(w->Cells(1, r), "---") << r;
}

TEST_F(SpreadWindow, WatchTabSteps) {
    form->PageControl1->setCurrentWidget(form->m_tsWatch);
    TRealEdit* interval = form->m_reAlertIntervall;
    interval->SetValue(0.2);
    QTest::mouseClick(form->UpDown6->DownButton(), Qt::LeftButton);
    EXPECT_EQ(interval->text(), "0,1");
    QTest::mouseClick(form->UpDown6->DownButton(), Qt::LeftButton);
    EXPECT_EQ(interval->text(), "0,1");
    QTest::mouseClick(form->UpDown6->UpButton(), Qt::LeftButton);
    EXPECT_EQ(interval->text(), "0,2");
    interval->setFocus();
    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_Backspace);
    EXPECT_EQ(interval->text(), "0,1");
    QTest::keyClick(interval, Qt::Key_Up);
    EXPECT_EQ(interval->text(), "0,2");

    TRealEdit* level = form->m_reAlert;
    level->SetValue(-0.00018);
    QTest::keyClick(level, Qt::Key_Up);
    EXPECT_EQ(level->text(), "-0,00013");
    QTest::keyClick(level, Qt::Key_Down);
    QTest::keyClick(level, Qt::Key_Down);
    EXPECT_EQ(level->text(), "-0,00023");
    QTest::mouseClick(form->UpDown5->UpButton(), Qt::LeftButton);
    EXPECT_EQ(level->text(), "-0,00018");
}

} // namespace
