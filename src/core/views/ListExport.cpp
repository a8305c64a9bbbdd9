#include "core/views/ListExport.h"

namespace corvane::views {

std::string ExportCell(std::string_view text, char separator) {
    std::string cell;
    cell.reserve(text.size() + 3);
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@' ||
                          text[0] == '\t' || text[0] == '\r'))
        cell += '\'';
    cell += text;
    if (cell.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string::npos) return cell;
    std::string quoted = "\"";
    for (char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

void AppendExportLine(std::string& out, const std::vector<std::string>& cells, char separator) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        if (i) out += separator;
        out += ExportCell(cells[i], separator);
    }
    out += "\r\n";
}

}  // namespace corvane::views
