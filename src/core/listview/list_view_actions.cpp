#include "core/listview/list_view_actions.hpp"

#include <algorithm>

namespace packmeter {

ReportList::~ReportList() {
    // Each action takes itself out of the list as it lets go.
    while (!watchers_.empty()) {
        watchers_.back()->Notification(this);
    }
}

TListViewAction::TListViewAction() : hint("Copy the list Content to the Clipboard") {}

TListViewAction::~TListViewAction() {
    SetListView(nullptr);
}

void TListViewAction::SetListView(ReportList* list) {
    if (list == listView_) {
        return;
    }
    if (listView_) {
        auto& watchers = listView_->watchers_;
        watchers.erase(std::remove(watchers.begin(), watchers.end(), this), watchers.end());
    }
    listView_ = list;
    if (listView_) {
        listView_->watchers_.push_back(this);
    }
}

bool TListViewAction::HandlesTarget(const ReportList* target) const {
    return listView_ != nullptr || (target != nullptr && target->HasFocus());
}

void TListViewAction::Notification(const ReportList* list) {
    if (list != nullptr && list == listView_) {
        SetListView(nullptr);
    }
}

std::string ListCopyText(const ReportList& list, std::string_view separator, bool includeHeader) {
    std::vector<std::string> captions;
    for (int c = 0; c < list.ColumnCount(); ++c) {
        captions.push_back(list.ColumnCaption(c));
    }
    std::vector<const ListItem*> rows;
    for (int i = 0; i < list.ItemCount(); ++i) {
        rows.push_back(&list.Item(i));
    }
    return RowsCopyText(captions, rows, separator, includeHeader);
}

std::string RowsCopyText(const std::vector<std::string>& captions,
                         const std::vector<const ListItem*>& rows, std::string_view separator,
                         bool includeHeader) {
    std::string text;
    if (includeHeader) {
        for (std::size_t c = 0; c < captions.size(); ++c) {
            if (c > 0) {
                text += separator;
            }
            text += captions[c];
        }
        text += "\r\n";
    }
    for (const ListItem* item : rows) {
        text += item->caption;
        for (std::size_t column = 1; column <= SubItemCount(*item); ++column) {
            text += separator;
            text += ColumnText(*item, int(column));
        }
        text += "\r\n";
    }
    return text;
}

TListViewCopy::TListViewCopy() {
    caption = "&Copy List to Clipboard";
    hint = "Copy the list Content to the Clipboard";
}

void TListViewCopy::Execute(ReportList* target,
                            const std::function<void(const std::string&)>& setClipboardText) {
    if (const ReportList* list = ListFor(target)) {
        setClipboardText(ListCopyText(*list, seperator, includeHeader));
    }
}

TListViewPrint::TListViewPrint() {
    caption = "&Print List";
    hint = "Print the contents of this list";
}

void TListViewPrint::Execute(ReportList* target, ListPrinter& printer) {
    const ReportList* list = ListFor(target);
    if (list == nullptr) {
        return;
    }
    if (showPrintDialog && !printer.ShowDialog()) {
        return;
    }
    if (!printer.BeginJob()) {
        return;
    }
    if (onBeforePrint) {
        onBeforePrint(*list);
    }
    const auto width = [&printer](std::string_view text, const PrintFont& font) {
        return printer.TextWidth(text, font);
    };
    printer.Draw(
        PrintLayout(*list, {header, fontHeight}, printer.Page(), width, printer.DateTimeText()));
}

}  // namespace packmeter
