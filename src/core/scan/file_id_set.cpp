#include "core/scan/file_id_set.hpp"

namespace packmeter {

std::size_t FileIdSet::Home(std::uint64_t id, std::size_t capacity) {
    // File ids are mostly consecutive numbers: mixed first, then mapped onto the slots by a
    // multiplication, which needs no power-of-two size.
    id ^= id >> 33;
    id *= 0xFF51AFD7ED558CCDull;
    id ^= id >> 33;
    id *= 0xC4CEB9FE1A85EC53ull;
    id ^= id >> 33;
    return static_cast<std::size_t>(((id >> 32) * static_cast<std::uint64_t>(capacity)) >> 32);
}

bool FileIdSet::Insert(std::uint64_t id) {
    if ((count_ + 1) * 5 > slots_.size() * 4) {
        Grow();
    }
    const std::size_t capacity = slots_.size();
    for (std::size_t slot = Home(id, capacity);; slot = slot + 1 == capacity ? 0 : slot + 1) {
        if (slots_[slot] == id) {
            return false;
        }
        if (slots_[slot] == 0) {
            slots_[slot] = id;
            ++count_;
            return true;
        }
    }
}

void FileIdSet::Grow() {
    std::vector<std::uint64_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 16 : old.size() + old.size() / 2, 0);
    const std::size_t capacity = slots_.size();
    for (const std::uint64_t id : old) {
        if (id == 0) {
            continue;
        }
        std::size_t slot = Home(id, capacity);
        while (slots_[slot] != 0) {
            slot = slot + 1 == capacity ? 0 : slot + 1;
        }
        slots_[slot] = id;
    }
}

}  // namespace packmeter
