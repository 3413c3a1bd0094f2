// The main window's menu bar and the commands behind it that are not the scan's own.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMenuBar>
#include <QPainter>
#include <QUrl>

#include "core/about/about_texts.hpp"
#include "core/app/main_menu.hpp"
#include "gui/qt/about/about_box.hpp"
#include "gui/qt/app/main_form.hpp"
#include "gui/qt/framework/owned.hpp"
#include "gui/qt/listview/list_view_actions.hpp"
#include "gui/qt/listview/list_view_ex.hpp"

namespace packmeter::qt {

namespace {

// The command's picture, drawn from its pixel map at 16 × 16.
QIcon FallbackIcon(MenuCommand command) {
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const CommandPicture& picture = FallbackPicture(command);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const char key = picture[std::size_t(y)][x];
            for (const PictureColour& colour : PictureColours()) {
                if (colour.key == key) {
                    image.setPixelColor(x, y, QColor(colour.red, colour.green, colour.blue));
                }
            }
        }
    }
    return QIcon(QPixmap::fromImage(image));
}

// The menu bar's settings of the original form, as far as the style lets a palette through:
// highlighted entries on 0xEEF6F7 (a Windows colour value: blue, green, red) with black text,
// the bar's font 13 pixels high.
void StyleMenu(QWidget& menu) {
    QPalette colours = menu.palette();
    colours.setColor(QPalette::Highlight, QColor(0xF7, 0xF6, 0xEE));
    colours.setColor(QPalette::HighlightedText, Qt::black);
    menu.setPalette(colours);
    QFont font = menu.font();
    font.setPixelSize(13);
    menu.setFont(font);
}

}  // namespace

void TMainForm::CreateMenu() {
    StyleMenu(*menuBar());
    for (const MenuCommandSetup& setup : kMenuCommands) {
        auto* action =
            MakeOwned<QAction>(QIcon::fromTheme(setup.themeIcon, FallbackIcon(setup.command)),
                               QString::fromStdString(MenuEntryText(setup.command, true)), this);
        action->setObjectName(QString::fromLatin1(setup.themeIcon));
        action->setToolTip(QString::fromUtf8(ShortHint(setup.hint).data(),
                                             qsizetype(ShortHint(setup.hint).size())));
        action->setStatusTip(
            QString::fromUtf8(LongHint(setup.hint).data(), qsizetype(LongHint(setup.hint).size())));
        action->setMenuRole(QAction::NoRole);
        const MenuCommand command = setup.command;
        connect(action, &QAction::triggered, this, [this, command] { Execute(command); });
        actions_[std::size_t(command)] = action;
    }
    for (const MenuSetup& setup : MenuBarLayout()) {
        QMenu* menu = menuBar()->addMenu(setup.caption);
        StyleMenu(*menu);
        for (const MenuCommand entry : setup.entries) {
            if (entry == kSeparator) {
                menu->addSeparator();
            } else {
                menu->addAction(Action(entry));
            }
        }
    }
    scanAction_ = Action(MenuCommand::kScan);
    refreshAction_ = Action(MenuCommand::kRefresh);
    fileExitAction_ = Action(MenuCommand::kExit);
    listViewCopy1_.imageIndex = int(MenuCommand::kCopy);
    listViewPrint_.imageIndex = int(MenuCommand::kPrint);
}

void TMainForm::Execute(MenuCommand command) {
    // The list as a target when it has the focus; the list actions work on List anyway.
    ReportList* target = list_ && list_->hasFocus() ? list_ : nullptr;
    switch (command) {
        case MenuCommand::kExit:
            close();
            break;
        case MenuCommand::kScan:
            logic_->ScanActionExecute();
            break;
        case MenuCommand::kRefresh:
            logic_->RefreshActionExecute();
            break;
        case MenuCommand::kPrint: {
            QtListPrinter printer(this);
            listViewPrint_.Execute(target, printer);
            break;
        }
        case MenuCommand::kCopy:
            ExecuteCopy(listViewCopy1_, target);
            break;
        case MenuCommand::kReadme:
            ReademFileActionExecute();
            break;
        case MenuCommand::kAbout:
            HelpAboutActionExecute();
            break;
    }
}

QString TMainForm::ReadmePath() {
    const QByteArray folder = QFile::encodeName(QCoreApplication::applicationDirPath());
    for (const std::string& candidate : ReadmeCandidates(folder.toStdString(), true)) {
        const QString path = QFile::decodeName(QByteArray::fromStdString(candidate));
        if (QFileInfo(path).isFile()) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return {};
}

void TMainForm::ReademFileActionExecute() {
    const QString path = ReadmePath();
    if (!path.isEmpty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}

void TMainForm::HelpAboutActionExecute() {
    // The command-line tool is described in the readme; without one, on the project's site.
    const QString readme = ReadmePath();
    const QString toolPage =
        readme.isEmpty() ? QString(kHomepage) : QUrl::fromLocalFile(readme).toString();
    TAboutBox box(toolPage, this);
    box.exec();
}

}  // namespace packmeter::qt
