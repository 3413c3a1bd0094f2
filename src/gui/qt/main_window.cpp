#include "gui/qt/main_window.hpp"

#include <QAction>
#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
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

constexpr int kClientWidth = 410;
constexpr int kClientHeight = 453;
constexpr int kHeaderHeight = 49;
constexpr int kStatusHeight = 19;
constexpr int kStatusInterval = 1500;
constexpr int kApplyInterval = 40;

}  // namespace

TMainForm::TMainForm(MainFormServices services, std::vector<std::string> args, QWidget* parent)
    : QMainWindow(parent), args_(std::move(args)) {
    setWindowTitle(kApplicationTitle);
    // The desktop's own font for windows, at the size the layout was made for.
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
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
    connect(applyTimer_, &QTimer::timeout, this, &TMainForm::ApplyScanOutput);
    lastApply_.start();
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

void TMainForm::CreateMenu() {
    QMenu* file = menuBar()->addMenu("&File");
    scanAction_ = file->addAction(QIcon::fromTheme("folder-open"), "&Scan...");
    refreshAction_ = file->addAction(QIcon::fromTheme("view-refresh"), "&Refresh");
    file->addSeparator();
    fileExitAction_ = file->addAction(QIcon::fromTheme("application-exit"), "E&xit");
    connect(scanAction_, &QAction::triggered, this, [this] { logic_->ScanActionExecute(); });
    connect(refreshAction_, &QAction::triggered, this, [this] { logic_->RefreshActionExecute(); });
    connect(fileExitAction_, &QAction::triggered, this, &QWidget::close);
}

void TMainForm::CreateHeader(QWidget* parent) {
    panel_ = MakeOwned<QWidget>(parent);
    panel_->setFixedHeight(Scaled(kHeaderHeight));
    QFont bold = font();
    bold.setBold(true);
    const auto label = [&](const char* text, bool isBold) {
        auto* made = MakeOwned<QLabel>(text, panel_);
        if (isBold) {
            made->setFont(bold);
        }
        return made;
    };
    label1_ = label("Path:", true);
    pathLabel_ = label("", false);
    label2_ = label("Size:", true);
    sizeLabel_ = label(kCalculatingText, false);
    label4_ = label("Compressed:", true);
    compressedLabel_ = label(kCalculatingText, false);
    label5_ = label("Ratio:", true);
    ratioLabel_ = label("", false);
    LayOutHeader();
}

void TMainForm::LayOutHeader() {
    struct Place {
        QLabel* label;
        int x;
        int y;
    };
    // Each label at its own position, moved right only where a wider font would make it
    // overlap the label before it on the same line.
    const Place places[] = {{label1_, 8, 7},    {pathLabel_, 40, 7},
                            {label2_, 8, 27},   {sizeLabel_, 40, 27},
                            {label4_, 117, 27}, {compressedLabel_, 193, 27},
                            {label5_, 275, 27}, {ratioLabel_, 315, 27}};
    int lineEnd = 0;
    int lineY = -1;
    for (const Place& place : places) {
        place.label->adjustSize();
        if (place.y != lineY) {
            lineY = place.y;
            lineEnd = 0;
        }
        const int x = std::max(Scaled(place.x), lineEnd == 0 ? 0 : lineEnd + Scaled(3));
        place.label->move(x, Scaled(place.y));
        lineEnd = x + place.label->width();
    }
}

void TMainForm::CreateList(QWidget* parent) {
    list_ = MakeOwned<TListViewEx>(parent);
    list_->setObjectName("List");
    list_->AddColumn("Name", Scaled(170));
    list_->AddColumn("Size", Scaled(70), Qt::AlignRight);
    list_->AddColumn("Compresed", Scaled(70), Qt::AlignRight);
    list_->AddColumn("Ratio", Scaled(40), Qt::AlignRight);
    list_->SetSmallImages(systemImageList_);
    list_->SetSortOrder(soNone);
    list_->SetSortColumn(-1);
    list_->SetUseExplorerFontSettings(false);
    list_->SetAutoResort(false);
    list_->SetAutoSaveSettings(false);
    list_->SetOnCompare([this](const ListItem& a, const ListItem& b, int column) {
        return ListCompare(a, b, column, list_->SortOrder());
    });
    list_->onCustomDrawItem = [list = list_](const ListItem& item) {
        switch (RowTextColour(item.stateIndex)) {
            case RowColour::kNavy:
                return QColor(kNavy.red, kNavy.green, kNavy.blue);
            case RowColour::kBlue:
                return QColor(kBlue.red, kBlue.green, kBlue.blue);
            default:
                return list->palette().color(QPalette::Text);
        }
    };
    list_->onDblClick = [this] { logic_->ListDblClick(); };
    list_->Loaded();
}

void TMainForm::UpdateStatusTimerTimer() {
    logic_->UpdateStatusTimerTimer();
}

void TMainForm::ScheduleApply() {
    const qint64 since = lastApply_.elapsed();
    if (since >= kApplyInterval) {
        ApplyScanOutput();
    } else if (!applyTimer_->isActive()) {
        applyTimer_->start(int(kApplyInterval - since));
    }
}

void TMainForm::ApplyScanOutput() {
    lastApply_.restart();
    logic_->ApplyScanOutput();
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
    pathLabel_->setText(Text(text));
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    statusLine_->setText(Text(text));
}

void TMainForm::SetTotals(const ScanTotals& totals) {
    sizeLabel_->setText(Text(totals.sizeText));
    compressedLabel_->setText(Text(totals.onDiskText));
    ratioLabel_->setText(Text(totals.ratioText));
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
