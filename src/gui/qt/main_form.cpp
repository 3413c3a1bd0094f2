#include "gui/qt/main_form.hpp"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/app/list_order.hpp"
#include "gui/qt/browse_for_folder.hpp"
#include "gui/qt/list_view_ex.hpp"
#include "gui/qt/owned.hpp"
#include "gui/qt/system_image_list.hpp"

namespace packmeter::qt {

namespace {

QString Text(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Text widths in a widget's font.
class FontMeasure final : public TextMeasure {
  public:
    explicit FontMeasure(const QFontMetrics& metrics) : metrics_(metrics) {}
    int TextWidth(std::string_view text) const override {
        return metrics_.horizontalAdvance(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }

  private:
    QFontMetrics metrics_;
};

}  // namespace

TMainForm::TMainForm(MainFormServices services, std::vector<std::string> args, QWidget* parent)
    : QMainWindow(parent), args_(std::move(args)) {
    setWindowTitle(kApplicationTitle);
    // The desktop's own font for windows, at the size the layout was made for.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(kFormFontPoints);
    setFont(font);

    systemImageList_ = MakeOwned<TQelSystemImageList>(this);
    services.icons = systemImageList_->Source();
    browseForFolderDlg_ = MakeOwned<TQelBrowseForFolder>(this);
    browseForFolderDlg_->SetTitle(kBrowseTitle);
    browseForFolderDlg_->SetOptions({bfNewDialogStyle, bfFileSystemOnly});
    browseForFolderDlg_->SetRootedAt(SF_DESKTOP);

    CreateMenu();
    auto* client = MakeOwned<QWidget>(this);
    auto* column = MakeOwned<QVBoxLayout>(client);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    CreateHeader(client);
    CreateList(client);
    listViewCopy1_.SetListView(list_);
    listViewPrint_.SetListView(list_);
    column->addWidget(panel_);
    column->addWidget(list_, 1);
    setCentralWidget(client);

    statusLine_ = MakeOwned<QLabel>(statusBar());
    // A long folder path must not widen the window.
    statusLine_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(statusLine_, 1);
    statusBar()->setFixedHeight(
        std::max(Scaled(kStatusHeight), statusLine_->sizeHint().height() + 2));

    logic_ =
        std::make_unique<TMainFormLogic>(static_cast<MainFormView&>(*this), std::move(services));
    applyTimer_ = MakeOwned<QTimer>(this);
    applyTimer_->setSingleShot(true);
    connect(applyTimer_, &QTimer::timeout, this, [this] { logic_->ApplyScanOutput(); });
    logic_->Channel().SetWake([this] {
        QMetaObject::invokeMethod(this, &TMainForm::ScheduleApply, Qt::QueuedConnection);
    });

    updateStatusTimer_ = MakeOwned<QTimer>(this);
    updateStatusTimer_->setInterval(kStatusInterval);
    connect(updateStatusTimer_, &QTimer::timeout, this, &TMainForm::UpdateStatusTimerTimer);
    updateStatusTimer_->start();

    // The window sees every key before the control that has the focus.
    qApp->installEventFilter(this);
    resize(Scaled(kClientWidth), Scaled(kClientHeight));
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    // The list outlives this object's own part while the widgets are taken down.
    list_->SetOnCompare({});
    list_->onCustomDrawItem = nullptr;
    list_->onDblClick = nullptr;
    logic_->Shutdown();
    logic_.reset();
    if (busy_) {
        QGuiApplication::restoreOverrideCursor();
    }
}

int TMainForm::Scaled(int pixels) const {
    return qt::Scaled(*this, pixels);
}

void TMainForm::CreateHeader(QWidget* parent) {
    panel_ = MakeOwned<QWidget>(parent);
    panel_->setFixedHeight(Scaled(kHeaderHeight));
    QFont bold = font();
    bold.setBold(true);
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        const HeaderLabelSetup& setup = kHeaderLabels[i];
        labels_[i] = MakeOwned<QLabel>(setup.text, panel_);
        labels_[i]->setObjectName(setup.name);
        if (setup.bold) {
            labels_[i]->setFont(bold);
        }
    }
    LayOutHeader();
}

void TMainForm::LayOutHeader() {
    std::array<int, kHeaderLabelCount> widths{};
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        labels_[i]->adjustSize();
        widths[i] = labels_[i]->width();
    }
    const auto lefts = HeaderLabelLefts(widths, [this](int pixels) { return Scaled(pixels); });
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        labels_[i]->move(lefts[i], Scaled(kHeaderLabels[i].y));
    }
}

void TMainForm::CreateList(QWidget* parent) {
    list_ = MakeOwned<TListViewEx>(parent);
    list_->setObjectName("List");
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        list_->AddColumn(kColumnCaptions[i], Scaled(kListColumns[i].width),
                         kListColumns[i].alignRight ? Qt::AlignRight : Qt::AlignLeft);
    }
    list_->SetSmallImages(systemImageList_);
    list_->SetSortOrder(soNone);
    list_->SetSortColumn(-1);
    list_->SetUseExplorerFontSettings(false);
    SizeColumns();
    list_->SetAutoResort(false);
    list_->SetAutoSaveSettings(false);
    list_->SetOnCompare([this](const ListItem& a, const ListItem& b, int column) {
        return ListCompare(a, b, column, list_->SortOrder());
    });
    list_->onCustomDrawItem = [list = list_](const ListItem& item) {
        switch (RowTextColour(item.keys)) {
            case RowColour::kNavy:
                return QColor(kNavy.red, kNavy.green, kNavy.blue);
            case RowColour::kBlue:
                return QColor(kBlue.red, kBlue.green, kBlue.blue);
            case RowColour::kGrayText:
                return list->palette().color(QPalette::Disabled, QPalette::Text);
            default:
                return list->palette().color(QPalette::Text);
        }
    };
    list_->onDblClick = [this] { logic_->ListDblClick(); };
    list_->Loaded();
}

void TMainForm::SizeColumns() {
    // A cell keeps the focus frame's margin and one pixel beside its text on either side.
    const int margin =
        list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1;
    const FontMeasure measure(list_->fontMetrics());
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        list_->setColumnWidth(int(i),
                              ListColumnWidth(i, measure, 2 * margin + 1,
                                              [this](int pixels) { return Scaled(pixels); }));
    }
}

void TMainForm::UpdateStatusTimerTimer() {
    logic_->UpdateStatusTimerTimer();
}

void TMainForm::ScheduleApply() {
    if (const auto wait = logic_->ScheduleApply()) {
        applyTimer_->start(*wait);
    }
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        // Once the window is on screen, so that the picker opens over it.
        QMetaObject::invokeMethod(
            this, [this] { logic_->FormShow(args_); }, Qt::QueuedConnection);
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        // Only at the key's first stop: the focused control, or the window itself.
        QWidget* focus = QApplication::focusWidget();
        QObject* first = focus ? focus : this;
        if (watched == first && (!focus || focus->window() == this)) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const int letter = key->key() >= Qt::Key_A && key->key() <= Qt::Key_Z ? key->key() : 0;
            logic_->FormKeyDown(letter, key->modifiers().testFlag(Qt::ControlModifier));
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::SetCaption(const std::string& text) {
    setWindowTitle(Text(text));
}

void TMainForm::SetPathText(const std::string& text) {
    PathLabel()->setText(Text(text));
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    statusLine_->setText(Text(text));
}

void TMainForm::SetTotals(const ScanTotals& totals) {
    SizeLabel()->setText(Text(totals.sizeText));
    CompressedLabel()->setText(Text(totals.onDiskText));
    RatioLabel()->setText(Text(totals.ratioText));
    LayOutHeader();
}

void TMainForm::SetBusyCursor(bool busy) {
    if (busy == busy_) {
        return;
    }
    busy_ = busy;
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
}

void TMainForm::ClearList() {
    list_->Clear();
}

void TMainForm::AddItems(std::vector<ListItem> items) {
    list_->AddItems(std::move(items));
}

void TMainForm::SelectAllItems() {
    list_->selectAll();
}

const ListItem* TMainForm::FirstSelectedItem() const {
    return list_->FirstSelectedItem();
}

bool TMainForm::BrowseForFolder(std::string& folder) {
    if (!browseForFolderDlg_->Execute()) {
        return false;
    }
    folder = browseForFolderDlg_->SelectedFolder();
    return true;
}

void TMainForm::SetSortColumn(int column) {
    list_->SetSortColumn(column);
}

}  // namespace packmeter::qt
