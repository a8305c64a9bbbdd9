#pragma once
// The rows of a list handed on: tab-separated text for the clipboard and CSV
// for a file (RFC 4180), a header line first, CR LF after every line.
//
// Names come from other computers, so no cell may become a formula in the
// spreadsheet that opens the text: a cell that begins with =, +, -, @, a tab
// or a carriage return gets a single quote in front, which keeps it text.
// A cell that holds the separator, a double quote or a line break is put in
// double quotes, its own double quotes doubled.
#include <string>
#include <string_view>
#include <vector>

namespace corvane::views {

inline constexpr char kCsvSeparator = ',';
inline constexpr char kTextSeparator = '\t';
// Spreadsheets in Japanese read a CSV file as UTF-8 only with this in front.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// One cell as it is written between separators.
std::string ExportCell(std::string_view text, char separator);

// One line: the cells, separated, then CR LF.
void AppendExportLine(std::string& out, const std::vector<std::string>& cells, char separator);

}  // namespace corvane::views
