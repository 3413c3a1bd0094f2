#include "platform/windows/utils/win_path.hpp"

#include <windows.h>

#include <cstdint>

#include "core/utils/text.hpp"

namespace packmeter::win {

namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char32_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendUtf16(std::wstring& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<wchar_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    }
}

// Decodes the sequence at the start of `s`: its code point and length, or length 0 when the bytes
// begin no sequence. Surrogates are accepted in 3-byte form (see ToUtf8).
struct Decoded {
    char32_t point = 0;
    std::size_t length = 0;
};

Decoded DecodeUtf8(std::string_view s) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(s[i]); };
    const std::uint8_t b0 = byte(0);
    if (b0 < 0x80) {
        return {b0, 1};
    }
    std::size_t length = 0;
    char32_t point = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        point = b0 & 0x1F;
        minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        point = b0 & 0x0F;
        minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        point = b0 & 0x07;
        minimum = 0x10000;
    } else {
        return {};
    }
    if (s.size() < length) {
        return {};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return {};
        }
        point = (point << 6) | (byte(i) & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF) {
        return {};
    }
    return {point, length};
}

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsDrivePath(std::wstring_view path) {
    return path.size() >= 3 && path[1] == L':' && path[2] == L'\\' &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// The lexical volume root of a long path: "\\?\C:\" or "\\?\UNC\server\share\".
std::wstring LexicalRoot(std::wstring_view path) {
    if (StartsWith(path, kLongUncPrefix)) {
        const auto server = path.find(L'\\', kLongUncPrefix.size());
        if (server == std::wstring_view::npos) {
            return {};
        }
        const auto share = path.find(L'\\', server + 1);
        if (share == std::wstring_view::npos) {
            return std::wstring(path) + L'\\';
        }
        return std::wstring(path.substr(0, share + 1));
    }
    if (StartsWith(path, kLongPrefix) && IsDrivePath(path.substr(kLongPrefix.size()))) {
        return std::wstring(path.substr(0, kLongPrefix.size() + 3));
    }
    return {};
}

}  // namespace

std::string ToUtf8(std::wstring_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = static_cast<char16_t>(wide[i]);
        if (IsHighSurrogate(c) && i + 1 < wide.size() &&
            IsLowSurrogate(static_cast<char16_t>(wide[i + 1]))) {
            c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char16_t>(wide[i + 1]) - 0xDC00);
            ++i;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::wstring ToWide(std::string_view utf8) {
    std::wstring out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        const Decoded decoded = DecodeUtf8(utf8);
        if (decoded.length == 0) {
            AppendUtf16(out, kReplacement);
            utf8.remove_prefix(1);
        } else {
            AppendUtf16(out, decoded.point);
            utf8.remove_prefix(decoded.length);
        }
    }
    return out;
}

std::wstring FullPathName(const std::wstring& given) {
    if (given.empty()) {
        return given;
    }
    // A bare drive ("C:") stands for its root, not for the current folder of that drive.
    const std::wstring path =
        IsDrivePath(given + L'\\') && given.size() == 2 ? given + L'\\' : given;
    std::wstring full(path.size() + 16, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            return path;
        }
        if (length < full.size()) {
            full.resize(length);
            return full;
        }
        // Too small: the length asked for counts the terminating null.
        full.resize(length);
    }
}

std::wstring LongPath(const std::wstring& path) {
    if (StartsWith(path, kLongPrefix) || StartsWith(path, kDevicePrefix)) {
        return path;
    }
    const std::wstring full = FullPathName(path);
    if (StartsWith(full, L"\\\\")) {
        return std::wstring(kLongUncPrefix) + full.substr(2);
    }
    if (IsDrivePath(full)) {
        return std::wstring(kLongPrefix) + full;
    }
    return full;
}

std::wstring PlainPath(std::wstring_view path) {
    if (StartsWith(path, kLongUncPrefix)) {
        return L"\\\\" + std::wstring(path.substr(kLongUncPrefix.size()));
    }
    if (StartsWith(path, kLongPrefix)) {
        return std::wstring(path.substr(kLongPrefix.size()));
    }
    return std::wstring(path);
}

std::wstring VolumeRoot(const std::wstring& path) {
    const std::wstring longPath = LongPath(path);
    // The volume path is a leading part of the path, so the path's length bounds it.
    std::wstring root(longPath.size() + 2, L'\0');
    if (::GetVolumePathNameW(longPath.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        root.resize(root.find(L'\0'));
    } else {
        root = LexicalRoot(longPath);
    }
    if (root.empty()) {
        return root;
    }
    root = PlainPath(root);
    if (root.back() != L'\\') {
        root += L'\\';
    }
    return root;
}

}  // namespace packmeter::win
