#include "core/app/row_hint.hpp"

namespace packmeter {

namespace {

std::string Entries(std::int64_t count) {
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

}  // namespace

std::string RowHint(const EntryRow& row) {
    std::string hint;
    switch (row.kind) {
        case EntryKind::kLink:
            hint = "A link: not followed, counted as 0 bytes.";
            break;
        case EntryKind::kMount:
            hint = "A mount point: another volume, not entered, counted as 0 bytes.";
            break;
        case EntryKind::kSpecial:
            hint = "A device, pipe or socket: counted as 0 bytes.";
            break;
        case EntryKind::kPlain:
            break;
    }
    if (row.unreadable > 0) {
        if (!hint.empty()) {
            hint += ' ';
        }
        // A row whose only unreadable entry is itself could not be read at all.
        const bool itself = row.unreadable == 1 && row.size == 0 && row.onDisk == 0;
        hint += itself ? std::string(row.IsFolder() ? "This folder" : "This entry") +
                             " could not be read; its sizes are unknown."
                       : Entries(row.unreadable) + " in it could not be read; the sizes leave " +
                             (row.unreadable == 1 ? "it" : "them") + " out.";
    }
    return hint;
}

std::string UnreadableNotice(std::int64_t count) {
    if (count <= 0) {
        return {};
    }
    return Entries(count) + " could not be read; the sizes leave " + (count == 1 ? "it" : "them") +
           " out";
}

}  // namespace packmeter
