#pragma once

#include <string>
#include <vector>

#include "core/fs/filesystem.hpp"
#include "core/scan/entry_row.hpp"

namespace packmeter::cli {

enum class Format { kTable, kTsv, kJson };

// Everything one command prints: the folder, its volume, totals (when measured) and rows.
struct Report {
    std::string folder;  // with trailing separator
    VolumeInfo volume;
    bool hasTotals = false;
    ScanTotals totals;
    std::vector<EntryRow> rows;
};

std::string RenderTable(const Report& report);
// The list as it is copied: a heading line, then one tab-separated line per row.
std::string RenderTsv(const Report& report);
std::string RenderJson(const Report& report);
std::string Render(const Report& report, Format format);

// The text as a JSON string literal (quotes included).
std::string JsonString(const std::string& text);

}  // namespace packmeter::cli
