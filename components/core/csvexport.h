#pragma once
// The semicolon-separated text export of a dataset.
//
// The file: the display names of all fields separated by "; ", an empty line, then one line per
// record in the cursor's order with the value text of every field separated by ";". Every line
// ends with CR LF; the text is Windows-1252 without a byte-order mark. An item that holds ";",
// a double quote, CR or LF is written in double quotes with every double quote inside doubled,
// so that it stays one item; every other item is written as it is.
//
// Value texts, whatever the locale: integers in decimal digits; reals in the general text of
// displayformat.h with a decimal comma (0.0002 is "0,0002", -12.5 is "-12,5"); Booleans "True"
// or "False"; date-times as "dd.mm.yyyy hh:nn:ss" with the locale's time separator, the date
// alone at midnight, the time alone on day 0 (30 December 1899); a null as nothing. The display
// format and text handlers of the fields play no part.
#include <string>
#include <string_view>

#include "platform/clientdataset.h"
#include "platform/files.h"

namespace quorvel {

// The item of a field type the export has no text for.
inline constexpr std::string_view kCsvInvalidValue = "{ung\xC3\xBCltig}";

// The value text of `field` for the current record (UTF-8, not quoted).
void AppendCsvValue(std::string& out, const Field& field);
std::string CsvValueText(const Field& field);
// Appends `text` (UTF-8) as one item in Windows-1252, in quotes when it needs them.
void AppendCsvItem(std::string& out, std::string_view text);

// Writes the export of `ds` to `put` in pieces of about 256 KiB. The cursor walks every record
// with its controls disabled and comes back to the record it was on; that holds also when the
// walk or `put` throws, and the error is passed on.
void WriteCsv(ClientDataSet& ds, const FilePieceWriter& put);
std::string CsvText(ClientDataSet& ds);

// What ExportCsvFile could not do.
class CsvCreateError : public FileError {
public:
    using FileError::FileError;
};

// Writes the export of `ds` to `path`: a temporary file beside the target is written and renamed
// over it only when complete. CsvCreateError when the file cannot be created (nothing written);
// FileError when a write fails afterwards and DataSetError from the walk. On any error the
// previous file stays as it was and no temporary file is left.
void ExportCsvFile(ClientDataSet& ds, const std::string& path);

} // namespace quorvel
