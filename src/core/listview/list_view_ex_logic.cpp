#include "core/listview/list_view_ex_logic.hpp"

#include <charconv>
#include <cmath>

namespace packmeter {

namespace {

template <typename T>
int Sign(T a, T b) {
    return a < b ? -1 : b < a ? 1 : 0;
}

std::optional<double> ReadFloat(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return;
    }
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

const char* const kColumnKey = "ListColumn";

}  // namespace

std::optional<double> DateTimeValue(std::string_view text, const ListLocale& locale) {
    const std::string dateSeparator = locale.DateSeparator();
    const std::string timeSeparator = locale.TimeSeparator();
    bool hasDate = false;
    if (!dateSeparator.empty()) {
        const auto first = text.find(dateSeparator);
        if (first != std::string_view::npos) {
            const auto after = first + dateSeparator.size();
            hasDate =
                after == text.size() || text.find(dateSeparator, after) != std::string_view::npos;
        }
    }
    const bool hasTime =
        !timeSeparator.empty() && text.find(timeSeparator) != std::string_view::npos;
    if (!hasDate && !hasTime) {
        return std::nullopt;
    }
    return locale.ToDateTime(text, hasDate, hasTime);
}

std::optional<double> NumberValue(std::string_view text, const ListLocale& locale) {
    text = text.substr(0, text.find(' '));
    if (auto value = ReadFloat(text)) {
        return value;
    }
    std::string local(text);
    ReplaceAll(local, locale.ThousandsSeparator(), "");
    ReplaceAll(local, locale.DecimalSeparator(), ".");
    return ReadFloat(local);
}

std::optional<int> SettingValue(std::string_view text) {
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

ListViewExLogic::ListViewExLogic(ListViewExHost& host, const ListLocale& locale)
    : host_(host), locale_(locale) {
    sortProc_ = [this](const ListItem* a, const ListItem* b, int data) {
        return DefaultCompare(a, b, data);
    };
}

void ListViewExLogic::SetSortColumn(int column) {
    sortColumn_ = column;
    const int count = host_.ColumnCount();
    if (column >= 0 && column < count && sortOrder_ != soNone && autoResort_) {
        Resort();
    }
    for (int i = 0; i < count; ++i) {
        UpdateHeaderMark(i, sortOrder_);
    }
}

void ListViewExLogic::SetSortOrder(TSortOption order) {
    if (order == sortOrder_) {
        return;
    }
    sortOrder_ = order;
    if (order != soNone) {
        SetSortColumn(sortColumn_);
    }
}

void ListViewExLogic::ColumnClick(int column) {
    sortOrder_ = sortOrder_ == soAscending && column == sortColumn_ ? soDescending : soAscending;
    host_.ColumnClicked(column);
    SetSortColumn(column);
    if (sortColumn_ >= 0) {
        Resort();
    }
}

void ListViewExLogic::Resort() {
    SortByProcedure(onCompare ? ListSortProc() : sortProc_, sortColumn_);
}

void ListViewExLogic::RowsAdded(std::size_t firstNew) {
    if (sortOrder_ == soNone || sortColumn_ < 0 || sortColumn_ >= host_.ColumnCount()) {
        return;
    }
    const int data = sortColumn_;
    if (!onCompare && sortProc_) {
        host_.MergeRows(firstNew, [&](const ListItem& a, const ListItem& b) {
            return sortProc_(&a, &b, data);
        });
        return;
    }
    if (onCompare && onSortKey) {
        host_.MergeRowsByKey(firstNew, OwnerOrder(data), OwnerKey(data));
        return;
    }
    host_.MergeRows(firstNew, [&](const ListItem& a, const ListItem& b) {
        return onCompare ? onCompare(a, b, data) : locale_.CompareText(a.caption, b.caption);
    });
}

bool ListViewExLogic::SortByProcedure(const ListSortProc& proc, int data) {
    if (proc) {
        sortProc_ = proc;
        return host_.SortRows(
            [&](const ListItem& a, const ListItem& b) { return sortProc_(&a, &b, data); });
    }
    if (onCompare && onSortKey) {
        return host_.SortRowsByKey(OwnerOrder(data), OwnerKey(data));
    }
    return host_.SortRows([&](const ListItem& a, const ListItem& b) {
        return onCompare ? onCompare(a, b, data) : locale_.CompareText(a.caption, b.caption);
    });
}

ItemOrder ListViewExLogic::OwnerOrder(int data) const {
    return [this, data](const ListItem& a, const ListItem& b) { return onCompare(a, b, data); };
}

ItemKey ListViewExLogic::OwnerKey(int data) const {
    // The owner's keys are ascending; a descending sort reverses them as its comparison does.
    const bool descending = sortOrder_ == soDescending;
    return [this, data, descending](const ListItem& item) {
        const SortKey key = onSortKey(item, data);
        return descending ? key.Reversed() : key;
    };
}

int ListViewExLogic::DefaultCompare(const ListItem* a, const ListItem* b, int data) const {
    if (!a || !b) {
        return 0;
    }
    if (onCompare) {
        return onCompare(*a, *b, data);
    }
    try {
        const std::string first = ColumnText(*a, sortColumn_);
        const std::string second = ColumnText(*b, sortColumn_);
        int result = 0;
        const auto firstMoment = DateTimeValue(first, locale_);
        const auto secondMoment = firstMoment ? DateTimeValue(second, locale_) : std::nullopt;
        if (firstMoment && secondMoment) {
            result = Sign(*firstMoment, *secondMoment);
        } else {
            const auto firstNumber = NumberValue(first, locale_);
            const auto secondNumber = firstNumber ? NumberValue(second, locale_) : std::nullopt;
            if (firstNumber && secondNumber) {
                result = Sign(*firstNumber, *secondNumber);
            } else {
                result = Sign(locale_.CompareText(first, second), 0);
            }
        }
        return sortOrder_ == soDescending ? -result : result;
    } catch (...) {
        return 0;
    }
}

void ListViewExLogic::UpdateHeaderMark(int column, TSortOption order) {
    if (column < 0 || column >= host_.ColumnCount()) {
        return;
    }
    if (marks_.size() < static_cast<std::size_t>(host_.ColumnCount())) {
        marks_.resize(static_cast<std::size_t>(host_.ColumnCount()), soNone);
    }
    const TSortOption mark = order != soNone && column == sortColumn_ ? order : soNone;
    auto& current = marks_[static_cast<std::size_t>(column)];
    if (current != mark) {
        current = mark;
        host_.HeaderMarkChanged(column);
    }
}

TSortOption ListViewExLogic::HeaderMark(int column) const {
    return column >= 0 && static_cast<std::size_t>(column) < marks_.size()
               ? marks_[static_cast<std::size_t>(column)]
               : soNone;
}

void ListViewExLogic::LoadSettings(ListSettingsStore& store) {
    const auto read = [&](const std::string& key, const std::string& name, int current) {
        const auto text = store.Read(key, name);
        const auto value = text ? SettingValue(*text) : std::nullopt;
        return value ? *value : current;
    };
    SetSortColumn(read("", "SortColumn", sortColumn_));
    const int order = read("", "SortOrder", sortOrder_);
    if (order >= soNone && order <= soDescending) {
        SetSortOrder(static_cast<TSortOption>(order));
    }
    for (int i = 0; i < host_.ColumnCount(); ++i) {
        const int width = read(kColumnKey + std::to_string(i), "Width", host_.ColumnWidth(i));
        if (width >= 0) {
            host_.SetColumnWidth(i, width);
        }
    }
}

void ListViewExLogic::SaveSettings(ListSettingsStore& store) const {
    store.Write("", "SortColumn", std::to_string(sortColumn_));
    store.Write("", "SortOrder", std::to_string(static_cast<int>(sortOrder_)));
    for (int i = 0; i < host_.ColumnCount(); ++i) {
        store.Write(kColumnKey + std::to_string(i), "Width", std::to_string(host_.ColumnWidth(i)));
    }
}

}  // namespace packmeter
