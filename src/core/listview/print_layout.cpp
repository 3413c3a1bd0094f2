#include "core/listview/print_layout.hpp"

#include "core/utils/text.hpp"

namespace packmeter {

namespace {

constexpr int kLeft = 200;
constexpr int kTop = 100;
constexpr int kColumnGap = 40;
constexpr int kRuleLeft = 160;
constexpr int kLeastColumnPixels = 6;
constexpr int kUnitsPerPixel = 3;

class FontMeasure final : public TextMeasure {
  public:
    FontMeasure(const PrintTextWidth& width, const PrintFont& font) : width_(width), font_(font) {}
    int TextWidth(std::string_view text) const override { return width_(text, font_); }

  private:
    const PrintTextWidth& width_;
    PrintFont font_;
};

class Layout {
  public:
    Layout(const ReportList& list, const PrintSettings& settings, const PrintPage& page,
           const PrintTextWidth& width, const std::string& dateTime)
        : list_(list), page_(page), width_(width), dateTime_(dateTime) {
        const int height = settings.fontHeight;
        body_ = {false, height};
        bold_ = {true, height};
        title_ = {true, height + height / 2};
        line_ = height + height / 8;
    }

    std::vector<PrintOp> Run(const std::string& header) {
        int y = kTop;
        Text(header, page_.width / 2, y, TextAnchor::kCentre, title_);
        y += title_.height + title_.height / 8;
        y = Headings(y);
        const int bottom = page_.height - 100;
        int pageNumber = 1;
        for (int i = 0; i < list_.ItemCount(); ++i) {
            int x = kLeft;
            if (i > 0) {
                y += line_;
            }
            if (y > bottom - 180) {
                Foot(pageNumber);
                PrintOp page;
                page.kind = PrintOpKind::kNewPage;
                ops_.push_back(std::move(page));
                ++pageNumber;
                y = Headings(kTop);
            }
            const ListItem& item = list_.Item(i);
            for (int c = 0; c < list_.ColumnCount(); ++c) {
                const int w = list_.ColumnWidth(c);
                if (w < kLeastColumnPixels) {
                    continue;
                }
                const int span = kUnitsPerPixel * w;
                const std::string text = ColumnText(item, c);
                const std::string shown = Shorten(text, span, body_);
                if (c > 0 && !text.empty() && text[0] >= '0' && text[0] <= '9') {
                    Text(shown, x + span, y, TextAnchor::kRight, body_);
                } else {
                    Text(shown, x, y, TextAnchor::kLeft, body_);
                }
                x += span + kColumnGap;
            }
        }
        Foot(pageNumber);
        return std::move(ops_);
    }

  private:
    // The column headings at `y`, in bold, with a rule under them; the y of the first row.
    int Headings(int y) {
        int x = kLeft;
        for (int c = 0; c < list_.ColumnCount(); ++c) {
            const int w = list_.ColumnWidth(c);
            if (w < kLeastColumnPixels) {
                continue;
            }
            const int span = kUnitsPerPixel * w;
            const std::string caption = list_.ColumnCaption(c);
            if (list_.ColumnAlignedRight(c)) {
                Text(Shorten(caption, span, bold_), x + span, y, TextAnchor::kRight, bold_);
            } else {
                Text(caption, x, y, TextAnchor::kLeft, bold_);
            }
            x += span + kColumnGap;
        }
        y += line_;
        PrintOp rule;
        rule.kind = PrintOpKind::kLine;
        rule.x = kRuleLeft;
        rule.y = y - 1;
        rule.x2 = x;
        ops_.push_back(std::move(rule));
        return y + 10;
    }

    void Foot(int pageNumber) {
        const int y = page_.height - 200;
        Text("Page " + std::to_string(pageNumber), kLeft, y, TextAnchor::kLeft, body_);
        Text(dateTime_, page_.width - 400, y, TextAnchor::kRight, body_);
    }

    std::string Shorten(const std::string& text, int span, const PrintFont& font) const {
        return ShortenText(text, FontMeasure(width_, font), span);
    }

    void Text(std::string text, int x, int y, TextAnchor anchor, const PrintFont& font) {
        PrintOp op;
        op.kind = PrintOpKind::kText;
        op.x = x;
        op.y = y;
        op.text = std::move(text);
        op.anchor = anchor;
        op.font = font;
        ops_.push_back(std::move(op));
    }

    const ReportList& list_;
    const PrintPage& page_;
    const PrintTextWidth& width_;
    const std::string& dateTime_;
    PrintFont body_;
    PrintFont bold_;
    PrintFont title_;
    int line_ = 0;
    std::vector<PrintOp> ops_;
};

}  // namespace

std::vector<PrintOp> PrintLayout(const ReportList& list, const PrintSettings& settings,
                                 const PrintPage& page, const PrintTextWidth& width,
                                 const std::string& dateTime) {
    return Layout(list, settings, page, width, dateTime).Run(settings.header);
}

}  // namespace packmeter
