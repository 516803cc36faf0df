// The paint budget of the desk's windows: repaints wait while work waits and are delivered
// afterwards, coalesced; what ends up on screen is what the widgets hold.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "desk/uSkarlin.h"
#include "desk/windows/uFrmTable.h"
#include "onscreen.h"
#include "platform/widgets/bell.h"
#include "platform/widgets/paintthrottle.h"
#include "platform/widgets/stringgrid.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;
using namespace quorvel::test;

TEST(PaintThrottle, ChangesWhileWorkWaitsArePaintedOnceAfterIt) {
    Waiting waiting;
    waiting.on = false;
    QWidget window;
    window.resize(240, 60);
    auto* label = new QLabel("0", &window);
    label->setGeometry(10, 10, 200, 30);
    auto* throttle = new PaintThrottle(&window, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(RunUntil([&] { return !throttle->Holding(); }));
    waiting.on = true;
    PaintCounter counter(label);
    const long delivered = throttle->Delivered();

    for (int i = 1; i <= 40; ++i) {
        label->setText(QString::number(i));
        QCoreApplication::processEvents();
    }
    QTest::qWait(10 * throttle->Interval()); // its timer has come due many times
    EXPECT_TRUE(throttle->Holding());
    EXPECT_EQ(counter.paints, 0);
    EXPECT_EQ(throttle->Delivered(), delivered);
    EXPECT_NE(OnScreen(label), Drawn(label)); // the screen still shows an older text
    counter.paints = 0;

    waiting.on = false;
    EXPECT_TRUE(RunUntil([&] { return !throttle->Holding(); }));
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(throttle->Delivered(), delivered + 1);
    EXPECT_EQ(OnScreen(label), Drawn(label)); // "40"
}

TEST(PaintThrottle, AHeldRepaintGoesBackToTheWindowWithTheThrottle) {
    Waiting waiting;
    QWidget window;
    window.resize(240, 60);
    auto* label = new QLabel("before", &window);
    label->setGeometry(10, 10, 200, 30);
    auto* throttle = new PaintThrottle(&window, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter(label);
    label->setText("after");
    QCoreApplication::processEvents();
    ASSERT_TRUE(throttle->Holding());
    delete throttle; // the window paints as it always did
    EXPECT_TRUE(RunUntil([&] { return counter.paints == 1; }));
    // and goes on doing so
    label->setText("again");
    EXPECT_TRUE(RunUntil([&] { return counter.paints == 2; }));
    EXPECT_EQ(OnScreen(label), Drawn(label));
}

TEST(PaintThrottle, FlushDeliversAtOnceWhateverWaits) {
    Waiting waiting;
    QWidget window;
    window.resize(240, 60);
    auto* label = new QLabel("before", &window);
    label->setGeometry(10, 10, 200, 30);
    auto* throttle = new PaintThrottle(&window, 1000000);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter(label);
    label->setText("after");
    QCoreApplication::processEvents();
    ASSERT_TRUE(throttle->Holding());
    throttle->Flush();
    EXPECT_FALSE(throttle->Holding());
    throttle->Flush(); // nothing held: nothing painted
    EXPECT_EQ(counter.paints, 1);
    EXPECT_EQ(OnScreen(label), Drawn(label));
}

// The main window holds back the repaints of everything on it with one throttle: the sum
// labels, the table frames' labels and grids, the Watch grid.
TEST(MainWindowPaints, EveryWidgetOfTheWindowWaitsWhileWorkWaits) {
    test::TempDir dir;
    TForm3 form(test::PathsIn(dir), "");
    form.resize(1200, 800);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    ASSERT_NE(form.Paints(), nullptr);
    EXPECT_EQ(form.Paints()->Interval(), TForm3::kPaintIntervalMs);

    struct Case {
        const char* what;
        QWidget* page;
        QWidget* shown; // what is painted
        std::function<void()> change;
    };
    TFrameTable* frame = form.GetFrameTable(0);
    ASSERT_NE(frame, nullptr);
    const Case cases[] = {
        {"sum label", form.TabSheet4, form.m_lSummeGewinn,
         [&] { form.m_lSummeGewinn->setText("P/L: 12,50"); }},
        {"frame label", frame->parentWidget(), frame->lblSumme, [&] { frame->lblSumme->setText("0,00042"); }},
        {"quote grid", frame->parentWidget(), frame->StringGrid1->viewport(),
         [&] { frame->StringGrid1->SetCells(1, 1, "1,23456"); }},
        {"Watch grid", form.m_tsWatch, form.StringGrid1->viewport(),
         [&] { form.StringGrid1->SetCells(1, 1, "-0,00012"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        form.PageControl1->setCurrentWidget(c.page);
        form.Paints()->Flush();
        QCoreApplication::processEvents();
        ASSERT_TRUE(RunUntil([&] { return !form.Paints()->Holding(); }));

        Waiting waiting;
        PaintCounter counter(c.shown);
        c.change();
        QCoreApplication::processEvents();
        QTest::qWait(5 * TForm3::kPaintIntervalMs);
        EXPECT_TRUE(form.Paints()->Holding());
        EXPECT_EQ(counter.paints, 0);
        waiting.on = false;
        EXPECT_TRUE(RunUntil([&] { return !form.Paints()->Holding(); }));
        EXPECT_EQ(counter.paints, 1);
        EXPECT_EQ(OnScreen(c.shown), Drawn(c.shown));
    }
}

// The desk's windows wait while EA records wait to be handled, and only then.
TEST(MainWindowPaints, RecordsWaitingOnTheLinkHoldThePaints) {
    test::TempDir dir;
    const std::string path = dir.File("xdg/TForm3");
    auto form = std::make_unique<TForm3>(test::PathsIn(dir), path);
    EXPECT_FALSE(form->RecordsWaiting());
    EXPECT_FALSE(PaintsMustWait());

    LinkClient ea;
    ASSERT_TRUE(ea.Connect(path));
    // The connection itself is work: once served, nothing waits.
    ASSERT_TRUE(RunUntil([&] { return form->Link()->ConnectionCount() == 1; }));
    EXPECT_FALSE(form->RecordsWaiting());

    unsigned char record[16];
    EncodeMessage(TMessage{EAMsg::NewDataBid, 11, 123450, 0}, record);
    ea.SendRaw(record, sizeof record); // not yet read by the desk
    EXPECT_TRUE(form->RecordsWaiting());
    EXPECT_TRUE(PaintsMustWait());

    form->ServeLink();
    EXPECT_FALSE(form->RecordsWaiting());
    EXPECT_FALSE(PaintsMustWait());
    unsigned char answer[16];
    ASSERT_EQ(::recv(ea.Fd(), answer, sizeof answer, MSG_WAITALL), 16);
    EXPECT_EQ(DecodeMessage(answer).Result, 2);

    // Without the desk nothing holds a paint.
    ea.SendRaw(record, sizeof record);
    form.reset();
    EXPECT_FALSE(PaintsMustWait());
}

// A handler's beep sounds after the handler, at the next turn of the loop: none is lost or
// merged with another, and one asked for afterwards sounds at a later turn.
TEST(Bell, RingsAfterTheWorkAtHandAndKeepsEveryRing) {
    int sounded = 0;
    Bell bell(nullptr, [&] { ++sounded; });
    bell.Ring();
    bell.Ring();
    EXPECT_EQ(sounded, 0);
    EXPECT_EQ(bell.Due(), 2);
    ASSERT_TRUE(RunUntil([&] { return sounded == 2; }));
    EXPECT_EQ(bell.Due(), 0);
    bell.Ring();
    EXPECT_EQ(sounded, 2);
    ASSERT_TRUE(RunUntil([&] { return sounded == 3; }));
}
