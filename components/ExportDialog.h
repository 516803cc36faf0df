#pragma once
// The grid's export to a semicolon-separated file: the save dialog that asks for the file, the
// error box shown when the file cannot be created, and the export that runs between them.
#include <functional>
#include <string>

class QFileDialog;
class QMessageBox;
class QWidget;

namespace quorvel {

class ClientDataSet;

// The save dialog: title "Datensätze im CSV-Format speichern", the one filter
// "CSV (Trennzeichen getrennt) (*.csv)", default suffix "csv" (appended to a name without
// one), asks before an existing file is overwritten, refuses a name in a folder that does not
// exist (a warning says so and the dialog stays open); no initial file name or folder.
QFileDialog* CreateCsvSaveDialog(QWidget* parent);

// The error box: error icon, "Fehler beim anlegen der Datei!" and "Möglicherweise ist die Datei
// gerade in Bearbeitung." with an empty line between them, the buttons Abort and Retry, centred
// on the screen. Escape and closing the box answer Abort.
QMessageBox* CreateCsvErrorBox();

// What the export asks the user.
struct CsvExportPrompts {
    // The chosen file name, or empty text when the dialog was cancelled.
    std::function<std::string()> askFileName;
    // Whether to try again after the file could not be created.
    std::function<bool()> askRetry;
};
// The dialog and the box above, each shown modally.
CsvExportPrompts CsvExportDialogs(QWidget* parent);

// Exports `dataSet`: nothing happens without a dataset or when its export is locked; else the
// file name is asked for (cancelled: nothing is written) and the export is written to a
// temporary file renamed over the chosen one. When the file cannot be created the error box
// asks; Retry tries the same name again, Abort ends without a file. Returns whether the file
// was written. A failing write after the file was created, and an error of the dataset, are
// passed on (the previous file stays as it was).
bool ExportDataset(ClientDataSet* dataSet, bool exportLocked, const CsvExportPrompts& prompts);
bool ExportDataset(QWidget* parent, ClientDataSet* dataSet, bool exportLocked = false);

} // namespace quorvel
