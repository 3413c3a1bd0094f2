#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "cli/cli_commands.hpp"
#include "cli/cli_main.hpp"
#include "cli/cli_output.hpp"
#include "core/app/list_order.hpp"
#include "core/utils/text.hpp"
#include "core/utils/version.hpp"
#include "tests/cli/output_parsing.hpp"

namespace packmeter::cli {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr bool kPosix = false;  // Windows allows no control characters, no raw bytes in names
#else
constexpr bool kPosix = true;
#endif
constexpr bool kTabName = kPosix;

// A name's UTF-8 bytes as a path: on Windows converted to UTF-16, elsewhere the bytes themselves.
fs::path NativeName(const std::string& name) {
    if constexpr (kPosix) {
        return name;
    } else {
        return std::u8string(name.begin(), name.end());
    }
}

class CapturingTerminal : public Terminal {
  public:
    bool Out(const std::string& text) override {
        out += text;
        return true;
    }
    void Err(const std::string& text) override { err += text; }
    bool ErrIsInteractive() const override { return false; }
    std::string out;
    std::string err;
};

// A real folder with a sub-folder and two files, removed afterwards.
class CliOnRealFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("packmeter-cli-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "sub");
        Write(root_ / "sub" / "inner.bin", 300000);
        Write(root_ / "a.txt", 5000);
        if (kTabName) {
            Write(root_ / "tab\there", 10);
        }
    }
    void TearDown() override { fs::remove_all(root_); }

    static void Write(const fs::path& path, std::size_t bytes) {
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
    }
    int Run(std::vector<std::string> args) {
        terminal_ = {};
        return RunCli(args, terminal_);
    }
    std::string Root() const { return root_.string(); }

    fs::path root_;
    CapturingTerminal terminal_;
};

TEST_F(CliOnRealFolder, TsvIsTheListAsCopied) {
    ASSERT_EQ(Run({"--format", "tsv", Root()}), 0);
    const std::string& out = terminal_.out;
    EXPECT_EQ(out.rfind("Name\tSize\tCompresed\tRatio\n", 0), 0u);
    EXPECT_NE(out.find("sub\t292 KB\t292 KB\t0 %\n"), std::string::npos);
    EXPECT_NE(out.find("a.txt\t4 KB\t4 KB\t0 %\n"), std::string::npos);
    // Folders come before files.
    EXPECT_LT(out.find("sub\t"), out.find("a.txt\t"));
    EXPECT_EQ(out.find('\r'), std::string::npos);
}

TEST_F(CliOnRealFolder, JsonCarriesBytesAndTexts) {
    ASSERT_EQ(Run({"--format=json", Root()}), 0);
    const std::string& out = terminal_.out;
    const std::string total = kTabName ? "305010" : "305000";
    EXPECT_NE(out.find("\"size\": " + total + ", \"on_disk\": " + total +
                       ", \"ratio\": 0, \"size_text\": \"298 KB\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"unreadable\": 0}"), std::string::npos);
    EXPECT_EQ(out.find("\"name\": \"tab\\there\"") != std::string::npos, kTabName);
    EXPECT_NE(out.find("{\"name\": \"sub\", \"folder\": true, \"size\": 300000"),
              std::string::npos);
    EXPECT_NE(out.find("\"kind\": \"folder\", \"unreadable\": false}"), std::string::npos);
    EXPECT_NE(out.find("\"kind\": \"file\", \"unreadable\": false}"), std::string::npos);
    EXPECT_NE(out.find("\"folder\": " +
                       JsonString(Root() + std::string(1, fs::path::preferred_separator))),
              std::string::npos);
}

TEST_F(CliOnRealFolder, TableShowsTotalsVolumeAndAlignedRows) {
    ASSERT_EQ(Run({Root()}), 0);
    const std::string& out = terminal_.out;
    EXPECT_NE(out.find("Size:        " + std::string("298 KB") + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Ratio:       0 %\n"), std::string::npos);
    EXPECT_NE(out.find("File System: "), std::string::npos);
    EXPECT_EQ(out.find("Unreadable:"), std::string::npos);
    // The heading and every row end in the same column: sizes and ratios are right-aligned.
    const std::string table = out.substr(out.find("Name "));
    std::size_t width = std::string::npos;
    for (std::size_t at = 0; at < table.size();) {
        const std::size_t end = table.find('\n', at);
        const std::size_t length = end - at;
        if (width == std::string::npos) {
            width = length;
        }
        EXPECT_EQ(length, width) << table.substr(at, length);
        at = end + 1;
    }
    EXPECT_NE(table.find(std::string("sub") + kPathSeparator + " "), std::string::npos);
}

// Every option and every kind of bad input, with its exit code and where it answers.
TEST_F(CliOnRealFolder, OptionsAnswerWithTheirExitCodes) {
    const std::string root = Root();
    const std::string separator(1, kPathSeparator);
    const struct {
        std::vector<std::string> args;
        int exit;
        std::string out;  // found in stdout ("" for no stdout at all when failing)
        std::string err;  // found in stderr ("" for an empty stderr)
    } cases[] = {
        {{"--help"}, 0, "Exit status:\n  0  success", ""},
        {{"-h"}, 0, "usage: packmeter-cli [OPTION]... [--] [FOLDER]\n", ""},
        {{"--help", "--bogus"}, 0, "--sort COLUMN", ""},
        {{"/?"}, kPosix ? 2 : 0, kPosix ? "" : "usage:", kPosix ? "no such folder" : ""},
        {{"--version"},
         0,
         std::string("packmeter-cli (Packmeter) ") + kProductVersion + "\nFile version " +
             kFileVersion + "\n",
         ""},
        {{root}, 0, "Path:        " + root + separator + "\n", ""},
        {{"--format", "table", root}, 0, "Name ", ""},
        {{"--format", "tsv", root}, 0, "Name\tSize\tCompresed\tRatio\n", ""},
        {{"--format=json", root}, 0, "\"entries\": [", ""},
        {{"--sort", "name", root}, 0, "Name ", ""},
        {{"--sort=compressed", "--reverse", root}, 0, "Name ", ""},
        {{root, "--sort", "ratio"}, 0, "Name ", ""},
        {{"--reverse", "--format", "tsv", root}, 0, "a.txt\t", ""},
        {{"--format", "xml", root}, 2, "", "unknown format 'xml': use table, tsv or json"},
        {{"--format"}, 2, "", "--format needs a value"},
        {{"--sort", "colour", root}, 2, "", "unknown column 'colour'"},
        {{"--sort"}, 2, "", "--sort needs a value"},
        {{"--bogus"}, 2, "", "unknown option '--bogus'\nusage:"},
        {{"-x\x1b[2J"}, 2, "", "unknown option '-x\\x1b[2J'"},
        {{root, root}, 2, "", "one folder at a time"},
        {{"compress"}, 2, "", "compress needs at least one path"},
        {{"decompress", "--"}, 2, "", "decompress needs at least one path"},
        {{root + separator + "does-not-exist"}, 2, "", "does-not-exist: no such folder"},
        {{root + separator + "a.txt"}, 2, "", "a.txt: not a folder"},
        // Option values in any case; on Windows "/help" is the help too.
        {{"--format", "TSV", root}, 0, "Name\tSize\tCompresed\tRatio\n", ""},
        {{"--sort=Ratio", "--format=Json", root}, 0, "\"entries\": [", ""},
        {{"/help"}, kPosix ? 2 : 0, kPosix ? "" : "usage:", kPosix ? "no such folder" : ""},
        {{""}, 2, "", ": no such folder"},
        {{"--", "--format"}, 2, "", "--format: no such folder"},
        {{"--format=json", "estimate", root}, 0, "\"forecast_on_disk\": ", ""},
        {{"estimate", "--algorithm", "zstd:16", root}, 2, "", "unknown algorithm 'zstd:16'"},
        {{"--quick", root}, 2, "", "--quick is for estimate"},
        {{"estimate", "--min-saving", "5", root}, 2, "", "--min-saving is for compress"},
        {{"compress", "--min-saving", "150", root}, 2, "", "a percentage from 0 to 100"},
    };
    for (const auto& c : cases) {
        const std::string shown = ::testing::PrintToString(c.args);
        EXPECT_EQ(Run(c.args), c.exit) << shown << "\n" << terminal_.err;
        if (c.out.empty()) {
            EXPECT_EQ(terminal_.out, "") << shown;
        } else {
            EXPECT_NE(terminal_.out.find(c.out), std::string::npos) << shown << terminal_.out;
        }
        if (c.err.empty()) {
            EXPECT_EQ(terminal_.err, "") << shown;
        } else {
            EXPECT_NE(terminal_.err.find(c.err), std::string::npos) << shown << terminal_.err;
        }
    }
}

// After "--" every argument is a path, even one that looks like an option.
TEST_F(CliOnRealFolder, FolderNamedLikeAnOptionAfterTheEndOfOptions) {
    fs::create_directories(root_ / "--format");
    Write(root_ / "--format" / "inside.txt", 2048);
    const fs::path before = fs::current_path();
    fs::current_path(root_);
    const int exit = Run({"--format", "tsv", "--", "--format"});
    fs::current_path(before);
    EXPECT_EQ(exit, 0) << terminal_.err;
    EXPECT_EQ(terminal_.out, "Name\tSize\tCompresed\tRatio\ninside.txt\t2 KB\t2 KB\t0 %\n");
}

// The rows in the order of the window's header clicks: sizes by unit letter first, then by the
// number shown; names without regard to case, files before folders.
TEST_F(CliOnRealFolder, SortFollowsTheWindowsOrder) {
    Write(root_ / "k9000.bin", 9000 * 1024);
    Write(root_ / "K900.bin", 900 * 1024);
    Write(root_ / "k20.bin", 20 * 1024);
    { std::ofstream big(root_ / "Big.bin", std::ios::binary); }
    fs::resize_file(root_ / "Big.bin", 12 * 1024 * 1024);  // "12 MB": above 9000 KB
    std::vector<std::string> bySize = {"Big.bin", "k9000.bin", "K900.bin",
                                       "sub",     "k20.bin",   "a.txt"};
    std::vector<std::string> byName = {"a.txt",    "Big.bin",   "k20.bin",
                                       "K900.bin", "k9000.bin", "sub"};
    if (kTabName) {
        bySize.push_back("tab\there");
        byName.insert(byName.end() - 1, "tab\there");
    }
    const auto names = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--format", "tsv", Root()});
        EXPECT_EQ(Run(args), 0) << terminal_.err;
        std::vector<std::string> result;
        for (const auto& fields : ParseTsv(terminal_.out)) {
            result.push_back(fields.front());
        }
        return result;
    };
    EXPECT_EQ(names({"--sort", "size", "--reverse"}), bySize);
    std::reverse(bySize.begin(), bySize.end());
    EXPECT_EQ(names({"--sort", "size"}), bySize);
    EXPECT_EQ(names({"--sort", "name"}), byName);
    std::reverse(byName.begin(), byName.end());
    EXPECT_EQ(names({"--reverse", "--sort=name"}), byName);
    std::vector<std::string> listed = names({});
    std::reverse(listed.begin(), listed.end());
    EXPECT_EQ(names({"--reverse"}), listed);
}

// A report longer than one block goes out in blocks of whole lines, the same bytes in every
// format; the first write that fails ends the output with exit code 2 and one message.
TEST_F(CliOnRealFolder, LongReportsGoOutInWholeLinesAndStopAtTheFirstFailedWrite) {
    for (int i = 0; i < 3000; ++i) {
        std::ofstream(root_ / ("file-with-a-longer-name-" + std::to_string(i) + ".txt"));
    }
    class BlockTerminal : public CapturingTerminal {
      public:
        bool Out(const std::string& text) override {
            ++writes;
            if (writes == failAt) {
                return false;
            }
            EXPECT_EQ(text.back(), '\n');
            return CapturingTerminal::Out(text);
        }
        int writes = 0;
        int failAt = 0;
    };
    for (const char* format : {"table", "tsv", "json"}) {
        BlockTerminal whole;
        ASSERT_EQ(RunCli({"--format", format, Root()}, whole), 0) << format;
        EXPECT_GT(whole.writes, 1) << format;
        EXPECT_NE(whole.out.find("file-with-a-longer-name-2999.txt"), std::string::npos);
        if (std::string(format) == "json") {
            EXPECT_TRUE(ParseJson(whole.out)) << "not valid JSON";
        } else if (std::string(format) == "tsv") {
            EXPECT_EQ(ParseTsv(whole.out).size(), kTabName ? 3003u : 3002u);
        }
        BlockTerminal failing;
        failing.failAt = 2;
        EXPECT_EQ(RunCli({"--format", format, Root()}, failing), 2) << format;
        EXPECT_EQ(failing.writes, 2) << format;
        EXPECT_EQ(failing.err, "packmeter-cli: cannot write the output\n") << format;
    }
}

// Names that would fool a terminal or split a line, through every format: the table shows them
// escaped, and TSV and JSON give back the exact bytes.
TEST_F(CliOnRealFolder, HostileNamesSurviveEveryFormat) {
    const struct {
        std::string name;
        std::string inTable;
        bool posixOnly;
    } cases[] = {
        {"esc\x1b]0;title\x07", "esc\\x1b]0;title\\x07", true},
        {"csi\x1b[31mred", "csi\\x1b[31mred", true},
        {"tab\there", "tab\\x09here", true},
        {"line\nfeed", "line\\x0afeed", true},
        {"carriage\rreturn", "carriage\\x0dreturn", true},
        {"back\\slash", "back\\slash", true},
        {"\\x1b", "\\x1b", true},  // the escape's own text: TSV keeps it apart from ESC
        {"a\xff", "a\\xff", true},
        {"a\xfe", "a\\xfe", true},
        {"c1\xc2\x9b", "c1\\u009b", true},
        {"quote\"d", "quote\"d", true},
        {"\xe2\x80\xaetxt.exe", "\\u202etxt.exe", false},
        {"\xce\xb1\xce\xb2 \xe6\xbc\xa2", "\xce\xb1\xce\xb2 \xe6\xbc\xa2", false},
    };
    fs::remove_all(root_);
    fs::create_directories(root_);
    std::set<std::string> expected;
    for (const auto& c : cases) {
        if (c.posixOnly && !kPosix) {
            continue;
        }
        expected.insert(c.name);
        Write(root_ / NativeName(c.name), 1);
    }
    const std::string folder = kPosix ? "dir\x1b[0m\xff" : "dir \xe2\x80\xae";
    fs::create_directories(root_ / NativeName(folder));
    expected.insert(folder);

    ASSERT_EQ(Run({Root()}), 0);
    const std::string table = terminal_.out;
    for (const auto& c : cases) {
        if (!c.posixOnly || kPosix) {
            EXPECT_NE(table.find("\n" + c.inTable + " "), std::string::npos) << c.inTable;
        }
    }
    EXPECT_NE(table.find(kPosix ? "\ndir\\x1b[0m\\xff/ " : "\ndir \\u202e\\ "), std::string::npos)
        << table;
    EXPECT_TRUE(IsValidUtf8(table));
    for (const char c : table) {
        EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F))
            << "control byte " << int(c) << " in the table";
    }
    EXPECT_EQ(table.find("\xc2\x9b"), std::string::npos);
    EXPECT_EQ(table.find("\xe2\x80\xae"), std::string::npos);

    ASSERT_EQ(Run({"--format", "tsv", Root()}), 0);
    const auto rows = ParseTsv(terminal_.out);
    std::set<std::string> fromTsv;
    for (const auto& fields : rows) {
        ASSERT_EQ(fields.size(), 4u) << terminal_.out;
        fromTsv.insert(fields.front());
    }
    EXPECT_EQ(rows.size(), expected.size());
    EXPECT_EQ(fromTsv, expected);
    EXPECT_TRUE(IsValidUtf8(terminal_.out));
    EXPECT_EQ(terminal_.out.find("\xc2\x9b"), std::string::npos);

    ASSERT_EQ(Run({"--format", "json", Root()}), 0);
    EXPECT_TRUE(IsValidUtf8(terminal_.out));
    const auto json = ParseJson(terminal_.out);
    ASSERT_TRUE(json && json->Find("entries")) << terminal_.out;
    std::set<std::string> fromJson;
    for (const JsonValue& entry : json->Find("entries")->items) {
        const std::string exact = ExactName(entry);
        fromJson.insert(exact);
        // The name is the display text; the bytes come along only where it is not the name.
        EXPECT_EQ(entry.Find("name")->text, ToDisplayText(exact));
        EXPECT_EQ(entry.Find("name_bytes") != nullptr, !IsValidUtf8(exact)) << exact;
    }
    EXPECT_EQ(json->Find("entries")->items.size(), expected.size());
    EXPECT_EQ(fromJson, expected);
    EXPECT_EQ(ParseJson(terminal_.out)->Find("folder")->text,
              ToDisplayText(Root()) + kPathSeparator);

    // Messages name paths the same way: no control character or bidi mark reaches stderr.
    const std::string gone = Root() + kPathSeparator + "gone\x1b]0;T\x07\xe2\x80\xae\xc2\x9b";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"compress", gone}, std::vector<std::string>{"decompress", gone},
          std::vector<std::string>{gone}}) {
        EXPECT_EQ(Run(args), 2);
        EXPECT_NE(terminal_.err.find("gone\\x1b]0;T\\x07\\u202e\\u009b"), std::string::npos)
            << terminal_.err;
        EXPECT_EQ(terminal_.err.find_first_of("\x1b\x07"), std::string::npos) << terminal_.err;
        EXPECT_EQ(terminal_.err.find("\xe2\x80\xae"), std::string::npos) << terminal_.err;
    }
}

#ifdef _WIN32
// A drive root, written as a user may write it, is switched as the folder it is or refused with
// the real reason; never "no such file or folder" with an empty folder line.
TEST_F(CliOnRealFolder, DriveRootsAreSwitchedOrRefusedWithTheRealReason) {
    // A drive of its own on the test's folder, so that the root holds only the test's files;
    // where such a drive cannot be made (Wine), the system drive, but only when its volume
    // cannot compress, so that the command is refused before it touches anything.
    wchar_t drive[] = L"P:";
    for (const DWORD used = ::GetLogicalDrives();
         drive[0] < L'Z' && (used >> (drive[0] - L'A')) & 1; ++drive[0]) {
    }
    const bool defined =
        ::DefineDosDeviceW(0, drive, root_.wstring().c_str()) &&
        ::GetFileAttributesW((std::wstring(drive) + L"\\").c_str()) != INVALID_FILE_ATTRIBUTES;
    const struct Undefine {
        const wchar_t* name;
        ~Undefine() { ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, name, nullptr); }
    } undefine{drive};
    if (!defined) {
        wchar_t windows[MAX_PATH] = {};
        DWORD flags = 0;
        ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 2u);
        drive[0] = windows[0];
        ASSERT_TRUE(::GetVolumeInformationW((std::wstring(drive) + L"\\").c_str(), nullptr, 0,
                                            nullptr, nullptr, &flags, nullptr, 0));
        if (flags & FILE_FILE_COMPRESSION) {
            GTEST_SKIP() << "no drive of the test's own, and the system drive compresses";
        }
    }
    const std::string letter(1, static_cast<char>(drive[0]));
    for (const std::string& root :
         {letter + ":\\", "\\\\?\\" + letter + ":\\", letter + ":\\sub\\..\\"}) {
        SCOPED_TRACE(root);
        const int status = Run({"--format", "json", "decompress", root});
        EXPECT_EQ(terminal_.err.find("no such file"), std::string::npos) << terminal_.err;
        if (status == 0) {
            const auto json = ParseJson(terminal_.out);
            ASSERT_TRUE(json && json->Find("folder")) << terminal_.out;
            EXPECT_EQ(json->Find("folder")->text, letter + ":\\");
            EXPECT_EQ(json->Find("entries")->items.size(), 2u);
        } else {
            // A volume that cannot compress (every volume under Wine): said once, nothing more.
            EXPECT_EQ(status, 1);
            EXPECT_NE(terminal_.err.find(letter + ":\\: cannot decompress: the file system ("),
                      std::string::npos)
                << terminal_.err;
            EXPECT_EQ(terminal_.out, "");
        }
    }
}
#endif

// The tool sorts its rows as the window sorts its list (ListCompare over the rows' list items),
// for every column and both directions, ties and names that are not UTF-8 included.
TEST(RowOrder, IsTheWindowsOrderForEveryColumn) {
    const struct {
        const char* name;
        bool folder;
        std::int64_t size;
        std::int64_t onDisk;
    } cases[] = {
        {"b.txt", false, 9000 * 1024, 100},  {"B.txt", false, 9000 * 1024 + 5, 200},
        {"a", true, 12 << 20, 12 << 20},     {"bad\xff", false, 0, 0},
        {"bad\xfe", false, 4096, 8192},      {"bad\xef\xbf\xbd", true, 20 << 20, 1 << 20},
        {"Zeta", false, 1024, 512},          {"zeta", true, 1024, 512},
        {"", false, 10001 * 1024, 10 << 20}, {"\xc3\xa9t\xc3\xa9", false, 300, 100},
    };
    EntryRows rows;
    std::vector<ListItem> items;
    for (const auto& c : cases) {
        rows.push_back(MakeEntryRow(c.name, -1, c.folder, false, c.size, c.onDisk));
        items.push_back(EntryItem(MakeEntryRow(c.name, -1, c.folder, false, c.size, c.onDisk)));
    }
    for (const int column : {kNameColumn, kSizeColumn, kCompressedColumn, kRatioColumn, 7}) {
        for (const bool descending : {false, true}) {
            const std::vector<std::size_t> window =
                SortedOrder(items, [&](const ListItem& a, const ListItem& b) {
                    return ListCompare(a, b, column, descending ? soDescending : soAscending);
                });
            EXPECT_EQ(RowOrder(rows, column, descending), window) << column << descending;
        }
    }
}

TEST(JsonString, EscapesEveryControlAndStaysValid) {
    EXPECT_EQ(JsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\n\\u0001\"");
    EXPECT_EQ(JsonString("\xce\xb1"), "\"\xce\xb1\"");
    EXPECT_EQ(JsonString("\x1b[0m\x7f\t\r\x1f"), "\"\\u001b[0m\\u007f\\t\\r\\u001f\"");
    EXPECT_EQ(JsonString("a\xff"), "\"a\xef\xbf\xbd\"");
    EXPECT_EQ(JsonString("p\xe2\x80\xa8q\xe2\x80\xa9"), "\"p\\u2028q\\u2029\"");
    for (int c = 0; c < 0x20; ++c) {
        const std::string text = JsonString(std::string(1, static_cast<char>(c)));
        const auto parsed = ParseJson(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_EQ(parsed->text, std::string(1, static_cast<char>(c))) << text;
    }
}

TEST(DisplayColumns, WideCharactersTakeTwoColumnsAndCombiningMarksNone) {
    const struct {
        std::string text;
        std::size_t columns;
    } cases[] = {
        {"abc", 3},
        {"\xce\xa9\xce\xbc\xce\xad", 3},      // Greek: one each
        {"\xe6\x96\x87\xe4\xbb\xb6.txt", 8},  // CJK: two each
        {"\xf0\x9f\x93\x81 a", 4},            // an emoji takes two
        {"e\xcc\x81", 1},                     // e and a combining accent
        {"\xed\x95\x9c\xea\xb8\x80", 4},      // Hangul
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cli::DisplayColumns(c.text), c.columns) << c.text;
    }
}

TEST(Base64, MatchesTheStandardAlphabetAndPadding) {
    EXPECT_EQ(Base64(""), "");
    EXPECT_EQ(Base64("f"), "Zg==");
    EXPECT_EQ(Base64("fo"), "Zm8=");
    EXPECT_EQ(Base64("foo"), "Zm9v");
    EXPECT_EQ(Base64("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64("a\xff"), "Yf8=");
    EXPECT_EQ(Base64("\xfb\xff\xbf"), "+/+/");
}

}  // namespace
}  // namespace packmeter::cli
