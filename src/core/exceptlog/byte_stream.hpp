#pragma once

// Little-endian byte streams for the logger's stored blocks: the option stream, the data block
// and the debug-information block all use these integer and text encodings.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace packmeter {

// Every byte of a stored text is XORed with this key.
inline constexpr std::uint8_t kFaultTextKey = 0xA5;

// Every byte of a file (a program image of many megabytes), read in one block; empty, with
// `ok` false when given, when the file cannot be opened or read.
std::string ReadWholeFile(const std::filesystem::path& file, bool* ok = nullptr);

class ByteWriter {
  public:
    void Byte(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void Word(std::uint16_t value);
    void Int32(std::int32_t value);
    void UInt32(std::uint32_t value);
    void Raw(std::string_view bytes) { bytes_.append(bytes); }
    // int32 length, then the bytes XORed with the key.
    void Text(std::string_view text);
    // 1-byte length, then the bytes XORed with the key; longer texts are cut at 255 bytes.
    void ShortText(std::string_view text);

    const std::string& Bytes() const { return bytes_; }
    std::string Take() { return std::move(bytes_); }

  private:
    std::string bytes_;
};

// Reads from a borrowed buffer. A read past the end fails, sets Failed() and leaves the target
// untouched; every later read fails too, so a caller may check once at the end.
class ByteReader {
  public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

    bool Byte(std::uint8_t& value);
    bool Word(std::uint16_t& value);
    bool Int32(std::int32_t& value);
    bool UInt32(std::uint32_t& value);
    bool Raw(std::size_t count, std::string_view& out);
    bool Text(std::string& text);
    bool ShortText(std::string& text);

    bool Failed() const { return failed_; }
    std::size_t Position() const { return position_; }
    std::size_t Remaining() const { return bytes_.size() - position_; }

  private:
    bool Take(std::size_t count, std::string_view& out);

    std::string_view bytes_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace packmeter
