#include "core/exceptlog/byte_stream.hpp"

#include <fstream>

namespace packmeter {

std::string ReadWholeFile(const std::filesystem::path& file, bool* ok) {
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    std::string bytes;
    const auto size = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (size >= 0 && in.seekg(0)) {
        bytes.resize(static_cast<std::size_t>(size));
        in.read(bytes.data(), size);
        bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (ok) {
        *ok = size >= 0 && !in.bad() && bytes.size() == static_cast<std::size_t>(size);
    }
    return bytes;
}

namespace {

std::string Scrambled(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(static_cast<std::uint8_t>(c) ^ kFaultTextKey);
    }
    return out;
}

}  // namespace

void ByteWriter::Word(std::uint16_t value) {
    Byte(static_cast<std::uint8_t>(value));
    Byte(static_cast<std::uint8_t>(value >> 8));
}

void ByteWriter::UInt32(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        Byte(static_cast<std::uint8_t>(value >> shift));
    }
}

void ByteWriter::Int32(std::int32_t value) {
    UInt32(static_cast<std::uint32_t>(value));
}

void ByteWriter::Text(std::string_view text) {
    Int32(static_cast<std::int32_t>(text.size()));
    Raw(Scrambled(text));
}

void ByteWriter::ShortText(std::string_view text) {
    text = text.substr(0, 255);
    Byte(static_cast<std::uint8_t>(text.size()));
    Raw(Scrambled(text));
}

bool ByteReader::Take(std::size_t count, std::string_view& out) {
    if (failed_ || count > Remaining()) {
        failed_ = true;
        return false;
    }
    out = bytes_.substr(position_, count);
    position_ += count;
    return true;
}

bool ByteReader::Byte(std::uint8_t& value) {
    std::string_view b;
    if (!Take(1, b)) {
        return false;
    }
    value = static_cast<std::uint8_t>(b[0]);
    return true;
}

bool ByteReader::Word(std::uint16_t& value) {
    std::string_view b;
    if (!Take(2, b)) {
        return false;
    }
    value = static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[0]) |
                                       static_cast<std::uint8_t>(b[1]) << 8);
    return true;
}

bool ByteReader::UInt32(std::uint32_t& value) {
    std::string_view b;
    if (!Take(4, b)) {
        return false;
    }
    value = 0;
    for (int i = 3; i >= 0; --i) {
        value = value << 8 | static_cast<std::uint8_t>(b[i]);
    }
    return true;
}

bool ByteReader::Int32(std::int32_t& value) {
    std::uint32_t u = 0;
    if (!UInt32(u)) {
        return false;
    }
    value = static_cast<std::int32_t>(u);
    return true;
}

bool ByteReader::Raw(std::size_t count, std::string_view& out) {
    return Take(count, out);
}

bool ByteReader::Text(std::string& text) {
    std::int32_t length = 0;
    std::string_view b;
    if (!Int32(length) || length < 0 || !Take(static_cast<std::size_t>(length), b)) {
        failed_ = true;
        return false;
    }
    text = Scrambled(b);
    return true;
}

bool ByteReader::ShortText(std::string& text) {
    std::uint8_t length = 0;
    std::string_view b;
    if (!Byte(length) || !Take(length, b)) {
        return false;
    }
    text = Scrambled(b);
    return true;
}

}  // namespace packmeter
