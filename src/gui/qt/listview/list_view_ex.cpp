#include "gui/qt/listview/list_view_ex.hpp"

#include <QAbstractTableModel>
#include <QApplication>
#include <QFontDatabase>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QSettings>
#include <QStyleOptionHeader>
#include <QToolTip>
#include <algorithm>

#include "core/listview/header_arrow.hpp"
#include "gui/qt/framework/owned.hpp"
#include "gui/qt/framework/qt_text.hpp"
#include "gui/qt/shell/system_image_list.hpp"

namespace packmeter::qt {

namespace {

// The arrow picture in `ink` with its face pixels left transparent, so that it sits on whatever
// the style paints as the header's face.
QImage ArrowImage(TSortOption order, const QColor& ink) {
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const auto& picture = SortArrowPicture(order);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            if (IsArrowInk(picture[std::size_t(y)][std::size_t(x)])) {
                image.setPixelColor(x, y, ink);
            }
        }
    }
    return image;
}

// The list's settings under "QEL Software", the application's title and the list's name.
class QtSettingsStore final : public ListSettingsStore {
  public:
    explicit QtSettingsStore(const QString& listName)
        : settings_("QEL Software", QCoreApplication::applicationName()) {
        settings_.beginGroup(listName);
    }
    std::optional<std::string> Read(const std::string& key, const std::string& name) override {
        const QVariant value = settings_.value(Path(key, name));
        if (!value.isValid()) {
            return std::nullopt;
        }
        return value.toString().toStdString();
    }
    void Write(const std::string& key, const std::string& name, const std::string& value) override {
        settings_.setValue(Path(key, name), Text(value));
    }

  private:
    static QString Path(const std::string& key, const std::string& name) {
        return key.empty() ? Text(name) : Text(key) + '/' + Text(name);
    }
    QSettings settings_;
};

// The hourglass while the list sorts; the previous cursor comes back however the sort ends.
struct WaitCursor {
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

// The rows of a TListViewEx as the view reads them.
class ListModel final : public QAbstractTableModel {
  public:
    struct Column {
        QString caption;
        Qt::Alignment alignment;
        QString hint;
    };

    explicit ListModel(TListViewEx& list) : QAbstractTableModel(&list), list_(list) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(columns.size());
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren
                               : Qt::NoItemFlags;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || std::size_t(index.row()) >= rows.size()) {
            return {};
        }
        const ListItem& item = At(std::size_t(index.row()));
        switch (role) {
            case Qt::DisplayRole:
                return Text(ColumnText(item, index.column()));
            case Qt::DecorationRole:
                if (index.column() == 0 && list_.images_) {
                    return list_.images_->Icon(item.imageIndex);
                }
                return {};
            case Qt::ForegroundRole:
                if (list_.onCustomDrawItem) {
                    const QColor colour = list_.onCustomDrawItem(item);
                    if (colour.isValid()) {
                        return colour;
                    }
                }
                return {};
            case Qt::TextAlignmentRole:
                return QVariant::fromValue(Alignment(index.column()));
            case Qt::ToolTipRole:
                return item.hint.empty() ? QVariant() : QVariant(Text(item.hint));
            default:
                return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 ||
            std::size_t(section) >= columns.size()) {
            return {};
        }
        if (role == Qt::DisplayRole) {
            return columns[std::size_t(section)].caption;
        }
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(Alignment(section));
        }
        if (role == Qt::ToolTipRole && !columns[std::size_t(section)].hint.isEmpty()) {
            return columns[std::size_t(section)].hint;
        }
        return {};
    }

    void AddColumn(Column column) {
        const int at = int(columns.size());
        beginInsertColumns({}, at, at);
        columns.push_back(std::move(column));
        endInsertColumns();
    }

    void Append(std::vector<ListItem> added) {
        if (added.empty()) {
            return;
        }
        const int first = int(rows.size());
        beginInsertRows({}, first, first + int(added.size()) - 1);
        for (ListItem& item : added) {
            rows.push_back(std::uint32_t(items.size()));
            items.push_back(std::move(item));
        }
        endInsertRows();
    }

    // The row's further columns, state and hint from `item`; its caption and icon stay.
    void Update(std::size_t row, const ListItem& item) {
        TakeFigures(items.at(rows.at(row)), item);
        // Its key may have changed: the keys are made again at the next merge.
        keys.clear();
        emit dataChanged(index(int(row), 0), index(int(row), int(columns.size()) - 1));
    }

    void Clear() {
        beginResetModel();
        items.clear();
        rows.clear();
        rows.shrink_to_fit();
        keys.clear();
        keys.shrink_to_fit();
        endResetModel();
    }

    // Puts the rows in the order given by their old positions; selection and current row
    // follow their rows.
    void Reorder(const std::vector<std::size_t>& order) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<int> newRow(rows.size());
        std::vector<std::uint32_t> sorted(rows.size());
        for (std::size_t i = 0; i < order.size(); ++i) {
            newRow[order[i]] = int(i);
            sorted[i] = rows[order[i]];
        }
        rows.swap(sorted);
        if (keys.size() == rows.size()) {
            std::vector<SortKey> sortedKeys(keys.size());
            for (std::size_t i = 0; i < order.size(); ++i) {
                sortedKeys[i] = keys[order[i]];
            }
            keys.swap(sortedKeys);
        }
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& index : from) {
            to.push_back(index.isValid()
                             ? createIndex(newRow[std::size_t(index.row())], index.column())
                             : index);
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

    Qt::Alignment Alignment(int column) const {
        const Qt::Alignment horizontal = column >= 0 && std::size_t(column) < columns.size()
                                             ? columns[std::size_t(column)].alignment
                                             : Qt::AlignLeft;
        return horizontal | Qt::AlignVCenter;
    }

    const ListItem& At(std::size_t row) const { return items[rows[row]]; }

    std::vector<Column> columns;
    // The rows in the order they came; `rows` holds their places as shown (row r shows
    // items[rows[r]]), so sorting and merging move 4-byte positions, never the rows.
    ListItemStore items;
    std::vector<std::uint32_t> rows;
    // While the rows are sorted by the owner's keys: the key of each row as shown, made for
    // the sort column and direction in `keyedFor`. Empty when they are not known.
    std::vector<SortKey> keys;
    std::pair<int, TSortOption> keyedFor{-1, soNone};

  private:
    TListViewEx& list_;
};

TListViewEx::TListViewEx(QWidget* parent)
    : QTreeView(parent),
      logic_(*this, locale_),
      model_(MakeOwned<ListModel>(*this)),
      header_(MakeOwned<SortHeader>(*this)) {
    setHeader(header_);
    setModel(model_);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setIconSize(QSize(16, 16));
    header_->setSectionsMovable(false);
    header_->setSectionsClickable(true);
    header_->setStretchLastSection(false);
    header_->setSortIndicatorShown(false);
    header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header_, &QHeaderView::sectionClicked, this, &TListViewEx::HeaderClicked);
    connect(header_, &QHeaderView::sectionResized, this, [this] { logic_.RestoreSortMark(); });
    SetUseExplorerFontSettings(true);
}

TListViewEx::~TListViewEx() {
    if (AutoSaveSettings()) {
        SaveSettingsNow();
    }
}

void TListViewEx::AddColumn(const QString& caption, int width, Qt::Alignment alignment) {
    model_->AddColumn({caption, alignment, {}});
    setColumnWidth(ColumnCount() - 1, width);
}

int TListViewEx::ColumnCount() const {
    return int(model_->columns.size());
}

void TListViewEx::SetColumnHint(int column, const QString& hint) {
    if (column >= 0 && column < ColumnCount()) {
        model_->columns[std::size_t(column)].hint = hint;
    }
}

void TListViewEx::AddItems(std::vector<ListItem> items) {
    const std::size_t first = model_->rows.size();
    model_->Append(std::move(items));
    logic_.RowsAdded(first);
}

void TListViewEx::Clear() {
    model_->Clear();
}

void TListViewEx::UpdateItem(int row, const ListItem& item) {
    model_->Update(std::size_t(row), item);
}

int TListViewEx::ItemCount() const {
    return int(model_->rows.size());
}

const ListItem& TListViewEx::Item(int row) const {
    return model_->items.at(model_->rows.at(std::size_t(row)));
}

std::string TListViewEx::ColumnCaption(int column) const {
    return model_->columns.at(std::size_t(column)).caption.toStdString();
}

bool TListViewEx::ColumnAlignedRight(int column) const {
    return (model_->columns.at(std::size_t(column)).alignment & Qt::AlignRight) != 0;
}

const ListItem* TListViewEx::FirstSelectedItem() const {
    int first = -1;
    for (const QItemSelectionRange& range : selectionModel()->selection()) {
        if (first < 0 || range.top() < first) {
            first = range.top();
        }
    }
    return first < 0 ? nullptr : &Item(first);
}

void TListViewEx::SetSmallImages(TQelSystemImageList* images) {
    images_ = images;
    if (images_) {
        const QSize size = images_->IconSize();
        setIconSize(QSize(Scaled(*this, size.width()), Scaled(*this, size.height())));
    }
    viewport()->update();
}

void TListViewEx::SetUseExplorerFontSettings(bool on) {
    explorerFont_ = on;
    // The desktop's own font for lists, or the font of the window the list sits in.
    setFont(on ? QFontDatabase::systemFont(QFontDatabase::GeneralFont) : QFont());
}

void TListViewEx::Loaded() {
    if (AutoSaveSettings()) {
        QtSettingsStore store(objectName());
        logic_.LoadSettings(store);
    }
}

void TListViewEx::SaveSettingsNow() {
    QtSettingsStore store(objectName());
    logic_.SaveSettings(store);
}

void TListViewEx::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton && onDblClick) {
        onDblClick();
    }
}

bool TListViewEx::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) {
        return QTreeView::viewportEvent(event);
    }
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = RowTipAt(help->pos());
    if (!text.isEmpty()) {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(indexAt(help->pos())));
    } else {
        QToolTip::hideText();
    }
    return true;
}

QString TListViewEx::RowTipAt(const QPoint& pos) const {
    const QModelIndex index = indexAt(pos);
    if (!index.isValid()) {
        return {};
    }
    // The whole text of a cell too narrow for it, then the row's hint (why a link counts 0 bytes,
    // why a row is greyed), as the Win32 list shows them.
    QString tip;
    const QString text = index.data().toString();
    const QRect cell = visualRect(index);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int icon = index.column() == 0 && images_ ? iconSize().width() + 2 * margin : 0;
    if (viewport()->fontMetrics().horizontalAdvance(text) + icon + 2 * margin > cell.width()) {
        tip = text;
    }
    const QString hint = index.data(Qt::ToolTipRole).toString();
    if (!hint.isEmpty()) {
        tip += (tip.isEmpty() ? QString() : QStringLiteral("\n")) + hint;
    }
    return tip;
}

void TListViewEx::resizeEvent(QResizeEvent* event) {
    QTreeView::resizeEvent(event);
    logic_.RestoreSortMark();
}

int TListViewEx::ColumnWidth(int column) const {
    return columnWidth(column);
}

void TListViewEx::SetColumnWidth(int column, int width) {
    setColumnWidth(column, width);
}

bool TListViewEx::SortRows(const ItemOrder& order) {
    model_->keys.clear();
    model_->Reorder(SortedOrder(model_->items, model_->rows, order));
    return true;
}

void TListViewEx::MergeRows(std::size_t firstNew, const ItemOrder& order) {
    model_->keys.clear();
    model_->Reorder(MergedOrder(model_->items, model_->rows, firstNew, order));
}

void TListViewEx::MakeKeys(std::size_t from, const ItemKey& key) {
    auto& keys = model_->keys;
    keys.resize(model_->rows.size());
    for (std::size_t row = from; row < keys.size(); ++row) {
        keys[row] = key(model_->At(row));
    }
    model_->keyedFor = {SortColumn(), SortOrder()};
}

bool TListViewEx::SortRowsByKey(const ItemOrder& order, const ItemKey& key) {
    MakeKeys(0, key);
    model_->Reorder(SortedOrder(model_->items, model_->rows, model_->keys, order));
    return true;
}

void TListViewEx::MergeRowsByKey(std::size_t firstNew, const ItemOrder& order, const ItemKey& key) {
    // The keys of the rows in place are kept from the last sort or merge by the same column;
    // only the new rows' keys are made, from rows just added (still in the cache).
    const bool kept =
        model_->keys.size() == firstNew && model_->keyedFor == std::pair(SortColumn(), SortOrder());
    MakeKeys(kept ? firstNew : 0, key);
    model_->Reorder(MergedOrder(model_->items, model_->rows, model_->keys, firstNew, order));
}

void TListViewEx::HeaderMarkChanged(int column) {
    header_->RedrawSection(column);
}

void TListViewEx::ColumnClicked(int column) {
    if (onColumnClick) {
        onColumnClick(column);
    }
}

void TListViewEx::HeaderClicked(int column) {
    const WaitCursor wait;
    logic_.ColumnClick(column);
}

SortHeader::SortHeader(TListViewEx& list) : QHeaderView(Qt::Horizontal, &list), list_(list) {}

SortHeader::Layout SortHeader::SectionLayout(const QRect& rect, int logicalIndex) const {
    QStyleOptionHeader option;
    initStyleOption(&option);
    const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, &option, this);
    const QRect content = rect.adjusted(margin, 0, -margin, 0);
    // The toolkit's mark grows with the screen and the font; the picture in whole pixels.
    const int side = 8 * ArrowPixelSize(Scaled(*this, 8));
    const QSize arrow(side, side);
    const int gap = margin;
    const QString caption =
        model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
    // One pixel more than the rounded advance, so that a caption that fits is never elided.
    const int textWidth = std::clamp(fontMetrics().horizontalAdvance(caption) + 1, 0,
                                     std::max(0, content.width() - arrow.width() - gap));
    const auto alignment = Qt::Alignment(
        model() ? model()->headerData(logicalIndex, orientation(), Qt::TextAlignmentRole).toInt()
                : 0);
    int textLeft = content.left();
    if (alignment & Qt::AlignRight) {
        textLeft = content.right() + 1 - arrow.width() - gap - textWidth;
    } else if (alignment & Qt::AlignHCenter) {
        textLeft = content.left() + (content.width() - textWidth - gap - arrow.width()) / 2;
    }
    const int arrowLeft = textLeft + textWidth + gap;
    const int arrowTop = rect.top() + (rect.height() - arrow.height()) / 2;
    return {QRect(textLeft, rect.top(), textWidth, rect.height()),
            QRect(QPoint(arrowLeft, arrowTop), arrow)};
}

QRect SortHeader::ArrowRect(int column) const {
    if (list_.HeaderMark(column) == soNone || isSectionHidden(column)) {
        return {};
    }
    const QRect section(sectionViewportPosition(column), 0, sectionSize(column), height());
    return SectionLayout(section, column).arrow;
}

void SortHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    const TSortOption mark = list_.HeaderMark(logicalIndex);
    if (mark == soNone || !rect.isValid()) {
        QHeaderView::paintSection(painter, rect, logicalIndex);
        return;
    }
    QStyleOptionHeader option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    option.sortIndicator = QStyleOptionHeader::None;
    painter->save();
    style()->drawControl(QStyle::CE_HeaderSection, &option, painter, this);
    const Layout layout = SectionLayout(rect, logicalIndex);
    QStyleOptionHeader label = option;
    label.rect = layout.text;
    label.text = fontMetrics().elidedText(option.text, Qt::ElideRight, layout.text.width());
    style()->drawControl(QStyle::CE_HeaderLabel, &label, painter, this);
    painter->setClipRect(rect);
    painter->drawImage(layout.arrow, ArrowImage(mark, palette().color(QPalette::ButtonText)));
    painter->restore();
}

void SortHeader::mouseReleaseEvent(QMouseEvent* event) {
    QHeaderView::mouseReleaseEvent(event);
    // A click or a drag on the header has ended: show the sort arrow again.
    list_.logic_.RestoreSortMark();
}

}  // namespace packmeter::qt
