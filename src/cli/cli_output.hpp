#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
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
    EntryRows rows;
    // The volume of each row, when the rows do not all lie on volumes like `volume` (a
    // compression command given paths on several file systems); empty otherwise.
    std::vector<VolumeInfo> rowVolumes;
};

// Text on its way to standard output, handed to `write` in blocks of whole lines, so that the
// report of a million rows is never held as one text. After a failed write the rest is dropped.
class OutputText {
  public:
    using Write = std::function<bool(const std::string& block)>;
    explicit OutputText(Write write) : write_(std::move(write)) {}
    OutputText& operator+=(std::string_view text) {
        text_ += text;
        return *this;
    }
    // Called at the end of a line: writes the block once it is large.
    void LineEnd() {
        if (text_.size() >= kBlock) {
            Flush();
        }
    }
    // Writes what is left; false when any write failed.
    bool Flush();

  private:
    static constexpr std::size_t kBlock = 64 * 1024;
    Write write_;
    std::string text_;
    bool ok_ = true;
};

// For people: names with their control characters escaped, folders marked with a trailing
// separator, links, mount points and entries that could not be read marked in brackets.
void RenderTable(const Report& report, OutputText& out);
// The list as it is copied (a heading line, then one tab-separated line per row), with the names
// escaped so that every line is one row and the exact bytes can be read back (TsvField).
void RenderTsv(const Report& report, OutputText& out);
void RenderJson(const Report& report, OutputText& out);
void Render(const Report& report, Format format, OutputText& out);

// The totals by compression algorithm as a table: "Type Perc Disk Usage Uncompressed
// Referenced", a TOTAL line, then one line per algorithm, in bytes; the form btrfs users know
// from their tools. Nothing when the file system told no algorithm.
std::string RenderAlgorithmTable(const ScanTotals& totals);

// The text as a JSON string literal (quotes included): every control character escaped, bytes
// that are not valid UTF-8 replaced by U+FFFD, so the result is always valid JSON.
std::string JsonString(std::string_view text);

// A name as a TSV field: backslash, tab, line feed and carriage return as "\\", "\t", "\n", "\r";
// every other control byte, the two bytes of a C1 control (U+0080..U+009F) and every byte that
// does not begin well-formed UTF-8 as "\xNN".
std::string TsvField(std::string_view bytes);

// The bytes in base64 (the standard alphabet, padded).
std::string Base64(std::string_view bytes);

// The terminal columns UTF-8 text takes (text as the table shows it: valid UTF-8).
std::size_t DisplayColumns(const std::string& text);

}  // namespace packmeter::cli
