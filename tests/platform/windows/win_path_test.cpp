#include "utils/win_path.hpp"

#include <windows.h>

#include <gtest/gtest.h>

#include "utils/text.hpp"

namespace packmeter::win {
namespace {

TEST(WideText, NamesRoundTripExactly) {
    const std::wstring names[] = {
        L"plain.txt",
        L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC",  // Greek
        L"\u6F22\u5B57\u30D5\u30A9\u30EB\u30C0",              // CJK
        L"\U0001F4E6 box",                                    // a surrogate pair
        std::wstring(L"lone\xD800", 5),                       // NTFS allows unpaired halves
        std::wstring(L"\xDC00tail", 5),
    };
    for (const std::wstring& name : names) {
        EXPECT_EQ(ToWide(ToUtf8(name)), name);
    }
    EXPECT_EQ(ToUtf8(L"\u0395\u6F22\U0001F4E6"), "\xCE\x95\xE6\xBC\xA2\xF0\x9F\x93\xA6");
    // An unpaired half is no valid UTF-8: the display shows replacement characters instead.
    EXPECT_EQ(ToDisplayText(ToUtf8(std::wstring(L"a\xD800", 2))),
              "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(WideText, BytesThatAreNoUtf8BecomeReplacementCharacters) {
    EXPECT_EQ(ToWide("a\xFF"
                     "b"),
              L"a\uFFFDb");
    EXPECT_EQ(ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");                     // overlong
    EXPECT_EQ(ToWide("x\xE6\xBC"), L"x\uFFFD\uFFFD");                   // cut short
    EXPECT_EQ(ToWide("\xF4\x90\x80\x80"), std::wstring(4, L'\uFFFD'));  // beyond U+10FFFF
}

std::wstring CurrentFolder() {
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(length, L'\0');
    folder.resize(::GetCurrentDirectoryW(length, folder.data()));
    return folder;
}

TEST(LongPath, EveryFormBecomesAbsoluteWithoutLengthLimit) {
    EXPECT_EQ(LongPath(L"C:\\data\\x"), L"\\\\?\\C:\\data\\x");
    EXPECT_EQ(LongPath(L"C:/data/./old/../x\\"), L"\\\\?\\C:\\data\\x\\");
    EXPECT_EQ(LongPath(L"\\\\server\\share\\dir"), L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(LongPath(L"\\\\?\\C:\\kept\\..\\as is"), L"\\\\?\\C:\\kept\\..\\as is");
    EXPECT_EQ(LongPath(L"\\\\.\\C:"), L"\\\\.\\C:");
    std::wstring current = CurrentFolder();
    if (current.back() != L'\\') {
        current += L'\\';
    }
    EXPECT_EQ(LongPath(L"sub\\x"), L"\\\\?\\" + current + L"sub\\x");
    const std::wstring deep = L"C:\\" + std::wstring(400, L'd') + L"\\f";
    EXPECT_EQ(LongPath(deep), L"\\\\?\\" + deep);
}

TEST(LongPath, PlainPathUndoesIt) {
    for (const std::wstring path : {L"C:\\data\\x", L"\\\\server\\share\\dir\\", L"C:\\"}) {
        EXPECT_EQ(PlainPath(LongPath(path)), path);
    }
}

TEST(LongPath, VolumeRootOfDrivesAndShares) {
    std::wstring current = CurrentFolder();
    EXPECT_EQ(VolumeRoot(L"sub\\file"), current.substr(0, 3));
    EXPECT_EQ(VolumeRoot(current.substr(0, 2)), current.substr(0, 3));
    EXPECT_EQ(VolumeRoot(L"\\\\server\\share\\dir\\file"), L"\\\\server\\share\\");
}

}  // namespace
}  // namespace packmeter::win
