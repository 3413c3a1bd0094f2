// The helper's request parser: a table of well-formed and broken requests, then many random
// and mutated byte strings fed whole and in pieces, as a fuzzer would. It must refuse every
// broken request, never read past what it was given (the sanitized build checks that), and
// say how far a request reaches only when the stream can go on after it.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/linux/scan/measure_protocol.hpp"

namespace packmeter::linuxfs::measure {
namespace {

using Outcome = ParseResult::Outcome;

std::vector<std::byte> WithHeader(std::uint32_t magic, std::uint16_t version, std::uint16_t kind,
                                  std::uint32_t count, std::uint32_t reserved,
                                  std::vector<std::uint64_t> inodes) {
    const Header header{magic, version, kind, count, reserved};
    std::vector<std::byte> bytes(sizeof header + inodes.size() * 8);
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!inodes.empty()) {
        std::memcpy(bytes.data() + sizeof header, inodes.data(), inodes.size() * 8);
    }
    return bytes;
}

TEST(MeasureProtocolTest, ParsesWellFormedRequestsAndRefusesAnythingElseWithoutCrashing) {
    const auto measure = static_cast<std::uint16_t>(Kind::kMeasure);
    const auto hello = static_cast<std::uint16_t>(Kind::kHello);
    struct Case {
        const char* what;
        std::vector<std::byte> bytes;
        Outcome outcome;
        Status status;
        bool fatal;
    };
    const Case cases[] = {
        {"hello", EncodeRequest(Kind::kHello, {}), Outcome::kComplete, Status::kOk, false},
        {"measure", EncodeRequest(Kind::kMeasure, std::vector<std::uint64_t>{257, 300, 1u << 31}),
         Outcome::kComplete, Status::kOk, false},
        {"short header", std::vector<std::byte>(15), Outcome::kNeedMore, Status::kOk, false},
        {"inodes still coming", WithHeader(kRequestMagic, kVersion, measure, 3, 0, {257, 258}),
         Outcome::kNeedMore, Status::kOk, false},
        {"bad magic", WithHeader(0x12345678, kVersion, measure, 1, 0, {257}), Outcome::kRefused,
         Status::kMalformed, true},
        {"other version", WithHeader(kRequestMagic, 2, measure, 1, 0, {257}), Outcome::kRefused,
         Status::kMalformed, true},
        {"unknown kind", WithHeader(kRequestMagic, kVersion, 7, 0, 0, {}), Outcome::kRefused,
         Status::kMalformed, true},
        {"reserved set", WithHeader(kRequestMagic, kVersion, measure, 1, 1, {257}),
         Outcome::kRefused, Status::kMalformed, true},
        {"hello with inodes", WithHeader(kRequestMagic, kVersion, hello, 1, 0, {257}),
         Outcome::kRefused, Status::kMalformed, true},
        {"too many", WithHeader(kRequestMagic, kVersion, measure, kMaxInodes + 1, 0, {}),
         Outcome::kRefused, Status::kTooLarge, true},
        {"largest count", WithHeader(kRequestMagic, kVersion, measure, 0xFFFFFFFF, 0, {}),
         Outcome::kRefused, Status::kTooLarge, true},
        {"unsorted", WithHeader(kRequestMagic, kVersion, measure, 2, 0, {300, 257}),
         Outcome::kRefused, Status::kMalformed, false},
        {"duplicate", WithHeader(kRequestMagic, kVersion, measure, 2, 0, {257, 257}),
         Outcome::kRefused, Status::kMalformed, false},
        {"inode 0", WithHeader(kRequestMagic, kVersion, measure, 1, 0, {0}), Outcome::kRefused,
         Status::kMalformed, false},
        {"nothing to measure", WithHeader(kRequestMagic, kVersion, measure, 0, 0, {}),
         Outcome::kRefused, Status::kMalformed, false},
    };
    for (const Case& c : cases) {
        Request request;
        const ParseResult result = ParseRequest(c.bytes, request);
        EXPECT_EQ(result.outcome, c.outcome) << c.what;
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_EQ(result.fatal, c.fatal) << c.what;
        if (result.outcome == Outcome::kComplete ||
            (result.outcome == Outcome::kRefused && !result.fatal)) {
            EXPECT_EQ(result.consumed, c.bytes.size()) << c.what;
        }
    }

    // Random bytes, and valid requests with random bytes changed, cut short or run together.
    std::mt19937_64 random(20261208);
    const auto valid = EncodeRequest(Kind::kMeasure, std::vector<std::uint64_t>{257, 260, 9000});
    for (int round = 0; round < 200000; ++round) {
        std::vector<std::byte> bytes;
        if (round % 3 == 0) {
            bytes.resize(random() % 64);
            for (std::byte& b : bytes) {
                b = static_cast<std::byte>(random());
            }
        } else {
            bytes = valid;
            if (round % 3 == 2) {
                bytes.insert(bytes.end(), valid.begin(), valid.end());
            }
            for (int flips = static_cast<int>(random() % 4); flips > 0; --flips) {
                bytes[random() % bytes.size()] ^= static_cast<std::byte>(1u << (random() % 8));
            }
            bytes.resize(random() % (bytes.size() + 1));
        }
        Request request;
        const ParseResult result = ParseRequest(bytes, request);
        ASSERT_LE(result.consumed, bytes.size());
        if (result.outcome == Outcome::kComplete) {
            ASSERT_EQ(result.consumed, kHeaderBytes + request.inodes.size() * 8);
            for (std::size_t i = 1; i < request.inodes.size(); ++i) {
                ASSERT_LT(request.inodes[i - 1], request.inodes[i]);
            }
            ASSERT_LE(request.inodes.size(), kMaxInodes);
        }
        if (result.outcome == Outcome::kRefused) {
            ASSERT_NE(result.status, Status::kOk);
        }
    }
}

}  // namespace
}  // namespace packmeter::linuxfs::measure
