// The export's save dialog and error box, and the export through them.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

#include "components/ExportDialog.h"
#include "components/core/csvexport.h"
#include "desk/uSkarlin.h"
#include "platform/clientdataset.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"
#include "tests/support/testpaths.h"

using namespace quorvel;

namespace {

// Runs `act` on the modal window as soon as it is shown.
void WhenModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(5);
}

struct Scratch {
    Scratch() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "quorvel-export-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
        dir = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::string File(const std::string& name) const { return (dir / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            names.push_back(std::filesystem::relative(e.path(), dir).string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::filesystem::path dir;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void FillDataSet(ClientDataSet& ds) {
    ds.CreateDataSet({{"Nr", FieldType::Integer}, {"Lots", FieldType::Float}});
    for (int k = 1; k <= 3; ++k) {
        ds.Append();
        ds.FieldByName("Nr").SetAsInteger(k);
        ds.FieldByName("Lots").SetAsFloat(k / 10.0);
        ds.Post();
    }
}

} // namespace

TEST(ExportDialog, TheSaveDialogAsksForACsvFile) {
    std::unique_ptr<QFileDialog> dialog(CreateCsvSaveDialog(nullptr));
    EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("Datens\u00e4tze im CSV-Format speichern"));
    EXPECT_EQ(dialog->nameFilters(), QStringList{"CSV (Trennzeichen getrennt) (*.csv)"});
    EXPECT_EQ(dialog->defaultSuffix(), "csv");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    const auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->text().isEmpty()); // no initial file name
}

TEST(ExportDialog, TheErrorBoxAnswersAbortToEscapeAndToClosing) {
    struct Case {
        const char* what;
        std::function<void(QMessageBox*)> answer;
        bool retry;
    };
    const Case cases[] = {
        {"Escape", [](QMessageBox* b) { QTest::keyClick(b, Qt::Key_Escape); }, false},
        {"closed", [](QMessageBox* b) { b->close(); }, false},
        {"Abort", [](QMessageBox* b) { b->button(QMessageBox::Abort)->click(); }, false},
        {"Retry", [](QMessageBox* b) { b->button(QMessageBox::Retry)->click(); }, true},
    };
    std::unique_ptr<QMessageBox> box(CreateCsvErrorBox());
    EXPECT_EQ(box->text(),
              QString::fromUtf8("Fehler beim anlegen der Datei!\n\nM\u00f6glicherweise ist die Datei "
                                "gerade in Bearbeitung."));
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Abort | QMessageBox::Retry);
    box.reset();
    const CsvExportPrompts prompts = CsvExportDialogs(nullptr);
    for (const Case& c : cases) {
        WhenModal([&c](QWidget* w) {
            auto* b = qobject_cast<QMessageBox*>(w);
            ASSERT_NE(b, nullptr);
            c.answer(b);
        });
        EXPECT_EQ(prompts.askRetry(), c.retry) << c.what;
    }
}

TEST(ExportDialog, CancelWritesNothingAndTheChosenFileGetsItsSuffix) {
    Scratch scratch;
    ClientDataSet ds;
    FillDataSet(ds);
    ds.SetRecNo(2);

    WhenModal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
    EXPECT_FALSE(ExportDataset(nullptr, &ds));
    EXPECT_TRUE(scratch.Entries().empty());

    WhenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        d->setDirectory(QString::fromStdString(scratch.dir.string()));
        d->selectFile("orders");
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_TRUE(ExportDataset(nullptr, &ds));
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>{"orders.csv"});
    EXPECT_EQ(ReadBytes(scratch.File("orders.csv")), "Nr; Lots\r\n\r\n1;0,1\r\n2;0,2\r\n3;0,3\r\n");
    EXPECT_EQ(ds.RecNo(), 2);
}

TEST(ExportDialog, TheSaveDialogRefusesAFolderThatDoesNotExist) {
    Scratch scratch;
    std::filesystem::create_directories(scratch.dir / "there");
    const CsvExportPrompts prompts = CsvExportDialogs(nullptr);
    struct Case {
        const char* what;
        std::string typed;
        std::string chosen; // empty: refused, the dialog stays open
    };
    const Case cases[] = {
        {"missing folder", scratch.File("missing/orders.csv"), ""},
        {"missing folder below an existing one", scratch.File("there/missing/orders.csv"), ""},
        {"a file where the folder should be", scratch.File("there/plain.txt/orders.csv"), ""},
        {"existing folder", scratch.File("there/orders.csv"), scratch.File("there/orders.csv")},
    };
    std::ofstream(scratch.File("there/plain.txt")) << "x";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bool refused = false, stayedOpen = false;
        QString warning;
        WhenModal([&](QWidget* w) {
            auto* d = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(d, nullptr);
            auto* name = d->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(c.typed));
            QTest::keyClick(name, Qt::Key_Return);
            if (!d->isVisible()) return; // accepted
            // Refused: a warning in front of the dialog, which is still open afterwards.
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            refused = box != nullptr;
            if (box) {
                warning = box->text();
                box->button(QMessageBox::Ok)->click();
            }
            QApplication::processEvents();
            stayedOpen = d->isVisible();
            d->reject();
        });
        EXPECT_EQ(prompts.askFileName(), c.chosen);
        EXPECT_EQ(refused, c.chosen.empty());
        EXPECT_EQ(stayedOpen, c.chosen.empty());
        if (c.chosen.empty()) {
            EXPECT_TRUE(warning.contains("nicht vorhanden")) << warning.toStdString();
        }
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.dir / "missing")); // nothing was made
}

TEST(ExportDialog, TheExportAsksAgainOnlyWhileTheFileCannotBeCreated) {
    Scratch scratch;
    ClientDataSet ds;
    FillDataSet(ds);
    const std::string path = scratch.File("sub/orders.csv"); // the folder is not there yet

    struct Case {
        const char* what;
        bool locked;
        std::vector<bool> answers; // Retry for each box in turn
        int boxes;                 // boxes shown
        bool written;
    };
    const Case cases[] = {
        {"locked", true, {}, 0, false},
        {"abort", false, {false}, 1, false},
        {"retry twice, then abort", false, {true, true, false}, 3, false},
        {"retry after the folder was made", false, {true}, 1, true},
    };
    for (const Case& c : cases) {
        int names = 0, boxes = 0;
        CsvExportPrompts prompts;
        prompts.askFileName = [&] {
            ++names;
            return path;
        };
        prompts.askRetry = [&] {
            const bool retry = c.answers.at(static_cast<size_t>(boxes++));
            if (c.written) std::filesystem::create_directories(scratch.dir / "sub");
            return retry;
        };
        EXPECT_EQ(ExportDataset(&ds, c.locked, prompts), c.written) << c.what;
        EXPECT_EQ(names, c.locked ? 0 : 1) << c.what; // the dialog is shown once at most
        EXPECT_EQ(boxes, c.boxes) << c.what;
        EXPECT_EQ(std::filesystem::exists(path), c.written) << c.what;
    }
    EXPECT_EQ(ReadBytes(path), CsvText(ds));
    EXPECT_FALSE(ExportDataset(nullptr, false, CsvExportPrompts{}));
}

TEST(ExportDialog, TheOrderGridsMenuExportsTheListAndKeepsTheCurrentLeg) {
    test::TempDir dir;
    test::LocaleScope point{'.'};
    TForm3 form{test::PathsIn(dir), ""};
    form.resize(1280, 800);
    form.show();
    form.PageControl1->setCurrentWidget(form.TabSheet4);
    Desk& desk = form.DeskCore();
    const std::vector<BrokerItem> brokers = {{"1", true}, {"2", true}};
    for (double lots : {0.1, 0.25})
        desk.entry.OpenOrder(0, lots, 1, 3, 0.0002, brokers, 1, 0.0001, false, -0.0005, true);
    ClientDataSet& display = desk.orders.m_CDSOrderlisteAnzeige;
    ASSERT_EQ(display.RecordCount(), 4);
    display.SetRecNo(3);

    const std::string path = dir.File("orders.csv");
    WhenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_NE(d, nullptr);
        d->selectFile(QString::fromStdString(path));
        static_cast<QDialog*>(d)->accept();
    });
    form.DBSortGrid1->m_MenuItem->trigger();
    const std::string text = ReadBytes(path);
    EXPECT_EQ(text, CsvText(display));
    EXPECT_EQ(text.substr(0, 26), "No.; ID; ID2; OrderTime; A");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6); // header, empty line, four legs
    EXPECT_NE(text.find(";0,25;"), std::string::npos);        // a decimal comma under a point locale
    EXPECT_EQ(display.RecNo(), 3);
}
