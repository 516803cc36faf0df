// Ten EAs of one table quote through the real link; the table's labels and its Watch row show
// the result.
#include <QApplication>
#include <QLabel>
#include <atomic>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "platform/numbers.h"
#include "platform/widgets/stringgrid.h"
#include "tests/support/localescope.h"
#include "tests/support/qt/loopuntil.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

TEST(QuotesThroughTheLink, TenEAsFillTheLabelsAndTheWatchRow) {
    test::LocaleScope comma(',');
    test::TempDir dir;
    DeskPaths p = test::PathsIn(dir);
    std::ofstream(p.configIni, std::ios::binary)
        << "[Defaults]\r\nTables=2\r\nTimeout=30\r\nAlertLevel=-1\r\n";
    const std::string path = dir.File("xdg/TForm3");
    TForm3 form(p, path);
    form.show();
    form.PageControl1->setCurrentWidget(form.m_tsWatch);

    struct Q {
        int id;
        int32_t bid, ask;
    };
    const Q quotes[] = {{11, 123450, 123462}, {12, 123452, 123460}, {13, 123455, 123470},
                        {14, 123463, 123475}, {15, 123470, 123460}, {16, 123440, 123480},
                        {17, 123441, 123481}, {18, 123442, 123482}, {19, 123443, 123483},
                        {20, 123444, 123484}};
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    std::thread ea([&] {
        LinkClient c;
        if (!c.Connect(path)) {
            wrong = 100;
            done = true;
            return;
        }
        for (const Q& q : quotes) {
            if (c.Send(EAMsg::NewDataBid, q.id, q.bid) != 2) ++wrong;
            if (c.Send(EAMsg::NewDataAsk, q.id, q.ask) != 1) ++wrong;
            if (c.Send(EAMsg::DataComplete, q.id, 0) != 5) ++wrong;
        }
        done = true;
    });
    test::LoopUntil([&] { return done.load(); });
    ea.join();
    ASSERT_TRUE(done.load());
    EXPECT_EQ(wrong.load(), 0);

    TFrameTable* f = form.GetFrameTable(1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->lblMinCrossSpread->text(), "-0,00003 EA ID12 (Ask 1,23460) - EA ID14 (Bid 1,23463)");
    EXPECT_EQ(f->lblGegenwert->text(), "0,00023 EA ID12 (Bid 1,23452) - EA ID14 (Ask 1,23475)");
    EXPECT_EQ(f->lblSumme->text(), "0,00020 (EA ID12 - EA ID14)");
    EXPECT_EQ(form.StringGrid1->Cells(0, 2), "Tab  1");
    EXPECT_EQ(form.StringGrid1->Cells(1, 2), "-0,00003");
    EXPECT_EQ(form.StringGrid1->Cells(1, 1), "---");
    EXPECT_EQ(form.DeskCore().prices.Spread[20], 40);
}

} // namespace
