#include "tests/cli/output_parsing.hpp"

#include <cstdint>

#include "core/utils/text.hpp"

namespace packmeter::cli {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string UnescapeTsv(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\' || i + 1 == field.size()) {
            out += field[i];
            continue;
        }
        const char next = field[++i];
        if (next == 't') {
            out += '\t';
        } else if (next == 'n') {
            out += '\n';
        } else if (next == 'r') {
            out += '\r';
        } else if (next == 'x' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 &&
                   HexDigit(field[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
            i += 2;
        } else {
            out += next;  // "\\" and anything unknown: the character itself
        }
    }
    return out;
}

class JsonReader {
  public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        auto value = Value();
        Blank();
        if (!value || at_ != text_.size()) {
            return std::nullopt;
        }
        return value;
    }

  private:
    void Blank() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' ||
                                      text_[at_] == '\r' || text_[at_] == '\t')) {
            ++at_;
        }
    }
    bool Take(char c) {
        Blank();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    std::optional<std::uint32_t> Hex4() {
        if (at_ + 4 > text_.size()) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = HexDigit(text_[at_++]);
            if (digit < 0) {
                return std::nullopt;
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return value;
    }

    std::optional<std::string> String() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return out;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return std::nullopt;
            }
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) {
                return std::nullopt;
            }
            const char e = text_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/':
                    out += e;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    auto code = Hex4();
                    if (!code) {
                        return std::nullopt;
                    }
                    if (*code >= 0xD800 && *code <= 0xDBFF) {
                        if (!Word("\\u")) {
                            return std::nullopt;
                        }
                        const auto low = Hex4();
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                            return std::nullopt;
                        }
                        *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
                    }
                    AppendUtf8(out, *code);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<JsonValue> Value() {
        Blank();
        if (at_ >= text_.size()) {
            return std::nullopt;
        }
        JsonValue value;
        const char c = text_[at_];
        if (c == '"') {
            auto text = String();
            if (!text) {
                return std::nullopt;
            }
            value.type = JsonValue::Type::kString;
            value.text = std::move(*text);
        } else if (c == '{') {
            ++at_;
            value.type = JsonValue::Type::kObject;
            if (Take('}')) {
                return value;
            }
            do {
                auto key = String();
                if (!key || !Take(':')) {
                    return std::nullopt;
                }
                auto member = Value();
                if (!member) {
                    return std::nullopt;
                }
                value.members.emplace_back(std::move(*key), std::move(*member));
            } while (Take(','));
            if (!Take('}')) {
                return std::nullopt;
            }
        } else if (c == '[') {
            ++at_;
            value.type = JsonValue::Type::kArray;
            if (Take(']')) {
                return value;
            }
            do {
                auto item = Value();
                if (!item) {
                    return std::nullopt;
                }
                value.items.push_back(std::move(*item));
            } while (Take(','));
            if (!Take(']')) {
                return std::nullopt;
            }
        } else if (Word("true") || Word("false")) {
            value.type = JsonValue::Type::kBool;
            value.boolean = c == 't';
        } else if (Word("null")) {
            value.type = JsonValue::Type::kNull;
        } else {
            const std::size_t start = at_;
            if (at_ < text_.size() && text_[at_] == '-') {
                ++at_;
            }
            while (at_ < text_.size() &&
                   ((text_[at_] >= '0' && text_[at_] <= '9') || text_[at_] == '.' ||
                    text_[at_] == 'e' || text_[at_] == 'E' || text_[at_] == '+')) {
                ++at_;
            }
            if (at_ == start) {
                return std::nullopt;
            }
            value.type = JsonValue::Type::kNumber;
            value.text = std::string(text_.substr(start, at_ - start));
        }
        return value;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

}  // namespace

std::vector<std::vector<std::string>> ParseTsv(std::string_view text) {
    std::vector<std::vector<std::string>> rows;
    bool heading = true;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (heading) {
            heading = false;
            continue;
        }
        std::vector<std::string> fields;
        for (std::size_t at = 0;;) {
            const std::size_t tab = line.find('\t', at);
            fields.push_back(UnescapeTsv(line.substr(at, tab - at)));
            if (tab == std::string_view::npos) {
                break;
            }
            at = tab + 1;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

const JsonValue* JsonValue::Find(std::string_view key) const {
    for (const auto& [name, value] : members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

std::optional<JsonValue> ParseJson(std::string_view text) {
    return JsonReader(text).Document();
}

std::optional<std::string> DecodeBase64(std::string_view text) {
    static constexpr std::string_view kDigits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t group = 0;
        int padding = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = text[i + k];
            std::size_t digit = 0;
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                ++padding;
            } else if ((digit = kDigits.find(c)) == std::string_view::npos || padding > 0) {
                return std::nullopt;
            }
            group = (group << 6) | static_cast<std::uint32_t>(c == '=' ? 0 : digit);
        }
        for (int k = 0; k < 3 - padding; ++k) {
            out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
        }
    }
    return out;
}

std::string ExactName(const JsonValue& entry) {
    if (const JsonValue* bytes = entry.Find("name_bytes")) {
        return DecodeBase64(bytes->text).value_or("(not base64: " + bytes->text + ")");
    }
    const JsonValue* name = entry.Find("name");
    return name ? name->text : "(no name)";
}

}  // namespace packmeter::cli
