#include "desk/uSkarlin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSocketNotifier>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <poll.h>
#include <vector>

#include "components/NumEdit.h"
#include "desk/core/crossspreads.h"
#include "desk/core/notifications.h"
#include "desk/core/ordergrid.h"
#include "desk/core/spreadtables.h"
#include "desk/orderlistmodel.h"
#include "desk/windows/shutdownboxes.h"
#include "desk/windows/uFrmTable.h"
#include "desk/windows/uMessageBox.h"
#include "platform/files.h"
#include "platform/numbers.h"
#include "platform/profile.h"
#include "platform/widgets/apptitle.h"
#include "platform/widgets/bell.h"
#include "platform/widgets/formfont.h"
#include "platform/widgets/paintthrottle.h"
#include "platform/widgets/stringgrid.h"

namespace quorvel {

namespace {
QLabel* BarLabel(const QString& caption, QWidget* parent) {
    auto* l = new QLabel(caption, parent);
    return l;
}
} // namespace

TForm3::TForm3(DeskPaths paths, const std::string& linkPath, QWidget* parent) : QMainWindow(parent) {
    setObjectName("Form3");
    setWindowTitle("Quorvel");
    setFont(FormFont());
    m_desk = std::make_unique<Desk>(static_cast<IDeskControls&>(*this), static_cast<IDeskView&>(*this),
                                    m_clock, std::move(paths));

    auto* central = new QWidget(this);
    auto* col = new QVBoxLayout(central);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    BuildSettingsBar();
    col->addWidget(Panel1);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addStretch(1);
    Button17 = new QPushButton("Reset Tabs", central);
    Button17->setVisible(false);
    Button19 = new QPushButton("Popup", central);
    buttons->addWidget(Button17);
    buttons->addWidget(Button19);
    col->addLayout(buttons);
    BuildPages();
    BuildAdminPanel();
    col->addWidget(PageControl1, 1);
    setCentralWidget(central);

    // "Reset Tabs": every EA's quotes and minima; "Reset AT": the auto-trade credits.
    connect(Button17, &QPushButton::clicked, this,
            [this] { m_desk->Guarded([this] { m_desk->feed.ResetAll(1, kMaxEAs); }); });
    connect(Button2, &QPushButton::clicked, this,
            [this] { m_desk->Guarded([this] { m_desk->orderControls.ResetAutoTrade(); }); });
    connect(Button19, &QPushButton::clicked, this,
            [this] { m_desk->Guarded([] { ShowNotificationWindow(); }); });
    connect(m_seTimeOut, &TSpinEdit::Changed, this,
            [this] { m_desk->Guarded([this] { m_desk->UpdateConnectionTimeout(); }); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] {
        if (!m_shown) return;
        m_desk->Guarded([this] { m_desk->PageControl1Change(); });
    });
    ConnectSpreadTables();
    m_paints = new PaintThrottle(this, kPaintIntervalMs);
    m_bell = new Bell(this);

    Timer1.setInterval(3000);
    TimerResetPending.setInterval(60000);
    m_TimerAutoSave.setInterval(300000);
    connect(&Timer1, &QTimer::timeout, this,
            [this] { m_desk->Guarded([this] { m_desk->UpdateTables(-1); }); });
    // The minute sweeps run in steps: the first on the tick, the others one per pass of the
    // loop, so that EA messages are answered between them.
    m_sweepSteps.setInterval(0);
    connect(&TimerResetPending, &QTimer::timeout, this, [this] {
        m_desk->Guarded([this] { m_desk->housekeeping.BeginSweeps(); });
        if (m_desk->housekeeping.Sweeping()) m_sweepSteps.start();
    });
    connect(&m_sweepSteps, &QTimer::timeout, this, [this] {
        m_desk->Guarded([this] { m_desk->housekeeping.SweepStep(); });
        if (!m_desk->housekeeping.Sweeping()) m_sweepSteps.stop();
    });
    // The auto-save writes on a thread of its own; its end comes back through the loop, where
    // an error is shown like that of any handler.
    connect(&m_TimerAutoSave, &QTimer::timeout, this,
            [this] { m_desk->Guarded([this] { m_desk->files.AutoSave(); }); });
    m_desk->files.OnAutoSaveEnded = [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_desk->Guarded([this] { m_desk->files.FinishAutoSave(); }); },
            Qt::QueuedConnection);
    };
    // When the loop ends, a save still being written ends before the windows go: the
    // notifications window saves its list as it goes, and no two writers share a file.
    connect(qApp, &QCoreApplication::aboutToQuit, this,
            [this] { m_desk->Guarded([this] { m_desk->files.FinishAutoSave(true); }); });
    Timer1.start();
    TimerResetPending.start();
    m_TimerAutoSave.start();

    // The link listens before the creation sequence: a start-up box serves the EAs too.
    if (!linkPath.empty()) {
        m_link = std::make_unique<LinkServer>([this](TMessage& m) { m_desk->Dispatch(m); });
        // The changes of a batch of messages are written at its end; the journal's thread
        // flushes them, and the order engine's answers (they hand out, confirm or depend on
        // leg state) wait until the flush covers them, while the other EAs are served. No box
        // opens inside the batch: a failure's box follows in the loop.
        auto boxLater = [this] {
            std::string box = m_desk->files.TakeJournalBox();
            if (!box.empty())
                QMetaObject::invokeMethod(
                    this, [this, box = std::move(box)] { ShowStopBox(box); }, Qt::QueuedConnection);
        };
        m_link->SetDurability(
            [this, boxLater] {
                const uint64_t ticket = m_desk->files.JournalTicket();
                boxLater();
                return ticket;
            },
            &Desk::AnswerWaitsForDisk, m_desk->orders.JournalWakeFd(),
            [this, boxLater] {
                const uint64_t durable = m_desk->files.JournalDurable();
                boxLater();
                return durable;
            });
        // Each WM_COPYDATA box runs a loop inside the one before it: a bounded number at once.
        m_link->SetNestingLimit(kMaxCopyDataBoxes,
                                [](const TMessage& m) { return m.Msg == EAMsg::NewDataCompanyName; });
        m_link->Listen(linkPath); // LinkError leaves the constructor: the program block reports it
        auto* notifier = new QSocketNotifier(m_link->PollFd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { ServeLink(); });
        // The link is ours, so no other desk of this user is saving: what killed saves left
        // beside the state files can go.
        m_desk->files.RemoveLeftoverTempFiles();
        ListenRemote();
    }

    // Changes made outside the link (timers, the operator) go to disk at the next loop turn.
    m_desk->orders.OnJournalPending = [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_desk->files.CommitJournal(); }, Qt::QueuedConnection);
    };
    m_desk->Guarded([this] { m_desk->FormCreate(); });
    // What the creation had to say about the state files, once the notifications window exists.
    if (!m_desk->files.FileNotes().empty())
        QTimer::singleShot(0, this, [this] {
            for (const std::string& note : m_desk->files.TakeFileNotes()) ShowNotification(note);
        });
    // From now on no window paints while EA records wait (the destructor takes it back).
    if (m_link) SetPaintsWaitWhile([this] { return RecordsWaiting(); });
}

TForm3::~TForm3() {
    if (!m_destroyed) {
        m_destroyed = true;
        m_desk->Guarded([this] { m_desk->FormDestroy(); });
        if (m_dataAtRisk) *m_dataAtRisk = m_desk->files.DataAtRisk();
    }
    // The grid's model and the data source observe a cursor of the desk core; they go before
    // the core does.
    if (DBSortGrid1) DBSortGrid1->SetDataSource(nullptr);
    DataSource1.SetDataSet(nullptr);
    if (m_remote) m_remote->Close();
    if (m_link) {
        SetPaintsWaitWhile(nullptr);
        m_link->ReleaseDurable(); // the shut-down's flush is done: what it covers goes out
        m_link->Close();
    }
}

void TForm3::ListenRemote() {
    const std::string listen = TIniFile(m_desk->Paths().configIni).ReadString("Link", "Listen", "");
    if (listen.empty()) return;
    // The desk's folder: that of its order list.
    const std::string& list = m_desk->Paths().orderList;
    const size_t slash = list.rfind('/');
    const std::string deskDir = slash == std::string::npos ? std::string(".") : list.substr(0, slash + 1);
    // Connections and refusals come from the remote link's own threads; the loop takes them.
    m_remote = std::make_unique<RemoteLinkServer>(
        deskDir,
        [this](std::unique_ptr<LinkTransport> t) {
            auto held = std::make_shared<std::unique_ptr<LinkTransport>>(std::move(t));
            QMetaObject::invokeMethod(
                this,
                [this, held] {
                    if (m_link && m_link->Adopt(std::move(*held)) == 0)
                        ShowNotification(
                            "Remote link: a machine's connection refused: the desk takes no more EAs");
                },
                Qt::QueuedConnection);
        },
        [this](const std::string& text) {
            QMetaObject::invokeMethod(
                this, [this, text] { ShowNotification(text); }, Qt::QueuedConnection);
        });
    try {
        m_remote->Listen(listen);
    } catch (const LinkError& e) {
        // The desk goes on with its local link: the operator loses nothing but the remote one.
        m_remote.reset();
        std::string text = "Remote link not started: ";
        text.append(e.what());
        std::fprintf(stderr, "%s\n", text.c_str());
        QMetaObject::invokeMethod(
            this, [this, text] { ShowNotification(text); }, Qt::QueuedConnection);
        return;
    }
    if (m_remote->CreatedCredentials()) {
        char* where = realpath(deskDir.c_str(), nullptr);
        std::printf("Created the desk's link key and certificate in %s\n", where ? where : deskDir.c_str());
        std::free(where);
    }
    std::printf("Remote link listening on %s (port %u); desk certificate SHA-256 %s\n", listen.c_str(),
                static_cast<unsigned>(m_remote->Port()), m_remote->Fingerprint().c_str());
    std::fflush(stdout);
}

void TForm3::ServeLink() {
    if (m_link) m_link->ProcessReady();
}

bool TForm3::RecordsWaiting() const {
    if (!m_link || m_link->PollFd() < 0) return false;
    pollfd p{m_link->PollFd(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

void TForm3::BuildSettingsBar() {
    // From left to right: Standby, Alert active, AutoTrade activ, Max. AT, Reset AT, the
    // invisible AddCanT and AddCloT, CloseTime, SeqMode, DelMode, Del, Slippage, OrderAttempts,
    // LoopTime, Timeout; each spin edit with its design value, overwritten by config.ini.
    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFixedHeight(25);
    auto* row = new QHBoxLayout(Panel1);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);
    auto spin = [&](const QString& label, Ctl c, int32_t design) {
        row->addWidget(BarLabel(label, Panel1));
        auto* s = new TSpinEdit(Panel1);
        const SpinRange r = SpinRangeOf(c);
        s->SetRange(r.min, r.max);
        s->SetValue(design);
        s->setFixedWidth(60);
        row->addWidget(s);
        return s;
    };
    m_chkbStandby = new QCheckBox("Standby", Panel1);
    {
        QPalette pal = m_chkbStandby->palette();
        pal.setColor(QPalette::WindowText, Qt::red);
        m_chkbStandby->setPalette(pal);
        QFont f = m_chkbStandby->font();
        f.setBold(true);
        m_chkbStandby->setFont(f);
    }
    row->addWidget(m_chkbStandby);
    m_cbAlertAktiv = new QCheckBox("Alert active", Panel1);
    m_cbAlertAktiv->setChecked(true);
    row->addWidget(m_cbAlertAktiv);
    m_cbAutoTrade = new QCheckBox("AutoTrade activ", Panel1);
    row->addWidget(m_cbAutoTrade);
    m_seMaxAutoTrades = spin("Max. AT", Ctl::seMaxAutoTrades, 5);
    Button2 = new QPushButton("Reset AT", Panel1);
    Button2->setObjectName("Button2");
    row->addWidget(Button2);
    m_chkbAddCanT = new QCheckBox("AddCanT", Panel1);
    m_chkbAddCanT->setVisible(false);
    row->addWidget(m_chkbAddCanT);
    m_chkbAddCloT = new QCheckBox("AddCloT", Panel1);
    m_chkbAddCloT->setVisible(false);
    row->addWidget(m_chkbAddCloT);
    m_seMaxCounterCheck = spin("CloseTime", Ctl::seMaxCounterCheck, 180);
    m_chkbSeqMode = new QCheckBox("SeqMode", Panel1);
    m_chkbSeqMode->setChecked(true);
    row->addWidget(m_chkbSeqMode);
    m_chkbDelayMode = new QCheckBox("DelMode", Panel1);
    row->addWidget(m_chkbDelayMode);
    m_seDelayPos2 = spin("Del", Ctl::seDelayPos2, 300);
    m_seSlippage = spin("Slippage", Ctl::seSlippage, 2);
    m_seRequoteAnzahl = spin("OrderAttempts", Ctl::seRequoteAnzahl, 2);
    m_seLoopTime = spin("LoopTime", Ctl::seLoopTime, 250);
    m_seTimeOut = spin("Timeout", Ctl::seTimeOut, 7);
    m_rePRIDynamic = new TRealEdit(Panel1);
    m_rePRIDynamic->setObjectName("m_rePRIDynamic");
    m_rePRIDynamic->SetPrecision(PrecisionOf(Ctl::rePRIDynamic));
    m_rePRIDynamic->SetValue(0.003);
    m_rePRIDynamic->setVisible(false);
    row->addStretch(1);
}

void TForm3::BuildPages() {
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName("PageControl1");
    for (int t = 0; t < kMaxTables; ++t) {
        auto* sheet = new QWidget;
        const int sheetNo = t < 3 ? t + 1 : t + 2;
        sheet->setObjectName(QString("TabSheet%1").arg(sheetNo));
        auto* lay = new QVBoxLayout(sheet);
        lay->setContentsMargins(0, 0, 0, 0);
        m_frames[static_cast<size_t>(t)] = new TFrameTable(sheet);
        m_frames[static_cast<size_t>(t)]->setObjectName(QString("FrameTable%1").arg(t + 1));
        lay->addWidget(m_frames[static_cast<size_t>(t)]);
        m_tableSheets[static_cast<size_t>(t)] = sheet;
        PageControl1->addTab(sheet, QString("Tab %1").arg(t));
    }
    m_tsWatch = new QWidget;
    m_tsWatch->setObjectName("m_tsWatch");
    {
        // Above the Watch grid: the alert level, the alert interval and the auto-trade interval.
        auto* lay = new QVBoxLayout(m_tsWatch);
        lay->setContentsMargins(0, 0, 0, 0);
        lay->setSpacing(0);
        auto* strip = new QWidget(m_tsWatch);
        strip->setFixedHeight(33);
        lay->addWidget(strip);
        auto place = [](QWidget* w, int left, int top, int width = -1, int height = -1) {
            if (width < 0) {
                w->adjustSize();
                w->move(left, top);
            } else {
                w->setGeometry(left, top, width, height);
            }
        };
        place(new QLabel("Alert Level", strip), 12, 11);
        m_reAlert = new TRealEdit(strip);
        m_reAlert->setObjectName("m_reAlert");
        m_reAlert->SetPrecision(PrecisionOf(Ctl::reAlert));
        m_reAlert->SetValue(0.0);
        place(m_reAlert, 69, 6, 77, 21);
        UpDown5 = new TUpDown(strip);
        UpDown5->SetRange(-100, 100);
        place(UpDown5, 145, 6, 17, 21);
        place(new QLabel("Alert Interval (sec.)", strip), 170, 11);
        m_reAlertIntervall = new TRealEdit(strip);
        m_reAlertIntervall->setObjectName("m_reAlertIntervall");
        m_reAlertIntervall->SetPrecision(PrecisionOf(Ctl::reAlertIntervall));
        m_reAlertIntervall->SetValue(0.1);
        place(m_reAlertIntervall, 278, 6, 43, 21);
        UpDown6 = new TUpDown(strip);
        UpDown6->SetRange(-100, 100);
        place(UpDown6, 320, 6, 17, 21);
        place(new QLabel("AutoTrade Interval (sec.)", strip), 350, 11);
        m_seTradeIntervall = new TSpinEdit(strip);
        m_seTradeIntervall->setObjectName("m_seTradeIntervall");
        const SpinRange range = SpinRangeOf(Ctl::seTradeIntervall);
        m_seTradeIntervall->SetRange(range.min, range.max);
        m_seTradeIntervall->SetValue(10);
        place(m_seTradeIntervall, 479, 5, 50, 22);
        m_bResetCS = new QPushButton("Reset Table", strip);
        m_bResetCS->setObjectName("m_bResetCS");
        place(m_bResetCS, 552, 3, 84, 25);
        // The Watch grid fills the rest of the page below the strip.
        StringGrid1 = new TStringGrid(m_tsWatch);
        StringGrid1->setObjectName("StringGrid1");
        QFont gridFont("Tahoma");
        gridFont.setPixelSize(13);
        StringGrid1->setFont(gridFont);
        StringGrid1->SetFixedRows(1);
        StringGrid1->SetFixedCols(1);
        StringGrid1->SetDefaultRowHeight(20);
        StringGrid1->SetDefaultColWidth(150);
        StringGrid1->SetRowCount(21);
        StringGrid1->SetColCount(6);
        StringGrid1->OnDrawCell = [this](QPainter& p, int col, int row, const QRect& r) {
            StringGrid1DrawCell(p, col, row, r);
        };
        lay->addWidget(StringGrid1, 1);
    }
    PageControl1->addTab(m_tsWatch, "Watch");
    TabSheet4 = new QWidget;
    TabSheet4->setObjectName("TabSheet4");
    PageControl1->addTab(TabSheet4, "ADMIN PANEL");
    TabSheet22 = new QWidget;
    TabSheet22->setObjectName("TabSheet22");
    (new QVBoxLayout(TabSheet22))->addWidget(new QPlainTextEdit(TabSheet22));
    PageControl1->addTab(TabSheet22, "Debug");
    TabSheet23 = new QWidget;
    TabSheet23->setObjectName("TabSheet23");
    (new QVBoxLayout(TabSheet23))->addWidget(new QPlainTextEdit(TabSheet23));
    PageControl1->addTab(TabSheet23, "Spreadlog");
}

void TForm3::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!m_shown) {
        m_desk->Guarded([this] { FormShow(); });
        m_shown = true;
    }
}

void TForm3::FormShow() {
    RemoveUnusedTableTabs();
    PageControl1->setCurrentWidget(TabSheet4);
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet22), false);
    PageControl1->setTabVisible(PageControl1->indexOf(TabSheet23), false);
}

void TForm3::RemoveUnusedTableTabs() {
    const int n = m_desk->settings.m_iAnzahlTabellen;
    if (n < 1 || n >= kMaxTables) return;
    for (int k = kMaxTables - 1; k >= n; --k) {
        QWidget* sheet = m_tableSheets[static_cast<size_t>(k)];
        if (!sheet) continue;
        PageControl1->removeTab(PageControl1->indexOf(sheet));
        m_tableSheets[static_cast<size_t>(k)] = nullptr;
        m_frames[static_cast<size_t>(k)] = nullptr;
        delete sheet;
    }
}

TFrameTable* TForm3::GetFrameTable(int t) const {
    if (t < 0 || t >= kMaxTables) return nullptr;
    return m_frames[static_cast<size_t>(t)];
}

int TForm3::GetActiveTableIndex() const {
    return PageControl1 ? PageControl1->currentIndex() : -1;
}

void TForm3::closeEvent(QCloseEvent* e) {
    QMainWindow::closeEvent(e);
    qApp->quit();
}

// ---- controls seam ---------------------------------------------------------------------------

QWidget* TForm3::EditOf(Ctl c) const {
    switch (c) {
    case Ctl::seRequoteAnzahl:
        return m_seRequoteAnzahl;
    case Ctl::seLoopTime:
        return m_seLoopTime;
    case Ctl::seTimeOut:
        return m_seTimeOut;
    case Ctl::seSlippage:
        return m_seSlippage;
    case Ctl::seMaxAutoTrades:
        return m_seMaxAutoTrades;
    case Ctl::seTradeIntervall:
        return m_seTradeIntervall;
    case Ctl::seDelayPos2:
        return m_seDelayPos2;
    case Ctl::seMaxCounterCheck:
        return m_seMaxCounterCheck;
    case Ctl::reAlert:
        return m_reAlert;
    case Ctl::reAlertIntervall:
        return m_reAlertIntervall;
    case Ctl::rePRIDynamic:
        return m_rePRIDynamic;
    case Ctl::reLotsChange:
        return m_reLotsChange;
    case Ctl::reOpenSpreadChange:
        return m_reOpenSpreadChange;
    case Ctl::reCloseSpreadChange:
        return m_reCloseSpreadChange;
    case Ctl::reMaxVerlust:
        return m_reMaxVerlust;
    default:
        return nullptr;
    }
}

QAbstractButton* TForm3::CheckOf(Ctl c) const {
    switch (c) {
    case Ctl::chkbStandby:
        return m_chkbStandby;
    case Ctl::cbAlertAktiv:
        return m_cbAlertAktiv;
    case Ctl::cbAutoTrade:
        return m_cbAutoTrade;
    case Ctl::chkbDelayMode:
        return m_chkbDelayMode;
    case Ctl::chkbSeqMode:
        return m_chkbSeqMode;
    case Ctl::chkbAddCanT:
        return m_chkbAddCanT;
    case Ctl::chkbAddCloT:
        return m_chkbAddCloT;
    case Ctl::rbBuyChange:
        return m_rbBuyChange;
    case Ctl::rbBuySellChange:
        return m_rbBuySellChange;
    case Ctl::rbSellChange:
        return m_rbSellChange;
    case Ctl::rbOpenKleinerChange:
        return m_rbOpenKleinerChange;
    case Ctl::rbCloseKleinerChange:
        return m_rbCloseKleinerChange;
    case Ctl::cbAutoClose:
        return m_cbAutoClose;
    default:
        return nullptr;
    }
}

std::string TForm3::Text(Ctl c) const {
    QWidget* w = EditOf(c);
    if (auto* s = qobject_cast<TSpinEdit*>(w)) return s->Text().toStdString();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
    return {};
}

void TForm3::SetText(Ctl c, const std::string& text) {
    QWidget* w = EditOf(c);
    if (auto* s = qobject_cast<TSpinEdit*>(w))
        s->SetText(QString::fromStdString(text));
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(QString::fromStdString(text));
}

bool TForm3::Checked(Ctl c) const {
    QAbstractButton* b = CheckOf(c);
    return b && b->isChecked();
}

void TForm3::SetChecked(Ctl c, bool on) {
    if (QAbstractButton* b = CheckOf(c)) b->setChecked(on);
}

std::string TForm3::FrameText(int t, FrameCtl c) const {
    return GetFrameTable(t)->Text(c).toStdString();
}

void TForm3::SetFrameText(int t, FrameCtl c, const std::string& text) {
    GetFrameTable(t)->SetText(c, QString::fromStdString(text));
}

bool TForm3::FrameChecked(int t, FrameCtl c) const {
    return GetFrameTable(t)->Checked(c);
}

void TForm3::SetFrameChecked(int t, FrameCtl c, bool on) {
    GetFrameTable(t)->SetChecked(c, on);
}

void TForm3::SetBrokerItems(int t, const std::vector<std::string>& items) {
    QListWidget* lb = GetFrameTable(t)->m_lbBrokerIDs1;
    lb->clear();
    for (const auto& s : items) {
        auto* item = new QListWidgetItem(QString::fromStdString(s), lb);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

int TForm3::BrokerCount(int t) const {
    return GetFrameTable(t)->m_lbBrokerIDs1->count();
}

std::string TForm3::BrokerText(int t, int item) const {
    return GetFrameTable(t)->m_lbBrokerIDs1->item(item)->text().toStdString();
}

bool TForm3::BrokerChecked(int t, int item) const {
    return GetFrameTable(t)->m_lbBrokerIDs1->item(item)->checkState() == Qt::Checked;
}

void TForm3::SetBrokerChecked(int t, int item, bool on) {
    GetFrameTable(t)->m_lbBrokerIDs1->item(item)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

// ---- view seam -------------------------------------------------------------------------------

void TForm3::ShowStopBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(), QString::fromStdString(text), QMessageBox::Ok,
                    this);
    ExecBox(box);
}

void TForm3::ShowMessageBox(const std::u16string& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(),
                    QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok,
                    this);
    ExecBox(box);
}

void TForm3::Terminate() {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

void TForm3::SetAutoSaveInterval(unsigned ms) {
    if (ms == 0) {
        m_TimerAutoSave.stop();
        return;
    }
    if (static_cast<unsigned>(m_TimerAutoSave.interval()) == ms && m_TimerAutoSave.isActive()) return;
    m_TimerAutoSave.start(static_cast<int>(ms > 0x7FFFFFFFu ? 0x7FFFFFFFu : ms));
}

void TForm3::Beep() {
    if (m_bell)
        m_bell->Ring();
    else
        QApplication::beep(); // before the window is built
}

// ---- notifications ---------------------------------------------------------------------------

void TForm3::ShowNotification(const std::string& text) {
    quorvel::ShowNotification(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void TForm3::SaveNotifications() {
    if (MessageBox) MessageBox->Save(); // gone at shut-down: it saved itself when it went
}

std::function<void()> TForm3::NotificationsWriter() {
    if (!MessageBox) return [] {};
    return MessageBox->List().SaveLater(MessageBox->FileName());
}

// ---- spread tables -----------------------------------------------------------------------

namespace {
// The virtual key code the desk's key handlers test: the arrow keys; 0 for any other key.
int VirtualKeyOf(int qtKey) {
    return qtKey == Qt::Key_Up ? kVkUp : qtKey == Qt::Key_Down ? kVkDown : 0;
}
} // namespace

void TForm3::ConnectSpreadTables() {
    auto guarded = [this](auto f) { m_desk->Guarded(f); };
    connect(m_bResetCS, &QPushButton::clicked, this,
            [=, this] { guarded([this] { m_desk->spreads.ResetCrossSpreads(); }); });
    connect(UpDown5, &TUpDown::Click, this, [=, this](TUDBtnType b) {
        guarded([this, b] { m_desk->UpDown5Click(b == TUDBtnType::btNext); });
    });
    connect(UpDown6, &TUpDown::Click, this, [=, this](TUDBtnType b) {
        guarded([this, b] { m_desk->UpDown6Click(b == TUDBtnType::btNext); });
    });
    connect(m_reAlert, &TRealEdit::KeyUp, this, [=, this](int key) {
        guarded([this, key] { m_desk->RealEditKeyUp(Ctl::reAlert, VirtualKeyOf(key)); });
    });
    connect(m_reAlertIntervall, &TRealEdit::KeyUp, this, [=, this](int key) {
        guarded([this, key] { m_desk->m_reAlertIntervallKeyUp(VirtualKeyOf(key)); });
    });
    for (TFrameTable* f : m_frames) {
        connect(f->Button1, &QPushButton::clicked, this,
                [=, this] { guarded([this] { m_desk->ResetMinCurrent(); }); });
        connect(f->btnResetCSTable, &QPushButton::clicked, this,
                [=, this] { guarded([this] { m_desk->ResetMinSpreadCurrent(); }); });
    }
}

bool TForm3::WatchPageActive() const {
    return PageControl1 && m_tsWatch && PageControl1->currentWidget() == m_tsWatch;
}

TStringGrid* TForm3::GridOf(Grid g, int t) const {
    if (g == Grid::Watch) return StringGrid1;
    TFrameTable* f = GetFrameTable(t);
    if (!f) return nullptr;
    return g == Grid::Quote ? f->StringGrid1 : f->m_sgMinSpread;
}

int TForm3::GridRowCount(Grid g, int t) const {
    TStringGrid* grid = GridOf(g, t);
    return grid ? grid->RowCount() : 0;
}

void TForm3::SetGridRowCount(Grid g, int t, int rows) {
    if (TStringGrid* grid = GridOf(g, t)) grid->SetRowCount(rows);
}

void TForm3::SetGridColCount(Grid g, int t, int cols) {
    if (TStringGrid* grid = GridOf(g, t)) grid->SetColCount(cols);
}

void TForm3::SetGridColWidth(Grid g, int t, int col, int width) {
    if (TStringGrid* grid = GridOf(g, t)) grid->SetColWidth(col, width);
}

void TForm3::SetGridCell(Grid g, int t, int col, int row, std::string_view text) {
    TStringGrid* grid = GridOf(g, t);
    if (!grid) return;
    // The desk's texts are plain ASCII: an unchanged cell is left alone without a conversion.
    const QLatin1StringView latin(text.data(), static_cast<qsizetype>(text.size()));
    if (grid->Cells(col, row) == latin) return;
    grid->SetCells(col, row, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void TForm3::SetFrameLabel(int t, FrameLabel l, std::string_view text) {
    TFrameTable* f = GetFrameTable(t);
    if (!f) return;
    QLabel* label = l == FrameLabel::MinCrossSpread ? f->lblMinCrossSpread
                    : l == FrameLabel::Gegenwert    ? f->lblGegenwert
                                                    : f->lblSumme;
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (label->text() != s) label->setText(s);
}

void TForm3::StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect) {
    if (!IsBandedRow(row)) return;
    painter.fillRect(rect, QColor(QRgb(kBandColour)));
    painter.setFont(StringGrid1->font());
    painter.setPen(StringGrid1->palette().color(QPalette::WindowText));
    StringGrid1->Texts().Draw(painter, rect, Qt::AlignLeft | Qt::AlignTop, StringGrid1->Cells(col, row));
}

// ---- ADMIN PANEL: order list ------------------------------------------------------------------

DataSetModel* TForm3::OrderModel() const {
    return DBSortGrid1 ? DBSortGrid1->Model() : nullptr;
}

void TForm3::BuildAdminPanel() {
    // The grid is created first: it leads the tab's tab order.
    DataSource1.AutoEdit = false;
    DataSource1.SetDataSet(&m_desk->orders.m_CDSOrderlisteAnzeige);
    DBSortGrid1 = new TDBSortGrid(TabSheet4);
    DBSortGrid1->setObjectName("DBSortGrid1");
    DBSortGrid1->SetOptions(dgTitles | dgIndicator | dgColumnResize | dgColLines | dgRowLines | dgTabs |
                            dgConfirmDelete | dgCancelOnExit);
    DBSortGrid1->ReadOnly = true;
    DBSortGrid1->DisableSorting = true;
    DBSortGrid1->SetCheckBox3D(true);
    DBSortGrid1->AllowDelete = false;
    DBSortGrid1->OnDrawDataCell = [this](TDBSortGrid& g, const QRect& r, Field& f, TGridDrawState st) {
        DBSortGrid1DrawDataCell(g, r, f, st);
    };
    DBSortGrid1->DataCellEventDrawsCell = true; // the event draws every cell with an opaque brush
    DBSortGrid1->OnError = [this](const std::exception& e) { ShowStopBox(StopBoxText(e.what())); };
    DBSortGrid1->SetDataSource(&DataSource1);
    Button3 = new QPushButton("COPY TRANSACTION", TabSheet4);
    Button3->setObjectName("Button3");
    Button14 = new QPushButton("Delete Order", TabSheet4);
    Button14->setObjectName("Button14");
    // The sums, right-aligned above the grid's right end: lots, profit, profit in price units.
    QFont sumFont("Tahoma");
    sumFont.setPixelSize(13);
    auto sumLabel = [&](QLabel*& l, const char* name, const char* caption) {
        l = new QLabel(caption, TabSheet4);
        l->setObjectName(name);
        l->setFont(sumFont);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    };
    sumLabel(m_lSummelots, "m_lSummelots", "Lots:");
    sumLabel(m_lSummeGewinn, "m_lSummeGewinn", "P/L:");
    sumLabel(m_lSummeGewinnPips, "m_lSummeGewinnPips", "P/L Pips:");
    BuildOperatorControls();

    connect(Button3, &QPushButton::clicked, this,
            [this] { m_desk->Guarded([this] { m_desk->entry.CopySelectedTransaction(); }); });
    // "Place Order" on every table frame places from the frame on screen.
    for (TFrameTable* frame : m_frames)
        if (frame && frame->Button13)
            connect(frame->Button13, &QPushButton::clicked, this,
                    [this] { m_desk->Guarded([this] { m_desk->entry.TableOpenOrderCurrent(); }); });
    connect(Button14, &QPushButton::clicked, this,
            [this] { m_desk->Guarded([this] { m_desk->entry.DeleteSelectedTransaction(); }); });
}

void TForm3::DBSortGrid1DrawDataCell(TDBSortGrid& Sender, const QRect& Rect, Field& field,
                                     TGridDrawState State) {
    TGridCanvas& canvas = Sender.Canvas();
    if (OrderGridBanded(m_desk->orders.m_CDSOrderlisteAnzeige.RecNo()))
        canvas.BrushColor = ToQColor(kOrderGridBand);
    if (const auto colour = OrderGridFontColour(field)) canvas.FontColor = ToQColor(*colour);
    Sender.DefaultDrawDataCell(Rect, field, State);
}

void TForm3::SetSumLabel(SumLabel l, std::string_view text, unsigned colour) {
    QLabel* label = l == SumLabel::Lots     ? m_lSummelots
                    : l == SumLabel::Gewinn ? m_lSummeGewinn
                                            : m_lSummeGewinnPips;
    if (!label) return;
    const QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (label->text() != s) label->setText(s);
    const QColor c = ToQColor(colour);
    if (label->palette().color(QPalette::WindowText) != c) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, c);
        label->setPalette(pal);
    }
}

} // namespace quorvel
