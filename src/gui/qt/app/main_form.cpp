#include "gui/qt/app/main_form.hpp"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "core/app/list_order.hpp"
#include "core/app/main_menu.hpp"
#include "core/listview/header_arrow.hpp"
#include "core/scan/algorithm_text.hpp"
#include "gui/qt/app/compress_with_dialog.hpp"
#include "gui/qt/app/estimate_dialog.hpp"
#include "gui/qt/framework/clipboard.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/framework/owned.hpp"
#include "gui/qt/framework/qt_text.hpp"
#include "gui/qt/listview/list_view_ex.hpp"
#include "gui/qt/shell/browse_for_folder.hpp"
#include "gui/qt/shell/desktop_context_menu.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "platform/chunk_codecs.hpp"
#include "platform/system.hpp"

namespace packmeter::qt {

namespace {

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
    // The window keeps the application's font, which is the desktop's at the user's size; the
    // layout grows with it (Scaled).

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
    statusBar()->setToolTip(kColourLegend);
    statusBar()->setFixedHeight(
        std::max(Scaled(kStatusHeight), statusLine_->sizeHint().height() + 2));
    CreateCommandProgress();

    // The desktop's context menu of the rows and of the shown folder (through the path label).
    shellBrowser_ = std::make_unique<TShellBrowser>(MakeDesktopShell(this, services.fileSystem));
    shellBrowser_->SetFilter("*");
    shellBrowser_->SetShowErrorMessages(true);
    // Opening many rows starts as many programs: asked first.
    shellBrowser_->OnContextMenuSelect = [this](const std::string& verb, bool& execute) {
        const std::size_t count = ItemsInOrder(true).size();
        if (verb == "open" && count > kOpenWithoutAsking) {
            execute = QMessageBox::question(
                          this, QString(kApplicationTitle), Text(OpenManyQuestion(count)),
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
        }
    };
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { ListContextPopup(list_->viewport()->mapToGlobal(at)); });

    if (const auto desktop = std::dynamic_pointer_cast<DesktopLauncher>(services.launcher)) {
        desktop->onNotOpened = [window = QPointer<TMainForm>(this)](const std::string& path,
                                                                    const std::string& reason) {
            if (window && window->logic_) {
                window->logic_->DocumentNotOpened(path, reason);
            }
        };
    }
    if (!services.makeCompressor) {
        services.makeCompressor = MakeChunkCompressor;
    }
    logic_ =
        std::make_unique<MainFormLogic>(static_cast<MainFormView&>(*this), std::move(services));
    commandSink_ = std::make_unique<CommandSink<TMainForm>>(*this);
    logic_->SetCommandView(commandSink_.get());
    // The dialogs open after the menu or the applied batch has returned, from the event loop.
    logic_->Commands().SetChoice(LoadCompressionChoice());
    logic_->Commands().onCompressWith = [this](const std::string& folder,
                                               std::vector<std::string> names) {
        QMetaObject::invokeMethod(
            this, [this, folder, names = std::move(names)] { ShowCompressWith(folder, names); },
            Qt::QueuedConnection);
    };
    logic_->Commands().onEstimateDone = [this](EstimateResult result) {
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { ShowEstimate(result); },
            Qt::QueuedConnection);
    };
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

    CreateShortcuts();
    // The window sees every key before the control that has the focus.
    qApp->installEventFilter(this);
    // The first size fits the screen's free area (at scale 2 the form is taller than a small
    // screen); the least size keeps the header and the four columns readable.
    const QRect screenArea = screen()->availableGeometry();
    int columns = 0;
    for (int i = 0; i < int(kListColumns.size()); ++i) {
        columns += i == kNameColumn ? nameLeast_ : list_->columnWidth(i);
    }
    const int frame =
        list_->frameWidth() * 2 + list_->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    setMinimumSize(
        std::min(columns + frame, screenArea.width()),
        std::min(Scaled(kLeastClientHeight) + menuBar()->sizeHint().height(), screenArea.height()));
    resize(std::clamp(Scaled(kClientWidth), minimumWidth(), screenArea.width()),
           std::clamp(Scaled(kClientHeight), minimumHeight(), screenArea.height()));
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    // The list outlives this object's own part while the widgets are taken down.
    list_->SetOnCompare({});
    list_->onCustomDrawItem = nullptr;
    list_->onDblClick = nullptr;
    logic_->Shutdown();
    logic_.reset();
    commandSink_.reset();
    shellBrowser_.reset();
    if (busy_) {
        QGuiApplication::restoreOverrideCursor();
    }
}

int TMainForm::Scaled(int pixels) const {
    const double points =
        font().pointSizeF() > 0 ? font().pointSizeF() : QFontInfo(font()).pointSizeF();
    return qRound(pixels * logicalDpiX() / 96.0 * FontFactor(points));
}

void TMainForm::CreateShortcuts() {
    const auto add = [this](const QKeySequence& keys, auto action) {
        auto* shortcut = MakeOwned<QShortcut>(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, action);
    };
    const auto key = [this](DesktopKey which) {
        return [this, which] { logic_->KeyCommand(which); };
    };
    add(QKeySequence(Qt::Key_Return), key(DesktopKey::kOpen));
    add(QKeySequence(Qt::Key_Enter), key(DesktopKey::kOpen));
    add(QKeySequence(Qt::Key_F5), key(DesktopKey::kRefresh));
    add(QKeySequence::Copy, key(DesktopKey::kCopy));
    add(QKeySequence(Qt::Key_Backspace), key(DesktopKey::kParent));
    add(QKeySequence(Qt::ALT | Qt::Key_Up), key(DesktopKey::kParent));
    add(QKeySequence(Qt::Key_Escape), key(DesktopKey::kStop));
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
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
    // The path can be selected and copied; shortened, it is shown whole in its tool tip.
    PathLabel()->setTextInteractionFlags(Qt::TextSelectableByMouse);
    noticeLabel_ = MakeOwned<QLabel>(panel_);
    noticeLabel_->setObjectName("NoticeLabel");
    noticeLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    noticeLabel_->hide();
    LayOutHeader();
}

void TMainForm::LayOutHeader() {
    const auto scale = [this](int pixels) { return Scaled(pixels); };
    const auto path = std::size_t(HeaderLabel::kPath);
    std::array<int, kHeaderLabelCount> widths{};
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        labels_[i]->adjustSize();
        widths[i] = labels_[i]->width();
    }
    // The path ends at the window's edge: longer, it is shortened in the middle.
    const int pathRoom =
        std::max(0, panel_->width() - HeaderLabelLefts(widths, scale)[path] - Scaled(8));
    const std::string whole = pathText_.toStdString();
    const QString shown =
        Text(ElideMiddle(whole, FontMeasure(PathLabel()->fontMetrics()), pathRoom));
    PathLabel()->setText(shown);
    PathLabel()->setToolTip(shown == pathText_ ? QString() : pathText_);
    PathLabel()->adjustSize();
    widths[path] = PathLabel()->width();
    const auto lefts = HeaderLabelLefts(widths, scale);
    for (std::size_t i = 0; i < kHeaderLabelCount; ++i) {
        labels_[i]->move(lefts[i], Scaled(kHeaderLabels[i].y));
    }
    const HeaderLabelSetup& size = kHeaderLabels[std::size_t(HeaderLabel::kSizeTitle)];
    noticeLabel_->move(Scaled(size.x), Scaled(size.y));
    noticeLabel_->resize(std::max(0, panel_->width() - Scaled(size.x) - Scaled(8)),
                         noticeLabel_->sizeHint().height());
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
    list_->SetOnSortKey(ListSortKey);
    list_->onCustomDrawItem = [list = list_](const ListItem& item) {
        const RowColour colour = RowTextColour(item.keys);
        const QColor base = list->palette().color(QPalette::Base);
        if (const auto rgb = RowRgb(colour, {base.red(), base.green(), base.blue()})) {
            return QColor(rgb->red, rgb->green, rgb->blue);
        }
        return colour == RowColour::kGrayText
                   ? list->palette().color(QPalette::Disabled, QPalette::Text)
                   : list->palette().color(QPalette::Text);
    };
    list_->SetColumnHint(kNameColumn, kColourLegend);
    list_->onDblClick = [this] { logic_->ListDblClick(); };
    list_->Loaded();
}

void TMainForm::SizeColumns() {
    // A cell keeps the focus frame's margin and one pixel beside its text on either side.
    const int margin =
        list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) + 1;
    const FontMeasure measure(list_->fontMetrics());
    const FontMeasure header(list_->header()->fontMetrics());
    // The header keeps its margins on either side and one before the arrow.
    const int headerMargin = list_->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, list_);
    const int arrowSpace = 3 * headerMargin + 8 * ArrowPixelSize(qt::Scaled(*list_, 8)) + 1;
    for (std::size_t i = 0; i < kListColumns.size(); ++i) {
        list_->setColumnWidth(int(i),
                              ListColumnWidth(i, measure, 2 * margin + 1, header, arrowSpace,
                                              [this](int pixels) { return Scaled(pixels); }));
    }
    nameLeast_ = list_->columnWidth(kNameColumn);
    FitNameColumn();
}

void TMainForm::FitNameColumn() {
    int others = 0;
    for (int i = 1; i < int(kListColumns.size()); ++i) {
        others += list_->columnWidth(i);
    }
    list_->setColumnWidth(kNameColumn,
                          NameColumnWidth(list_->viewport()->width(), others, nameLeast_));
}

void TMainForm::ShowStatus() {
    const int room = std::max(0, statusLine_->contentsRect().width() - 2);
    const QString shown = Text(
        ShortenStatus(statusText_.toStdString(), FontMeasure(statusLine_->fontMetrics()), room));
    statusLine_->setText(shown);
    QString tip = shown == statusText_ ? QString() : statusText_;
    if (!failuresText_.isEmpty()) {
        tip += (tip.isEmpty() ? "" : "\n\n") + failuresText_;
    }
    statusLine_->setToolTip(tip);
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
    if (event->type() == QEvent::Resize) {
        if (watched == panel_) {
            LayOutHeader();
        } else if (watched == list_->viewport()) {
            FitNameColumn();
        } else if (watched == statusLine_) {
            ShowStatus();
        } else if (watched == statusBar()) {
            SizeCommandProgress();
        }
    }
    if (event->type() == QEvent::MouseButtonRelease && watched == PathLabel()) {
        const QPoint global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        // After the label has finished with the click (it may end a text selection).
        QMetaObject::invokeMethod(
            this, [this, global] { PathLabelMouseUp(global); }, Qt::QueuedConnection);
    }
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

void TMainForm::closeEvent(QCloseEvent* event) {
    // A running command is asked about, then stopped after its current file.
    if (!logic_->FormCloseQuery()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TMainForm::CreateCommandProgress() {
    progressLabel_ = MakeOwned<QLabel>(statusBar());
    progressLabel_->setObjectName("CommandProgressLabel");
    progressBar_ = MakeOwned<QProgressBar>(statusBar());
    progressBar_->setObjectName("CommandProgress");
    progressBar_->setRange(0, 100);
    progressBar_->setMaximumHeight(statusLine_->sizeHint().height());
    cancelButton_ = MakeOwned<QPushButton>(tr("Cancel"), statusBar());
    cancelButton_->setObjectName("CancelButton");
    cancelButton_->setToolTip(tr("Stop after the current file (Esc)"));
    cancelButton_->setFocusPolicy(Qt::NoFocus);
    // The status bar keeps its height; the button fits into it.
    cancelButton_->setMaximumHeight(statusBar()->height());
    connect(cancelButton_, &QPushButton::clicked, this, [this] { logic_->CancelCommand(); });
    statusBar()->addPermanentWidget(progressLabel_);
    statusBar()->addPermanentWidget(progressBar_);
    statusBar()->addPermanentWidget(cancelButton_);
    progressLabel_->hide();
    progressBar_->hide();
    cancelButton_->hide();
}

void TMainForm::ShowCompressWith(const std::string& folder, const std::vector<std::string>& names) {
    CompressionCommands& commands = logic_->Commands();
    CompressWithDialog dialog(commands.Choice(), AlgorithmChoosable(commands.FileSystemOf(folder)),
                              this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const CompressionChoice choice = dialog.Choice();
    SaveCompressionChoice(choice);
    commands.SetChoice(choice);
    commands.CompressWith(folder, names, choice);
}

void TMainForm::ShowEstimate(const EstimateResult& result) {
    auto* dialog = MakeOwned<EstimateDialog>(result, logic_->NumberFormatting(), this);
    const QPointer<TMainForm> window(this);
    dialog->onCompress = [window](const EstimateResult& estimated) {
        if (window) {
            window->logic_->Commands().CompressWith(estimated.folder, estimated.names,
                                                    estimated.request.method);
        }
    };
    dialog->onExact = [window](const EstimateResult& estimated) {
        if (window) {
            window->logic_->Commands().Estimate(estimated.folder, estimated.names, false);
        }
    };
    dialog->show();
}

void TMainForm::ListContextPopup(const QPoint& global) {
    try {
        logic_->ListContextPopup(*shellBrowser_, global.x(), global.y());
    } catch (const EShellBrowserError& error) {
        ShowMessage(error.what());
    }
}

void TMainForm::PathLabelMouseUp(const QPoint& global) {
    try {
        logic_->PathLabelMouseUp(*shellBrowser_, global.x(), global.y());
    } catch (const EShellBrowserError& error) {
        ShowMessage(error.what());
    }
}

void TMainForm::UpdateItem(const std::string& name, const ListItem& item) {
    for (int row = 0; row < list_->ItemCount(); ++row) {
        if (list_->Item(row).RawName() == name) {
            list_->UpdateItem(row, item);
            return;
        }
    }
}

void TMainForm::SizeCommandProgress() {
    if (cancelButton_->isHidden()) {
        progressBar_->hide();
        return;
    }
    // The figure keeps its whole text and the bar stands beside it, sharing with the status line
    // what the figure, the button, the size grip and the gaps leave, up to its usual width. A
    // narrow bar drops its percentage, which it could not hold (the figure beside it tells);
    // with too little room for a bar at all, the figure alone tells how far the command has come.
    const int spare = statusBar()->width() - progressLabel_->minimumWidth() -
                      cancelButton_->sizeHint().width() - Scaled(48);
    const int bar = std::min(spare / 2, Scaled(120));
    if (bar < Scaled(24)) {
        progressBar_->hide();
        return;
    }
    progressBar_->setTextVisible(bar >= Scaled(64));
    progressBar_->setFixedWidth(bar);
    progressBar_->show();
}

void TMainForm::SetCommandProgress(const CommandProgress& progress) {
    progressLabel_->setVisible(progress.running);
    cancelButton_->setVisible(progress.running);
    if (!progress.running) {
        progressLabel_->setMinimumWidth(0);
        SizeCommandProgress();
        return;
    }
    // While the quick count runs there are no totals yet to show.
    progressLabel_->setText(progress.counting ? tr("Counting entries...") : Text(progress.Text()));
    // The figure only widens while the command runs, so the line does not jump as it counts;
    // the path in the status line gives way.
    const int wanted = std::max(progressLabel_->minimumWidth(), progressLabel_->sizeHint().width());
    if (wanted != progressLabel_->minimumWidth()) {
        progressLabel_->setMinimumWidth(wanted);
    }
    SizeCommandProgress();
    // At once, not at the next layout pass: the figure is read as it changes.
    if (QLayout* layout = statusBar()->layout()) {
        layout->activate();
    }
    if (progress.counting) {
        progressBar_->setRange(0, 0);  // moving to and fro until the count is known
    } else {
        progressBar_->setRange(0, 100);
        progressBar_->setValue(progress.Percent());
    }
}

void TMainForm::SetCommandFailures(const std::vector<CompressionFailure>& failures) {
    failuresText_ = failures.empty() ? QString() : Text(logic_->Commands().FailuresText());
    ShowStatus();
}

bool TMainForm::AskStopCommand(const std::string& question) {
    return QMessageBox::question(this, QString(kApplicationTitle), Text(question),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

void TMainForm::SetCaption(const std::string& text) {
    setWindowTitle(Text(text));
}

void TMainForm::SetPathText(const std::string& text) {
    pathText_ = Text(text);
    LayOutHeader();
}

void TMainForm::SetStatusText(const std::string& text) {
    statusText_ = Text(text);
    ShowStatus();
}

void TMainForm::SetHeaderNotice(const std::string& text) {
    const bool notice = !text.empty();
    noticeLabel_->setText(Text(text));
    noticeLabel_->setVisible(notice);
    for (std::size_t i = std::size_t(HeaderLabel::kSizeTitle); i < kHeaderLabelCount; ++i) {
        labels_[i]->setVisible(!notice);
    }
    LayOutHeader();
}

void TMainForm::ShowMessage(const std::string& text) {
    // Window-modal but not blocking: the window goes on drawing behind it.
    auto* box = MakeOwned<QMessageBox>(QMessageBox::Warning, QString(kApplicationTitle), Text(text),
                                       QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Over the window, also at start-up, before the desktop has placed the window's frame.
    box->adjustSize();
    box->move(geometry().center() - box->rect().center());
    box->open();
}

std::vector<const ListItem*> TMainForm::ItemsInOrder(bool selectedOnly) const {
    std::vector<const ListItem*> items;
    for (int row = 0; row < list_->ItemCount(); ++row) {
        if (!selectedOnly || list_->selectionModel()->isRowSelected(row, {})) {
            items.push_back(&list_->Item(row));
        }
    }
    return items;
}

void TMainForm::CopyToClipboard(const std::string& text) {
    if (!SetClipboardText(text)) {
        ShowMessage("Cannot put the rows on the clipboard: the clipboard did not take them.");
    }
}

void TMainForm::SetTotals(const ScanTotals& totals) {
    SizeLabel()->setText(Text(totals.sizeText));
    CompressedLabel()->setText(Text(totals.onDiskText));
    RatioLabel()->setText(Text(totals.ratioText));
    // The bytes by algorithm, where the file system tells them.
    const std::string split = AlgorithmSplitText(totals.byAlgorithm, UserNumberFormat());
    const QString tip = split.empty() ? QString() : tr("By algorithm:") + '\n' + Text(split);
    for (QLabel* label : {SizeLabel(), CompressedLabel(), RatioLabel()}) {
        label->setToolTip(tip);
    }
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
#ifdef __GLIBC__
        // The walk's threads allocated the rows' texts and the batches in their own heaps, and
        // the batches are freed by now: hand those heaps' free pages back to the system, which
        // the allocator would otherwise keep resident for the next scan.
        malloc_trim(0);
#endif
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
    browseForFolderDlg_->SetStartFolder(QFile::decodeName(QByteArray::fromStdString(folder)));
    if (!browseForFolderDlg_->Execute()) {
        return false;
    }
    folder = browseForFolderDlg_->SelectedFolder();
    return true;
}

void TMainForm::SetSortColumn(int column) {
    list_->SetSortColumn(column);
}

void TMainForm::CommandBeep() {
    QApplication::beep();
}

std::string TMainForm::CommandStatusText() const {
    return statusText_.toStdString();
}

void TMainForm::ClearCommandSelection() {
    list_->clearSelection();
}

}  // namespace packmeter::qt
