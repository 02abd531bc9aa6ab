#pragma once
// Writing a result list out as text: tab-separated lines (fenwa-cli's default), CSV or
// JSON, in the list's order, each row with the number of its group. CSV and JSON also
// carry what a user decides between pictures by: the picture's size as shown, when it
// was taken and, in a list of similar pictures, how alike it is to its group's first.

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "filerecord.h"
#include "picturefacts.h"
#include "resultlist.h"

namespace fenwa {

enum class ExportFormat { Tsv, Csv, Json };

// "tsv", "csv" or "json".
std::optional<ExportFormat> exportFormatNamed(std::string_view name);

// A field as text: valid UTF-8 as it is, a backslash as "\\", tab, newline and carriage
// return as "\t", "\n" and "\r", any other control byte and every byte that is not part of
// valid UTF-8 as "\xHH". Every name then fits on one line without tabs, and the original
// bytes can always be recovered.
std::string escapeField(std::string_view bytes);
// escapeField onto the end of `out`.
void appendEscaped(std::string& out, std::string_view bytes);

// The group number (from 1) of every row: the group the search recorded, numbered in the
// order the groups first appear in the list; a row in no group (every row of a list of
// all files) is a group of its own.
std::vector<uint32_t> groupNumbers(const FileRecordStore& rows);

// Which rows a rule chose to delete, when the output tells: CSV and JSON then give each
// row a `selected` field after the time (before the picture fields), and TSV, only when
// asked, starts each line with a column that is "*" for a selected row and empty
// otherwise.
struct SelectionColumn {
    std::vector<bool> selected; // by row
    bool inTsv = false;
};

// Writes every row. TSV has no header and no group column (the five columns, as
// fenwa-cli has always printed them); CSV and JSON carry the group number too and, after
// every other column, the picture's width, height and time taken (through `facts`;
// empty, or null in JSON, for other files and without a reader) and its likeness in
// percent (empty or null where it was not measured).
void writeRows(const FileRecordStore& rows, ExportFormat format, std::FILE* out,
               const SelectionColumn* selection = nullptr, const PictureFactsRead& facts = {});
std::string rowsAsText(const FileRecordStore& rows, ExportFormat format,
                       const SelectionColumn* selection = nullptr,
                       const PictureFactsRead& facts = {});

} // namespace fenwa
