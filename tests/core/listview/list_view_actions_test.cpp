#include "core/listview/list_view_actions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace packmeter {
namespace {

struct Column {
    std::string caption;
    int width;
    bool right;
};

class MemoryList final : public ReportList {
  public:
    MemoryList(std::vector<Column> columns, std::vector<ListItem> rows, bool focused = false)
        : columns_(std::move(columns)), rows_(std::move(rows)), focused_(focused) {}
    int ColumnCount() const override { return int(columns_.size()); }
    std::string ColumnCaption(int c) const override { return columns_[std::size_t(c)].caption; }
    int ColumnWidth(int c) const override { return columns_[std::size_t(c)].width; }
    bool ColumnAlignedRight(int c) const override { return columns_[std::size_t(c)].right; }
    int ItemCount() const override { return int(rows_.size()); }
    const ListItem& Item(int row) const override { return rows_[std::size_t(row)]; }
    bool HasFocus() const override { return focused_; }

  private:
    std::vector<Column> columns_;
    std::vector<ListItem> rows_;
    bool focused_;
};

ListItem Row(std::string caption, std::vector<std::string> subItems) {
    ListItem item;
    item.caption = std::move(caption);
    item.subItems = std::move(subItems);
    return item;
}

const std::vector<Column> kMainColumns = {
    {"Name", 170, false}, {"Size", 70, true}, {"Compresed", 70, true}, {"Ratio", 40, true}};

// Every character 10 units wide, 12 in bold.
int Width(std::string_view text, const PrintFont& font) {
    return int(text.size()) * (font.bold ? 12 : 10);
}

TEST(ListCopyText, LinesFieldsAndSeparators) {
    struct Case {
        const char* name;
        std::vector<Column> columns;
        std::vector<ListItem> rows;
        std::string separator;
        bool header;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"empty list with header",
         kMainColumns,
         {},
         "\t",
         true,
         "Name\tSize\tCompresed\tRatio\r\n"},
        {"empty list without header", kMainColumns, {}, "\t", false, ""},
        {"main list rows",
         kMainColumns,
         {Row("docs", {"4882 KB", "2441 KB", "50 %"}), Row("a.txt", {"1 KB", "1 KB", "0 %"})},
         "\t",
         true,
         "Name\tSize\tCompresed\tRatio\r\ndocs\t4882 KB\t2441 KB\t50 %\r\n"
         "a.txt\t1 KB\t1 KB\t0 %\r\n"},
        {"separator of several characters",
         {{"A", 50, false}, {"B", 50, false}},
         {Row("x", {"y"})},
         " | ",
         true,
         "A | B\r\nx | y\r\n"},
        {"nothing quoted, fewer sub-items give a shorter line",
         kMainColumns,
         {Row("tab\there \"q\"", {"1 KB"}), Row("line\r\nbreak", {})},
         "\t",
         false,
         "tab\there \"q\"\t1 KB\r\nline\r\nbreak\r\n"},
        {"a narrow column is still copied",
         {{"Name", 100, false}, {"Hidden", 5, false}, {"Zero", 0, false}},
         {Row("n", {"h", "z"})},
         ",",
         true,
         "Name,Hidden,Zero\r\nn,h,z\r\n"},
    };
    for (const auto& c : cases) {
        const MemoryList list(c.columns, c.rows);
        EXPECT_EQ(ListCopyText(list, c.separator, c.header), c.expected) << c.name;
    }
}

// The text operations of a layout, as "anchor x,y text" lines, and the other operations.
std::vector<std::string> Describe(const std::vector<PrintOp>& ops) {
    std::vector<std::string> out;
    for (const auto& op : ops) {
        switch (op.kind) {
            case PrintOpKind::kNewPage:
                out.push_back("page");
                break;
            case PrintOpKind::kLine:
                out.push_back("line " + std::to_string(op.x) + "-" + std::to_string(op.x2) + "," +
                              std::to_string(op.y));
                break;
            case PrintOpKind::kText: {
                const char* anchor = op.anchor == TextAnchor::kLeft    ? "L"
                                     : op.anchor == TextAnchor::kRight ? "R"
                                                                       : "C";
                out.push_back(std::string(anchor) + (op.font.bold ? "b" : "") +
                              std::to_string(op.font.height) + " " + std::to_string(op.x) + "," +
                              std::to_string(op.y) + " " + op.text);
                break;
            }
        }
    }
    return out;
}

TEST(PrintLayout, PagesColumnsAlignmentAndShortening) {
    struct Case {
        const char* name;
        std::vector<Column> columns;
        std::vector<ListItem> rows;
        PrintPage page;
        std::string header;
        std::vector<std::string> expected;
    };
    const PrintPage a4{2000, 2870};
    const std::vector<Case> cases = {
        {"empty list: title, headings, rule, foot",
         {{"Name", 100, false}, {"Size", 50, true}},
         {},
         a4,
         "",
         {"Cb51 1000,100 ", "Lb34 200,157 Name", "Rb34 690,157 Size", "line 160-730,194",
          "L34 200,2670 Page 1", "R34 1600,2670 8.12.2026 05:50:00"}},
        {"numbers right, words left, a narrow column left out, a long name shortened",
         {{"Name", 30, false}, {"Tiny", 5, true}, {"Size", 40, true}, {"Ratio", 25, true}},
         {Row("short", {"t", "4882 KB", "37 %"}),
          Row("averyveryverylongname.txt", {"t", "n/a", ""}), Row("few", {})},
         a4,
         "Title",
         {"Cb51 1000,100 Title", "Lb34 200,157 Name", "Rb34 450,157 Size", "Rb34 565,157 Ratio",
          "line 160-605,194",
          // Row 1 at the first row's place: name left, size and ratio right at their ends.
          "L34 200,205 short", "R34 450,205 4882 KB", "R34 565,205 37 %",
          // Too wide for 90 units: two characters of the head, "..." and the last 6.
          "L34 200,243 av...me.txt", "L34 330,243 n/a", "L34 490,243 ",
          // Missing cells print empty.
          "L34 200,281 few", "L34 330,281 ", "L34 490,281 ", "L34 200,2670 Page 1",
          "R34 1600,2670 8.12.2026 05:50:00"}},
        {"two pages: title once, headings and foot on both",
         {{"Name", 30, false}},
         {Row("r0", {}), Row("r1", {}), Row("r2", {}), Row("r3", {}), Row("r4", {})},
         {1000, 600},
         "T",
         {"Cb51 500,100 T", "Lb34 200,157 Name", "line 160-330,194", "L34 200,205 r0",
          "L34 200,243 r1", "L34 200,281 r2", "L34 200,319 r3", "L34 200,400 Page 1",
          "R34 600,400 8.12.2026 05:50:00", "page", "Lb34 200,100 Name", "line 160-330,137",
          "L34 200,148 r4", "L34 200,400 Page 2", "R34 600,400 8.12.2026 05:50:00"}},
    };
    for (const auto& c : cases) {
        const MemoryList list(c.columns, c.rows);
        const auto ops = PrintLayout(list, {c.header, 34}, c.page, Width, "8.12.2026 05:50:00");
        EXPECT_EQ(Describe(ops), c.expected) << c.name;
    }
}

TEST(PrintLayout, FontHeightSetsTitleAndLineSteps) {
    const MemoryList list({{"N", 50, false}}, {Row("a", {}), Row("b", {})});
    // Title 60 + 30, step 90 + 11; line step 60 + 7.
    const auto ops = Describe(PrintLayout(list, {"H", 60}, {2000, 2870}, Width, "now"));
    EXPECT_EQ(ops[0], "Cb90 1000,100 H");
    EXPECT_EQ(ops[1], "Lb60 200,201 N");
    EXPECT_EQ(ops[2], "line 160-390,267");
    EXPECT_EQ(ops[3], "L60 200,278 a");
    EXPECT_EQ(ops[4], "L60 200,345 b");
}

class FakePrinter final : public ListPrinter {
  public:
    bool ShowDialog() override {
        log.push_back("dialog");
        return dialogAnswer;
    }
    bool BeginJob() override {
        log.push_back("begin");
        return jobBegins;
    }
    PrintPage Page() const override { return {2000, 2870}; }
    int TextWidth(std::string_view text, const PrintFont& font) const override {
        return Width(text, font);
    }
    std::string DateTimeText() const override { return "now"; }
    void Draw(const std::vector<PrintOp>& ops) override {
        log.push_back("draw " + std::to_string(ops.size()));
    }

    bool dialogAnswer = true;
    bool jobBegins = true;
    std::vector<std::string> log;
};

TEST(ListViewActions, DefaultsTargetsAndExecution) {
    const TListViewAction base;
    EXPECT_EQ(base.hint, "Copy the list Content to the Clipboard");
    const TListViewCopy copy;
    EXPECT_EQ(copy.caption, "&Copy List to Clipboard");
    EXPECT_EQ(copy.seperator, "\t");
    EXPECT_TRUE(copy.includeHeader);
    const TListViewPrint print;
    EXPECT_EQ(print.caption, "&Print List");
    EXPECT_EQ(print.hint, "Print the contents of this list");
    EXPECT_EQ(print.header, "");
    EXPECT_EQ(print.fontHeight, 34);
    EXPECT_FALSE(print.showPrintDialog);

    MemoryList focused({{"N", 50, false}}, {Row("f", {})}, true);
    MemoryList unfocused({{"N", 50, false}}, {Row("u", {})}, false);
    struct Case {
        const char* name;
        ReportList* listView;
        ReportList* target;
        bool handles;
        bool enabled;
        std::string copied;  // "-": nothing copied
    };
    const std::vector<Case> cases = {
        {"no list, no target", nullptr, nullptr, false, false, "-"},
        {"focused list offered", nullptr, &focused, true, true, "N\r\nf\r\n"},
        {"unfocused list offered", nullptr, &unfocused, false, true, "N\r\nu\r\n"},
        {"ListView set wins over the target", &unfocused, &focused, true, true, "N\r\nu\r\n"},
        {"ListView set, nothing offered", &unfocused, nullptr, true, false, "N\r\nu\r\n"},
    };
    for (const auto& c : cases) {
        TListViewCopy action;
        action.SetListView(c.listView);
        EXPECT_EQ(action.HandlesTarget(c.target), c.handles) << c.name;
        action.UpdateTarget(c.target);
        EXPECT_EQ(action.enabled, c.enabled) << c.name;
        std::string copied = "-";
        action.Execute(c.target, [&](const std::string& text) { copied = text; });
        EXPECT_EQ(copied, c.copied) << c.name;
    }

    // The list's destruction clears ListView; the action then needs a focused target.
    TListViewPrint printAction;
    auto doomed = std::make_unique<MemoryList>(std::vector<Column>{{"N", 50, false}},
                                               std::vector<ListItem>{});
    printAction.SetListView(doomed.get());
    doomed.reset();
    EXPECT_EQ(printAction.ListView(), nullptr);
    EXPECT_FALSE(printAction.HandlesTarget(nullptr));
    {
        // An action that goes first leaves the list nothing to notify.
        MemoryList list({{"N", 50, false}}, {});
        auto early = std::make_unique<TListViewCopy>();
        early->SetListView(&list);
        early.reset();
    }

    struct PrintCase {
        const char* name;
        bool showDialog;
        bool dialogAnswer;
        bool jobBegins;
        std::vector<std::string> log;
        int beforePrint;
    };
    const std::vector<PrintCase> printCases = {
        {"straight to the printer", false, false, true, {"begin", "draw 6"}, 1},
        {"dialog confirmed", true, true, true, {"dialog", "begin", "draw 6"}, 1},
        {"dialog cancelled", true, false, true, {"dialog"}, 0},
        {"no job", false, true, false, {"begin"}, 0},
    };
    for (const auto& c : printCases) {
        FakePrinter printer;
        printer.dialogAnswer = c.dialogAnswer;
        printer.jobBegins = c.jobBegins;
        TListViewPrint action;
        action.showPrintDialog = c.showDialog;
        int before = 0;
        action.onBeforePrint = [&](const ReportList& list) {
            EXPECT_EQ(&list, &focused);
            EXPECT_EQ(printer.log.back(), "begin");
            ++before;
        };
        action.Execute(&focused, printer);
        EXPECT_EQ(printer.log, c.log) << c.name;
        EXPECT_EQ(before, c.beforePrint) << c.name;
    }
    FakePrinter idle;
    TListViewPrint nothing;
    nothing.Execute(nullptr, idle);
    EXPECT_TRUE(idle.log.empty());
}

}  // namespace
}  // namespace packmeter
