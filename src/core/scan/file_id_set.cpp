#include "core/scan/file_id_set.hpp"

#include <algorithm>

namespace packmeter {

namespace {

// File ids are mostly consecutive numbers: mixed first. The top bits pick the table, the low
// half the first slot to try, mapped onto the slots by a multiplication, which needs no
// power-of-two size.
std::uint64_t Mix(std::uint64_t id) {
    id ^= id >> 33;
    id *= 0xFF51AFD7ED558CCDull;
    id ^= id >> 33;
    id *= 0xC4CEB9FE1A85EC53ull;
    id ^= id >> 33;
    return id;
}

std::size_t Home(std::uint64_t hash, std::size_t capacity) {
    return static_cast<std::size_t>(((hash & 0xFFFFFFFFull) * capacity) >> 32);
}

void Place(std::vector<std::uint64_t>& ids, std::uint64_t id, std::uint64_t hash) {
    const std::size_t capacity = ids.size();
    std::size_t slot = Home(hash, capacity);
    while (ids[slot] != 0) {
        slot = slot + 1 == capacity ? 0 : slot + 1;
    }
    ids[slot] = id;
}

}  // namespace

bool FileIdSet::Insert(std::uint64_t id) {
    const std::uint64_t hash = Mix(id);
    Table& table = tables_[hash >> 59];
    static_assert(kTables == 32, "the top five bits of the hash pick the table");
    if ((table.count + 1) * 5 > table.ids.size() * 4) {
        Grow(table);
    }
    const std::size_t capacity = table.ids.size();
    for (std::size_t slot = Home(hash, capacity);; slot = slot + 1 == capacity ? 0 : slot + 1) {
        if (table.ids[slot] == id) {
            return false;
        }
        if (table.ids[slot] == 0) {
            table.ids[slot] = id;
            ++table.count;
            ++count_;
            return true;
        }
    }
}

void FileIdSet::Grow(Table& table) {
    std::vector<std::uint64_t> old;
    old.swap(table.ids);
    table.ids.assign(old.empty() ? 8 : old.size() + old.size() / 2, 0);
    const std::size_t oldBytes = old.size() * sizeof(std::uint64_t);
    bytes_ += table.ids.size() * sizeof(std::uint64_t);
    peakBytes_ = std::max(peakBytes_, bytes_);
    for (const std::uint64_t id : old) {
        if (id != 0) {
            Place(table.ids, id, Mix(id));
        }
    }
    bytes_ -= oldBytes;
}

}  // namespace packmeter
