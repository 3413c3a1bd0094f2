#include "platform/windows/utils/win_path.hpp"

#include <windows.h>

#include <gtest/gtest.h>

namespace packmeter::win {
namespace {

TEST(WideText, NamesRoundTripExactlyAndBadBytesBecomeReplacements) {
    const std::wstring names[] = {
        L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u6F22\u5B57",  // Greek, CJK
        L"\U0001F4E6 box",                                     // a surrogate pair
        std::wstring(L"lone\xD800", 5),                        // NTFS allows unpaired halves
        std::wstring(L"\xDC00tail", 5),
    };
    for (const std::wstring& name : names) {
        EXPECT_EQ(ToWide(ToUtf8(name)), name);
    }
    EXPECT_EQ(ToUtf8(L"\u0395\u6F22\U0001F4E6"), "\xCE\x95\xE6\xBC\xA2\xF0\x9F\x93\xA6");
    EXPECT_EQ(ToWide("a\xFF"
                     "b"),
              L"a\uFFFDb");
    EXPECT_EQ(ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");                     // overlong
    EXPECT_EQ(ToWide("x\xE6\xBC"), L"x\uFFFD\uFFFD");                   // cut short
    EXPECT_EQ(ToWide("\xF4\x90\x80\x80"), std::wstring(4, L'\uFFFD'));  // beyond U+10FFFF
}

TEST(LongPath, EveryFormBecomesAbsoluteWithoutLengthLimitAndBack) {
    EXPECT_EQ(LongPath(L"C:/data/./old/../x\\"), L"\\\\?\\C:\\data\\x\\");
    EXPECT_EQ(LongPath(L"\\\\server\\share\\dir"), L"\\\\?\\UNC\\server\\share\\dir");
    EXPECT_EQ(LongPath(L"\\\\?\\C:\\kept\\..\\as is"), L"\\\\?\\C:\\kept\\..\\as is");
    const std::wstring deep = L"C:\\" + std::wstring(400, L'd') + L"\\f";
    EXPECT_EQ(LongPath(deep), L"\\\\?\\" + deep);
    std::wstring current(::GetCurrentDirectoryW(0, nullptr), L'\0');
    current.resize(::GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
    EXPECT_EQ(LongPath(L"sub"),
              L"\\\\?\\" + current + (current.back() == L'\\' ? L"" : L"\\") + L"sub");
    for (const std::wstring path : {L"C:\\data\\x", L"\\\\server\\share\\dir\\", L"C:\\"}) {
        EXPECT_EQ(PlainPath(LongPath(path)), path);
    }

    EXPECT_EQ(VolumeRoot(L"sub\\file"), current.substr(0, 3));
    EXPECT_EQ(VolumeRoot(L"\\\\server\\share\\dir\\file"), L"\\\\server\\share\\");
}

}  // namespace
}  // namespace packmeter::win
