#include "gui/qt/exceptlog/fault_dialog.hpp"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "core/exceptlog/fault_capture.hpp"
#include "gui/qt/framework/owned.hpp"

namespace packmeter::qt {

namespace {

constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kMargin = 8;
// The header: the monitor picture, then the text from this column on.
constexpr int kTextLeft = 50;
constexpr int kExpandedHeaderHeight = 52;

// The logger's texts end their lines with CR LF.
QString Text(const std::string& text) {
    return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// The named font when the system has it, else the closest it has of the same kind.
QFont NamedFont(const char* family, QFont::StyleHint hint, int points, bool bold) {
    QFont font(QString::fromLatin1(family), points, bold ? QFont::Bold : QFont::Normal);
    font.setStyleHint(hint);
    return font;
}

QPixmap RowImage(FaultRowImage image) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    switch (image) {
        case FaultRowImage::kExecutable:  // a program window
            p.fillRect(1, 2, 14, 12, Qt::white);
            p.fillRect(1, 2, 14, 3, QColor(0, 0, 128));
            p.drawRect(1, 2, 13, 11);
            break;
        case FaultRowImage::kPackage:  // a parcel
            p.fillRect(2, 4, 12, 10, QColor(200, 150, 80));
            p.drawRect(2, 4, 11, 9);
            p.drawLine(8, 4, 8, 13);
            p.drawLine(2, 8, 13, 8);
            break;
        case FaultRowImage::kLibrary:  // a library: two cogs' worth of grey blocks
            p.fillRect(2, 2, 12, 12, QColor(192, 192, 192));
            p.drawRect(2, 2, 11, 11);
            p.fillRect(5, 5, 6, 6, QColor(128, 128, 128));
            break;
        case FaultRowImage::kUnit:  // a page of source
            p.fillRect(3, 1, 10, 14, Qt::white);
            p.drawRect(3, 1, 9, 13);
            for (int y = 4; y <= 11; y += 2) {
                p.drawLine(5, y, 10, y);
            }
            break;
    }
    return pixmap;
}

// The header's picture: a monitor showing a fault.
QPixmap MonitorPicture() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(192, 192, 192));
    p.drawRoundedRect(QRectF(1.5, 2.5, 29, 21), 2, 2);
    p.fillRect(4, 5, 24, 16, QColor(0, 0, 128));
    p.drawRect(12, 24, 8, 3);
    p.drawRect(7, 27, 18, 3);
    p.setPen(QPen(QColor(255, 64, 64), 3));
    p.drawLine(10, 8, 22, 18);
    p.drawLine(22, 8, 10, 18);
    return pixmap;
}

QRect ScreenRect() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

DialogRect ToRect(const QRect& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

std::string ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string{};
}

}  // namespace

QString FaultDialog::CoordinatesFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/FaultLog.ini");
}

FaultDialog::FaultDialog(FaultDialogData data, QWidget* parent)
    : QDialog(parent), data_(std::move(data)) {
    setObjectName(QStringLiteral("faultDialog"));
    setWindowTitle(Text(data_.caption));
    if (data_.customColors) {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, QColor(212, 208, 200));
        palette.setColor(QPalette::WindowText, Qt::black);
        setPalette(palette);
        setAutoFillBackground(true);
    }
    picture_ = MakeOwned<QLabel>(this);
    picture_->setPixmap(MonitorPicture());
    picture_->setGeometry(kMargin, kMargin, 32, 32);
    header_ = MakeOwned<QLabel>(this);
    header_->setObjectName(QStringLiteral("header"));
    header_->setFont(NamedFont("Verdana", QFont::SansSerif, font().pointSize(), true));
    header_->setWordWrap(true);
    header_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tabs_ = MakeOwned<QTabWidget>(this);
    tabs_->setObjectName(QStringLiteral("pages"));
    tabs_->addTab(MakeOwned<QWidget>(), Text(data_.generalTab));
    tabs_->addTab(MakeOwned<QWidget>(), Text(data_.detailsTab));
    const QFont buttonFont = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    const auto button = [&](const char* name, const std::string& text) {
        auto* b = MakeOwned<QPushButton>(Text(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(buttonFont);
        b->resize(kButtonWidth, kButtonHeight);
        return b;
    };
    terminate_ = button("terminate", data_.terminateText);
    close_ = button("close", data_.closeText);
    details_ = button("details", DetailsButtonText(data_.detailsText, false));
    close_->setDefault(true);
    terminate_->setVisible(data_.terminateVisible);
    connect(close_, &QPushButton::clicked, this, &QDialog::accept);
    connect(terminate_, &QPushButton::clicked, this, [this] {
        result_ = FaultDialogResult::kTerminate;
        accept();
    });
    connect(details_, &QPushButton::clicked, this, [this] { SetExpanded(!expanded_); });
    coordinates_ = ReadDialogCoordinates(ReadFile(CoordinatesFile()));
    tabs_->setCurrentIndex(data_.startsOnGeneral ? 0 : 1);
    ShowPage(tabs_->currentIndex());
    connect(tabs_, &QTabWidget::currentChanged, this, &FaultDialog::ShowPage);
    ShowCollapsed();
    close_->setFocus();
    // A dialog that the system never shows would wait for a click that cannot come. A dialog
    // already answered (a click that came before its first paint on a busy machine) keeps its
    // answer.
    QTimer::singleShot(1, this, [this] {
        if (isVisible() && !painted_ && !(windowHandle() && windowHandle()->isExposed())) {
            result_ = FaultDialogResult::kNotShown;
            reject();
        }
    });
}

FaultDialog::~FaultDialog() = default;

void FaultDialog::ShowPage(int index) {
    ClosePage();
    for (int i = 0; i < tabs_->count(); ++i) {
        QWidget* page = tabs_->widget(i);
        qDeleteAll(page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly));
        delete page->layout();
    }
    QWidget* page = tabs_->widget(index);
    auto* layout = MakeOwned<QVBoxLayout>(page);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* title =
        MakeOwned<QLabel>(Text(index == 0 ? data_.generalHeader : data_.detailsHeader), page);
    title->setFont(NamedFont("Verdana", QFont::SansSerif, font().pointSize(), true));
    layout->addWidget(title);
    if (index == 0) {
        auto* report = MakeOwned<QPlainTextEdit>(page);
        report->setObjectName(QStringLiteral("report"));
        report->setReadOnly(true);
        report->setLineWrapMode(QPlainTextEdit::NoWrap);
        report->setFont(NamedFont("Lucida Console", QFont::TypeWriter, 8, false));
        report->setPlainText(Text(data_.reportSections));
        layout->addWidget(report);
        // Made while the tabs may already be on screen: shown explicitly.
        title->show();
        report->show();
        return;
    }
    list_ = MakeOwned<QTreeWidget>(page);
    list_->setObjectName(QStringLiteral("callStack"));
    list_->setRootIsDecorated(false);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setAllColumnsShowFocus(true);
    list_->setIconSize(QSize(16, 16));
    QStringList titles;
    for (const auto& t : data_.columnTitles) {
        titles << Text(t);
    }
    list_->setHeaderLabels(titles);
    for (const auto& row : data_.rows) {
        auto* item = MakeOwned<QTreeWidgetItem>(list_);
        for (int c = 0; c < 6; ++c) {
            item->setText(c, Text(row.cells[c]));
        }
        item->setIcon(0, RowImage(row.image));
    }
    for (int c = 0; c < 6; ++c) {
        list_->setColumnWidth(c, coordinates_.columns[c]);
    }
    layout->addWidget(list_);
    title->show();
    list_->show();
}

void FaultDialog::ClosePage() {
    if (!list_) {
        return;
    }
    for (int c = 0; c < 6; ++c) {
        coordinates_.columns[c] = list_->columnWidth(c);
    }
    list_ = nullptr;
    SaveCoordinates();
}

void FaultDialog::ShowCollapsed() {
    header_->setText(Text(data_.shortMessage));
    tabs_->hide();
    details_->setText(Text(DetailsButtonText(data_.detailsText, false)));
    // The window manager draws the frame: the rule sizes the inside.
    const DialogFrame frame;
    const QRect text = QFontMetrics(header_->font())
                           .boundingRect(QRect(0, 0, CollapsedTextLimit(frame), 100000),
                                         Qt::TextWordWrap, header_->text());
    const DialogRect r =
        CollapsedDialogRect(text.width(), text.height(), frame, ToRect(ScreenRect()));
    header_->setGeometry(kTextLeft, kMargin, text.width() + 2, std::max(text.height(), 39));
    setWindowState(Qt::WindowNoState);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    setFixedSize(r.width, r.height);
    move(r.left, r.top);
    PlaceButtons();
}

void FaultDialog::ShowExpanded() {
    header_->setText(Text(data_.heading));
    details_->setText(Text(DetailsButtonText(data_.detailsText, true)));
    setMinimumSize(300, 200);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    coordinates_ = [&] {
        auto stored = ReadDialogCoordinates(ReadFile(CoordinatesFile()));
        stored.columns = coordinates_.columns;
        return stored;
    }();
    const DialogRect r = PlaceExpandedDialog(coordinates_, ToRect(ScreenRect()));
    setGeometry(r.left, r.top, r.width, r.height);
    if (coordinates_.windowsState == 3) {
        setWindowState(Qt::WindowMaximized);
    }
    tabs_->show();
    PlaceButtons();
}

void FaultDialog::SetExpanded(bool expanded) {
    if (expanded == expanded_) {
        return;
    }
    if (expanded_) {
        SaveCoordinates();
    }
    expanded_ = expanded;
    expanded ? ShowExpanded() : ShowCollapsed();
}

void FaultDialog::SaveCoordinates() {
    if (expanded_) {
        const QRect r = isMaximized() ? normalGeometry() : geometry();
        coordinates_.width = r.width();
        coordinates_.height = r.height();
        coordinates_.left = r.x();
        coordinates_.top = r.y();
        coordinates_.windowsState = isMaximized() ? 3 : 1;
    }
    const QString path = CoordinatesFile();
    const std::string old = ReadFile(path);
    // Only what this dialog stored: the column widths alone when the window is collapsed.
    FaultDialogCoordinates stored = ReadDialogCoordinates(old);
    if (expanded_) {
        stored = coordinates_;
    }
    stored.columns = coordinates_.columns;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(QByteArray::fromStdString(WriteDialogCoordinates(old, stored)));
    }
}

void FaultDialog::PlaceButtons() {
    const int top = height() - 32;
    close_->move((width() - kButtonWidth) / 2, top);
    terminate_->move(5, top);
    details_->move(width() - 80, top);
    if (expanded_) {
        header_->setGeometry(kTextLeft, kMargin, width() - kTextLeft - kMargin,
                             kExpandedHeaderHeight - kMargin);
        tabs_->setGeometry(kMargin, kExpandedHeaderHeight, width() - 2 * kMargin,
                           top - kExpandedHeaderHeight - kMargin);
    }
}

void FaultDialog::paintEvent(QPaintEvent* event) {
    if (!painted_) {
        NoteFaultDialogShown();
    }
    painted_ = true;
    QDialog::paintEvent(event);
}

void FaultDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    PlaceButtons();
}

void FaultDialog::done(int result) {
    ClosePage();
    if (expanded_) {
        SaveCoordinates();
    }
    QDialog::done(result);
}

std::optional<int> RunModalOnWindowThread(const std::function<int()>& show) {
    auto* app = QApplication::instance();
    if (!app) {
        return std::nullopt;
    }
    if (QThread::currentThread() == app->thread()) {
        return show();
    }
    // From another thread the box waits for the window's thread, a bounded time: that thread
    // may be stuck (it may wait for the very thread that met the error). Once it has taken the
    // box, the user takes as long as they like.
    struct Handoff {
        std::mutex lock;
        std::condition_variable changed;
        bool taken = false;
        bool abandoned = false;
        bool done = false;
        int result = 0;
    };
    const auto handoff = std::make_shared<Handoff>();
    QMetaObject::invokeMethod(
        app,
        [handoff, show] {
            {
                const std::lock_guard lock(handoff->lock);
                if (handoff->abandoned) {
                    return;
                }
                handoff->taken = true;
            }
            handoff->changed.notify_all();
            const int result = show();
            const std::lock_guard lock(handoff->lock);
            handoff->result = result;
            handoff->done = true;
            handoff->changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(handoff->lock);
    if (!handoff->changed.wait_for(lock, std::chrono::milliseconds(kMostDialogWaitMilliseconds),
                                   [&] { return handoff->taken; })) {
        handoff->abandoned = true;
        return std::nullopt;
    }
    handoff->changed.wait(lock, [&] { return handoff->done; });
    return handoff->result;
}

FaultDialogResult ShowFaultDialog(const FaultDialogData& data) {
    const auto result = RunModalOnWindowThread([&data] {
        QPointer<QWidget> active = QApplication::activeWindow();
        QApplication::beep();
        FaultDialog dialog(data);
        dialog.exec();
        if (active) {
            active->activateWindow();
        }
        return static_cast<int>(dialog.Result());
    });
    return result ? static_cast<FaultDialogResult>(*result) : FaultDialogResult::kNotShown;
}

}  // namespace packmeter::qt
