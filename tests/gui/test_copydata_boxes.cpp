// Many WM_COPYDATA boxes asked for at once through the real link: a bounded number is open
// at any time, the others wait their turn unanswered, and every EA gets its answer once the
// operator has closed the boxes before its own.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <memory>
#include <set>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "desk/uSkarlin.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

int VisibleBoxes(std::set<QString>* texts) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            ++n;
            if (texts) texts->insert(box->text());
        }
    }
    return n;
}

TEST(CopyDataBoxes, AtMostSixteenAreOpenAndTheRestWaitTheirTurn) {
    constexpr int kEAs = 24;
    test::TempDir dir;
    const std::string path = dir.File("xdg/TForm3");
    TForm3 form(test::PathsIn(dir), path);
    form.DeskCore().settings.maxIDs = 10;

    std::vector<std::unique_ptr<LinkClient>> eas;
    std::vector<std::thread> waiting;
    std::vector<std::atomic<int32_t>> results(kEAs);
    for (int i = 0; i < kEAs; ++i) {
        results[static_cast<size_t>(i)] = -1;
        eas.push_back(std::make_unique<LinkClient>());
        ASSERT_TRUE(eas.back()->Connect(path));
        unsigned char rec[16];
        EncodeMessage(TMessage{EAMsg::NewDataCompanyName, 1 + i % 10, 'a' + i, 0}, rec);
        eas.back()->SendRaw(rec, sizeof rec);
        waiting.emplace_back([&results, fd = eas.back()->Fd(), i] {
            unsigned char back[16];
            size_t have = 0;
            while (have < sizeof back) {
                const ssize_t n = read(fd, back + have, sizeof back - have);
                if (n <= 0) return;
                have += static_cast<size_t>(n);
            }
            results[static_cast<size_t>(i)] = DecodeMessage(back).Result;
        });
    }
    auto allRead = [&] {
        for (const auto& c : eas) {
            int unread = 0;
            if (ioctl(c->Fd(), SIOCOUTQ, &unread) != 0 || unread != 0) return false;
        }
        return true;
    };
    auto answered = [&] {
        int n = 0;
        for (const auto& r : results) n += r.load() != -1;
        return n;
    };

    std::set<QString> texts;
    int peak = -1, mostOpen = 0, answeredAtPeak = -1;
    std::atomic<int> othersAnswered{0};
    std::atomic<bool> othersDone{false};
    std::thread other;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const int open = VisibleBoxes(&texts);
        mostOpen = std::max(mostOpen, open);
        if (peak < 0) {
            // Wait until the desk has read every record, then let another EA talk.
            if (!allRead() || open < TForm3::kMaxCopyDataBoxes) return;
            peak = open;
            answeredAtPeak = answered();
            other = std::thread([&] {
                LinkClient c;
                if (c.Connect(path))
                    for (int i = 0; i < 20; ++i)
                        if (c.Send(EAMsg::NewDataAsk, 2, 1000 + i) == 1) ++othersAnswered;
                othersDone = true;
            });
            return;
        }
        if (!othersDone.load()) return;
        // The operator closes the box in front, one per tick.
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
    });
    tick.start();
    QElapsedTimer clock;
    clock.start();
    while (answered() < kEAs && clock.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    tick.stop();
    for (int i = 0; i < 200 && VisibleBoxes(nullptr) > 0; ++i) {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    for (auto& c : eas) shutdown(c->Fd(), SHUT_RDWR);
    for (auto& t : waiting) t.join();
    if (other.joinable()) other.join();

    EXPECT_EQ(peak, TForm3::kMaxCopyDataBoxes);
    EXPECT_EQ(answeredAtPeak, 0);
    EXPECT_EQ(mostOpen, TForm3::kMaxCopyDataBoxes);
    EXPECT_EQ(othersAnswered.load(), 20);
    for (int i = 0; i < kEAs; ++i) EXPECT_EQ(results[static_cast<size_t>(i)].load(), 6) << i;
    EXPECT_EQ(texts.size(), static_cast<size_t>(kEAs));
    EXPECT_EQ(form.DeskCore().prices.Ask[2], 1019);
}

} // namespace
