#pragma once
// The desk's main window: owns the desk core, its controls, the page control with the table
// tabs, Watch and ADMIN PANEL, the three timers and the EA link.
#include <QCheckBox>
#include <QMainWindow>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <array>
#include <memory>

#include "components/DBSortGrid.h"
#include "desk/core/desk.h"
#include "platform/ealink.h"
#include "platform/tlslink.h"
#include "platform/widgets/spinedit.h"
#include "platform/widgets/updown.h"

class QAbstractButton;
class QGroupBox;
class QLabel;
class QListWidget;
class QRadioButton;
class QLineEdit;
class QMessageBox;
class QPlainTextEdit;
class QTableView;

namespace quorvel {

class PaintThrottle;
class Bell;
class TFrameTable;
class TMessageBox;
class TRealEdit;
class TStringGrid;

class TForm3 : public QMainWindow, private IDeskControls, private IDeskView {
    Q_OBJECT
public:
    // Creates the window and runs the creation sequence. `linkPath` empty: no EA link
    // (tests drive the core directly).
    TForm3(DeskPaths paths, const std::string& linkPath, QWidget* parent = nullptr);
    ~TForm3() override;

    Desk& DeskCore() { return *m_desk; }
    LinkServer* Link() { return m_link.get(); }

    void FormShow();
    TFrameTable* GetFrameTable(int t) const;
    int GetActiveTableIndex() const;
    TFrameTable* GetActiveFrame() const { return GetFrameTable(GetActiveTableIndex()); }
    void RemoveUnusedTableTabs();

    // Serves the link until nothing is ready (used by the event loop and by tests).
    void ServeLink();
    // EA records have arrived and wait to be handled: no window paints now.
    bool RecordsWaiting() const;
    // The budget of the window's repaints: at most one per kPaintIntervalMs, coalesced.
    PaintThrottle* Paints() const { return m_paints; }
    static constexpr int kPaintIntervalMs = 50;
    // Where the destruction tells whether the run lost what it could not write (the journal
    // failed, or the shut-down save did); the program then ends non-zero.
    void SetDataAtRiskFlag(bool* flag) { m_dataAtRisk = flag; }

    // WM_COPYDATA boxes open at once, each inside the one before; a further WM_COPYDATA
    // waits unanswered until one of them is closed, while the other EAs go on being served.
    static constexpr int kMaxCopyDataBoxes = 16;

    // Components named as the desk's code refers to them.
    QWidget* Panel1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QPushButton* Button19 = nullptr; // "Popup"
    QPushButton* Button17 = nullptr; // "Reset Tabs", never visible
    QWidget* m_tsWatch = nullptr;
    QWidget* TabSheet4 = nullptr;  // ADMIN PANEL
    QWidget* TabSheet22 = nullptr; // Debug
    QWidget* TabSheet23 = nullptr; // Spreadlog
    QTimer Timer1;
    QTimer TimerResetPending;
    QTimer m_sweepSteps; // the minute sweeps' further steps, one per pass of the loop
    QTimer m_TimerAutoSave;

    // settings bar
    QCheckBox* m_chkbStandby = nullptr;
    QCheckBox* m_cbAlertAktiv = nullptr;
    QCheckBox* m_cbAutoTrade = nullptr;
    TSpinEdit* m_seMaxAutoTrades = nullptr;
    QPushButton* Button2 = nullptr; // "Reset AT"
    QCheckBox* m_chkbAddCanT = nullptr;
    QCheckBox* m_chkbAddCloT = nullptr;
    TSpinEdit* m_seMaxCounterCheck = nullptr;
    QCheckBox* m_chkbSeqMode = nullptr;
    QCheckBox* m_chkbDelayMode = nullptr;
    TSpinEdit* m_seDelayPos2 = nullptr;
    TSpinEdit* m_seSlippage = nullptr;
    TSpinEdit* m_seRequoteAnzahl = nullptr;
    TSpinEdit* m_seLoopTime = nullptr;
    TSpinEdit* m_seTimeOut = nullptr;
    TRealEdit* m_rePRIDynamic = nullptr; // not visible
    // Watch tab
    TRealEdit* m_reAlert = nullptr;
    TUpDown* UpDown5 = nullptr;
    TRealEdit* m_reAlertIntervall = nullptr;
    TUpDown* UpDown6 = nullptr;
    TSpinEdit* m_seTradeIntervall = nullptr;
    QPushButton* m_bResetCS = nullptr;  // "Reset Table"
    TStringGrid* StringGrid1 = nullptr; // the Watch grid: one row per table
    // Banding of the Watch grid, after a cell's default drawing.
    void StringGrid1DrawCell(QPainter& painter, int col, int row, const QRect& rect);

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    // IDeskControls
    std::string Text(Ctl c) const override;
    void SetText(Ctl c, const std::string& text) override;
    bool Checked(Ctl c) const override;
    void SetChecked(Ctl c, bool on) override;
    bool HasFrame(int t) const override { return GetFrameTable(t) != nullptr; }
    std::string FrameText(int t, FrameCtl c) const override;
    void SetFrameText(int t, FrameCtl c, const std::string& text) override;
    bool FrameChecked(int t, FrameCtl c) const override;
    void SetFrameChecked(int t, FrameCtl c, bool on) override;
    void SetBrokerItems(int t, const std::vector<std::string>& items) override;
    int BrokerCount(int t) const override;
    std::string BrokerText(int t, int item) const override;
    bool BrokerChecked(int t, int item) const override;
    void SetBrokerChecked(int t, int item, bool on) override;
    int ActiveTableIndex() const override { return GetActiveTableIndex(); }
    bool WatchPageActive() const override;
    void SetPanelBrokerItems(const std::vector<std::string>& items) override;
    int PanelBrokerCount() const override;
    std::string PanelBrokerText(int item) const override;
    bool PanelBrokerChecked(int item) const override;
    void SetPanelBrokerChecked(int item, bool on) override;
    void SetPanelEnabled(PanelPart p, bool on) override;
    void SetPanelFontGrey(PanelPart p, bool grey) override;
    QWidget* PanelPartOf(PanelPart p) const;
    // IDeskView
    void ShowStopBox(const std::string& text) override;
    void ShowMessageBox(const std::u16string& text) override;
    void Terminate() override;
    void SetAutoSaveInterval(unsigned ms) override;
    void Beep() override;
    int GridRowCount(Grid g, int t) const override;
    void SetGridRowCount(Grid g, int t, int rows) override;
    void SetGridColCount(Grid g, int t, int cols) override;
    void SetGridColWidth(Grid g, int t, int col, int width) override;
    void SetGridCell(Grid g, int t, int col, int row, std::string_view text) override;
    void SetFrameLabel(int t, FrameLabel l, std::string_view text) override;
    TStringGrid* GridOf(Grid g, int t) const;

    // ---- notifications (the window is the global MessageBox) ----------------------------
    void ShowNotification(const std::string& text) override;
    void SaveNotifications() override;
    std::function<void()> NotificationsWriter() override;

    void BuildSettingsBar();
    void BuildPages();
    void ConnectSpreadTables();
    QWidget* EditOf(Ctl c) const;
    QAbstractButton* CheckOf(Ctl c) const;

    SystemClock m_clock;
    std::unique_ptr<Desk> m_desk;
    std::unique_ptr<LinkServer> m_link;
    PaintThrottle* m_paints = nullptr;
    Bell* m_bell = nullptr; // rung after the batch of messages whose handler asked for it
    // Terminals on other machines, when config.ini's [Link] Listen asks for them.
    std::unique_ptr<RemoteLinkServer> m_remote;
    void ListenRemote();
    std::array<TFrameTable*, kMaxTables> m_frames{};
    std::array<QWidget*, kMaxTables> m_tableSheets{};
    bool m_shown = false;
    bool m_destroyed = false;
    bool* m_dataAtRisk = nullptr;

    // ---- ADMIN PANEL: order list ---------------------------------------------------------------
public:
    // The order grid over the display cursor, read-only; moving in it moves the cursor.
    TDBSortGrid* DBSortGrid1 = nullptr;
    TDataSource DataSource1;
    QPushButton* Button3 = nullptr;  // "COPY TRANSACTION"
    QPushButton* Button14 = nullptr; // "Delete Order"
    QLabel* m_lSummelots = nullptr;
    QLabel* m_lSummeGewinn = nullptr;
    QLabel* m_lSummeGewinnPips = nullptr;
    DataSetModel* OrderModel() const;
    // The grid's data-cell event: pairs of rows banded, profit red or green, order numbers blue.
    void DBSortGrid1DrawDataCell(TDBSortGrid& Sender, const QRect& Rect, Field& field, TGridDrawState State);

    // The operator's controls beside the grid: manual close and the close-spread presets.
    QPushButton* m_bManuell = nullptr;  // "CloseSpread = -0,09999"
    QPushButton* m_bManuell2 = nullptr; // "CloseSpread = -0,00020"
    QPushButton* m_bManuell3 = nullptr; // "CloseSpread = -0,00010"
    QPushButton* Button6 = nullptr;     // "CloseSpread = 0"
    QPushButton* Button4 = nullptr;     // "CloseSpread = 0,00020"
    QPushButton* Button5 = nullptr;     // "CloseSpread = 0,00010"
    QPushButton* Button1 = nullptr;     // "Close Transaction"
    QPushButton* Button18 = nullptr;    // "Close Position"
    // The "Edit Orders" group.
    QGroupBox* m_gbChange = nullptr;
    QListWidget* m_lbBrokerIDsChange = nullptr;
    TRealEdit* m_reLotsChange = nullptr;
    TUpDown* UpDown4 = nullptr;
    QGroupBox* m_gbOpenBedingung = nullptr;
    QRadioButton* m_rbOpenKleinerChange = nullptr;
    TRealEdit* m_reOpenSpreadChange = nullptr;
    TUpDown* UpDown1 = nullptr;
    QGroupBox* m_gbChangeBuySell = nullptr;
    QRadioButton* m_rbBuyChange = nullptr;
    QRadioButton* m_rbBuySellChange = nullptr;
    QRadioButton* m_rbSellChange = nullptr;
    QGroupBox* GroupBox1 = nullptr; // "MaxLoss for AutoClose"
    TRealEdit* m_reMaxVerlust = nullptr;
    TUpDown* UpDown2 = nullptr;
    QGroupBox* m_gbCloseBedingung = nullptr;
    QRadioButton* m_rbCloseKleinerChange = nullptr;
    TRealEdit* m_reCloseSpreadChange = nullptr;
    TUpDown* UpDown3 = nullptr;
    QCheckBox* m_cbAutoClose = nullptr;
    QPushButton* m_btnChangeOrder = nullptr;
    QPushButton* m_btnCloseOrder = nullptr;

private:
    void BuildAdminPanel();
    // The group and the buttons above the order grid; places every control of the tab.
    void BuildOperatorControls();
    void SetSumLabel(SumLabel l, std::string_view text, unsigned colour) override;
    // The grid's model observes a cursor of the desk core; this member, the last, detaches it
    // before the core goes, also when the creation fails half-way.
    struct GridDetach {
        TForm3* form;
        ~GridDetach() {
            if (form->DBSortGrid1) form->DBSortGrid1->SetDataSource(nullptr);
        }
    } m_gridDetach{this};
};

} // namespace quorvel
