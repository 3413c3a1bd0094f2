#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace packmeter::cli {

// Readers for the tool's machine formats, written from their documented rules and independent
// of the code that writes them, so a test can read back what a script would.

// The rows of TSV output after its heading line, each field with its escapes undone ("\\",
// "\t", "\n", "\r", "\xNN").
std::vector<std::vector<std::string>> ParseTsv(std::string_view text);

// A parsed JSON value; numbers are kept as their text.
struct JsonValue {
    enum class Type { kNull, kBool, kNumber, kString, kArray, kObject };
    Type type = Type::kNull;
    bool boolean = false;
    std::string text;  // a string's bytes or a number's digits
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member `key` of an object, or nullptr.
    const JsonValue* Find(std::string_view key) const;
};

// The whole text as one JSON value (RFC 8259: no raw control characters inside strings), or
// nothing when it is not valid JSON.
std::optional<JsonValue> ParseJson(std::string_view text);

// The bytes of standard, padded base64; nothing when the text is not base64.
std::optional<std::string> DecodeBase64(std::string_view text);

// The exact bytes of a JSON entry's name: its name_bytes when present, else its name.
std::string ExactName(const JsonValue& entry);

}  // namespace packmeter::cli
