#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/listview/print_layout.hpp"
#include "core/listview/report_list.hpp"

namespace packmeter {

// A command that works on a report list: the list named by ListView, or else the focused report
// list the toolkit offers as its target.
class TListViewAction {
  public:
    TListViewAction();
    TListViewAction(const TListViewAction&) = delete;
    TListViewAction& operator=(const TListViewAction&) = delete;
    virtual ~TListViewAction();

    ReportList* ListView() const { return listView_; }
    void SetListView(ReportList* list);

    std::string caption;
    std::string hint;
    int imageIndex = -1;
    bool enabled = true;
    bool visible = true;

    // Whether the action takes `target` (the control with the input focus, when it is a report
    // list; nullptr otherwise).
    bool HandlesTarget(const ReportList* target) const;
    // Enabled exactly when a report list is offered.
    void UpdateTarget(const ReportList* target) { enabled = target != nullptr; }
    // The list an execution works on: ListView, or else `target`.
    ReportList* ListFor(ReportList* target) const { return listView_ ? listView_ : target; }
    // `list` is going away.
    void Notification(const ReportList* list);

  private:
    ReportList* listView_ = nullptr;
};

// The list as text: an optional line of column captions, then one line per row (caption and
// every sub-item), fields joined by `separator`, every line ended by CR LF. Nothing is quoted.
std::string ListCopyText(const ReportList& list, std::string_view separator, bool includeHeader);
// The same text for the columns `captions` and the rows `rows` only.
std::string RowsCopyText(const std::vector<std::string>& captions,
                         const std::vector<const ListItem*>& rows, std::string_view separator,
                         bool includeHeader);

// Puts the whole list on the clipboard as plain text.
class TListViewCopy final : public TListViewAction {
  public:
    TListViewCopy();

    std::string seperator = "\t";
    bool includeHeader = true;

    // Hands the text of the list that `target` resolves to to `setClipboardText`.
    void Execute(ReportList* target,
                 const std::function<void(const std::string&)>& setClipboardText);
};

// The printer as the print command drives it.
class ListPrinter {
  public:
    virtual ~ListPrinter() = default;
    // The print dialog; false when the user cancels it.
    virtual bool ShowDialog() = 0;
    // Begins a job on the current printer; false when none could be begun.
    virtual bool BeginJob() = 0;
    // The printable area, in tenths of a millimetre.
    virtual PrintPage Page() const = 0;
    virtual int TextWidth(std::string_view text, const PrintFont& font) const = 0;
    // The date and time of the page foot, in the user's short date and long time formats.
    virtual std::string DateTimeText() const = 0;
    // Draws the job's pages and ends the job.
    virtual void Draw(const std::vector<PrintOp>& ops) = 0;
};

// Prints the list as a paginated table.
class TListViewPrint final : public TListViewAction {
  public:
    TListViewPrint();

    std::string header;
    int fontHeight = 34;
    bool showPrintDialog = false;
    // Raised once per job, after it has begun, with the list printed.
    std::function<void(const ReportList&)> onBeforePrint;

    void Execute(ReportList* target, ListPrinter& printer);
};

}  // namespace packmeter
