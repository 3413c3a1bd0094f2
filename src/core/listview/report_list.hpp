#pragma once

#include <string>
#include <vector>

#include "core/listview/list_item.hpp"

namespace packmeter {

class TListViewAction;

// A report list as its copy and print commands read it: columns with caption, width in screen
// pixels and alignment, and rows in their current display order. The control that shows the
// list implements it. When it is destroyed, every action whose ListView it is lets go of it.
class ReportList {
  public:
    ReportList() = default;
    ReportList(const ReportList&) = delete;
    ReportList& operator=(const ReportList&) = delete;
    virtual ~ReportList();

    virtual int ColumnCount() const = 0;
    virtual std::string ColumnCaption(int column) const = 0;
    virtual int ColumnWidth(int column) const = 0;
    virtual bool ColumnAlignedRight(int column) const = 0;
    virtual int ItemCount() const = 0;
    // Row `row` in display order.
    virtual const ListItem& Item(int row) const = 0;
    virtual bool HasFocus() const = 0;

  private:
    friend class TListViewAction;
    std::vector<TListViewAction*> watchers_;
};

}  // namespace packmeter
