#include "core/scan/file_id_set.hpp"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>

#include "core/scan/folder_walk.hpp"

namespace packmeter {
namespace {

// Ids as file systems hand them out (consecutive, strided, random, high bits set), each met
// twice: the set agrees with a reference set and stays within 16 bytes per id, also while it
// grows.
TEST(FileIdSet, CountsEachIdOnceInAtMostSixteenBytesAnId) {
    std::mt19937_64 random(7);
    const std::vector<std::function<std::uint64_t(std::uint64_t)>> kinds = {
        [](std::uint64_t i) { return i + 1; },
        [](std::uint64_t i) { return (i + 1) << 16; },
        [&](std::uint64_t) { return random() | 1; },
        [](std::uint64_t i) { return ~i; },
    };
    for (const auto& id : kinds) {
        for (const std::uint64_t count : {1ull, 13ull, 1000ull, 200000ull}) {
            FileIdSet set;
            std::unordered_set<std::uint64_t> reference;
            std::vector<std::uint64_t> ids;
            for (std::uint64_t i = 0; i < count; ++i) {
                ids.push_back(id(i));
            }
            for (int pass = 0; pass < 2; ++pass) {
                for (const std::uint64_t value : ids) {
                    ASSERT_EQ(set.Insert(value), reference.insert(value).second) << value;
                }
            }
            EXPECT_EQ(set.Size(), reference.size());
            if (count >= 1000) {
                EXPECT_LE(set.Bytes(), 16 * count) << count;
                EXPECT_LE(set.PeakBytes(), 16 * count) << count;
            }
        }
    }
}

// What LinkedFiles counts: one-link files and files without an id always; others (a known
// link count above 1, or an unknown one: 0) once per volume and id.
TEST(FileIdSet, LinkedFilesCountAFileOncePerVolumeAndId) {
    struct Case {
        std::uint32_t links;
        std::uint64_t volume;
        std::uint64_t id;
        bool counted;
    };
    const Case cases[] = {
        {1, 5, 10, true},  {1, 5, 10, true}, {2, 5, 10, true},  {2, 5, 10, false},
        {0, 5, 10, false}, {0, 6, 10, true}, {3, 6, 10, false}, {0, 5, 0, true},
        {0, 5, 0, true},   {0, 5, 11, true}, {0, 5, 11, false}, {0, 7, 0, true},
    };
    LinkedFiles links;
    for (const Case& c : cases) {
        Entry entry;
        entry.regular = true;
        entry.links = c.links;
        entry.volumeId = c.volume;
        entry.fileId = c.id;
        EXPECT_EQ(links.CountOnce(entry), c.counted) << c.links << " " << c.volume << " " << c.id;
    }
    EXPECT_EQ(links.Size(), 3u);
}

}  // namespace
}  // namespace packmeter
