#include "components/ExportDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "components/core/csvexport.h"

namespace quorvel {

namespace {
// The save dialog refuses a file in a folder that does not exist: it says so and stays open.
class CsvSaveDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList files = selectedFiles();
        if (!files.isEmpty()) {
            const QFileInfo file(files.constFirst());
            if (!file.isDir() && !QFileInfo(file.absolutePath()).isDir()) {
                auto* box =
                    new QMessageBox(QMessageBox::Warning, windowTitle(),
                                    QString::fromUtf8("Der Ordner \u201e%1\u201c ist nicht vorhanden.")
                                        .arg(QDir::toNativeSeparators(file.absolutePath())),
                                    QMessageBox::Ok, this);
                box->setAttribute(Qt::WA_DeleteOnClose);
                box->open();
                return;
            }
        }
        QFileDialog::accept();
    }
};
} // namespace

QFileDialog* CreateCsvSaveDialog(QWidget* parent) {
    auto* dialog = new CsvSaveDialog(parent);
    // Our own dialog, so that the folder is checked wherever the desk runs.
    dialog->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog->setWindowTitle(QString::fromUtf8("Datens\u00e4tze im CSV-Format speichern"));
    dialog->setNameFilter(QStringLiteral("CSV (Trennzeichen getrennt) (*.csv)"));
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog->setOption(QFileDialog::ReadOnly, false);
    return dialog;
}

QMessageBox* CreateCsvErrorBox() {
    // No parent: the box stands in the middle of the screen.
    auto* box = new QMessageBox(QMessageBox::Critical, QString(),
                                QString::fromUtf8("Fehler beim anlegen der Datei!\n\nM\u00f6glicherweise ist "
                                                  "die Datei gerade in Bearbeitung."),
                                QMessageBox::Abort | QMessageBox::Retry);
    box->setDefaultButton(QMessageBox::Abort);
    box->setEscapeButton(QMessageBox::Abort);
    return box;
}

CsvExportPrompts CsvExportDialogs(QWidget* parent) {
    CsvExportPrompts p;
    p.askFileName = [parent] {
        QFileDialog* dialog = CreateCsvSaveDialog(parent);
        std::string name;
        if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty())
            name = dialog->selectedFiles().constFirst().toStdString();
        delete dialog;
        return name;
    };
    p.askRetry = [] {
        QMessageBox* box = CreateCsvErrorBox();
        box->exec();
        const bool retry = box->clickedButton() == box->button(QMessageBox::Retry);
        delete box;
        return retry;
    };
    return p;
}

bool ExportDataset(ClientDataSet* dataSet, bool exportLocked, const CsvExportPrompts& prompts) {
    if (!dataSet || exportLocked) return false;
    const std::string path = prompts.askFileName();
    if (path.empty()) return false;
    for (;;) {
        try {
            ExportCsvFile(*dataSet, path);
            return true;
        } catch (const CsvCreateError&) {
            if (!prompts.askRetry()) return false;
        }
    }
}

bool ExportDataset(QWidget* parent, ClientDataSet* dataSet, bool exportLocked) {
    if (!dataSet || exportLocked) return false;
    return ExportDataset(dataSet, exportLocked, CsvExportDialogs(parent));
}

} // namespace quorvel
