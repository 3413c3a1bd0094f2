// The main window's menu bar and the commands behind it that are not the scan's own.
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QUrl>
#include <algorithm>

#include "core/about/about_texts.hpp"
#include "core/app/list_order.hpp"
#include "core/app/main_menu.hpp"
#include "core/utils/text.hpp"
#include "gui/qt/about/about_box.hpp"
#include "gui/qt/app/main_form.hpp"
#include "gui/qt/framework/desktop_services.hpp"
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

// The least contrast of the highlighted entry against the menu, so that the keyboard's place
// can be seen (the contrast asked of parts of a control that must be told apart).
constexpr double kHighlightContrast = 3.0;

// The menu bar's settings of the original form, as far as the style lets a palette through:
// highlighted entries on 0xEEF6F7 (a Windows colour value: blue, green, red) with black text,
// the bar's font 13 pixels high. On a light menu that cream is all but invisible (1.08:1 on
// white): it is darkened in its own hue until the highlight stands out, as the rows' colours are
// lightened on dark themes. A larger desktop font is kept.
void StyleMenu(QWidget& menu) {
    QPalette colours = menu.palette();
    const QColor base = colours.color(QPalette::Window);
    const Rgb back{base.red(), base.green(), base.blue()};
    Rgb band{0xF7, 0xF6, 0xEE};
    for (int step = 0; step < 40 && ContrastRatio(band, back) < kHighlightContrast; ++step) {
        band = {band.red * 94 / 100, band.green * 94 / 100, band.blue * 94 / 100};
    }
    colours.setColor(QPalette::Highlight, QColor(band.red, band.green, band.blue));
    const bool darkText = ContrastRatio(band, {0, 0, 0}) >= ContrastRatio(band, {255, 255, 255});
    colours.setColor(QPalette::HighlightedText, darkText ? Qt::black : Qt::white);
    menu.setPalette(colours);
    QFont font = menu.font();
    font.setPixelSize(std::max(13, QFontInfo(QApplication::font()).pixelSize()));
    menu.setFont(font);
}

}  // namespace

void TMainForm::CreateMenu() {
    // The bar itself in the same cream, the colour of the original form's unused bar area, where
    // the bar's text stays readable on it (a dark theme keeps its own bar).
    QPalette bar = menuBar()->palette();
    const QColor text = bar.color(QPalette::ButtonText);
    if (ContrastRatio({0xF7, 0xF6, 0xEE}, {text.red(), text.green(), text.blue()}) >=
        kTextContrast) {
        bar.setColor(QPalette::Window, QColor(0xF7, 0xF6, 0xEE));
        bar.setColor(QPalette::Button, QColor(0xF7, 0xF6, 0xEE));
        menuBar()->setPalette(bar);
    }
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
        // Copy and Print are offered exactly when they have a report list to work on.
        connect(menu, &QMenu::aboutToShow, this, [this] { UpdateListActions(); });
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

void TMainForm::UpdateListActions() {
    ReportList* target = list_ && list_->hasFocus() ? list_ : nullptr;
    for (const auto& [action, command] :
         {std::pair<TListViewAction*, MenuCommand>{&listViewCopy1_, MenuCommand::kCopy},
          std::pair<TListViewAction*, MenuCommand>{&listViewPrint_, MenuCommand::kPrint}}) {
        action->UpdateTarget(action->HandlesTarget(target) ? action->ListFor(target) : nullptr);
        Action(command)->setEnabled(action->enabled);
    }
}

void TMainForm::Execute(MenuCommand command) {
    // The list as a target when it has the focus; the list actions work on List anyway.
    ReportList* target = list_ && list_->hasFocus() ? list_ : nullptr;
    if ((command == MenuCommand::kCopy && !listViewCopy1_.HandlesTarget(target)) ||
        (command == MenuCommand::kPrint && !listViewPrint_.HandlesTarget(target))) {
        return;
    }
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
            // The folder is the first page's title.
            listViewPrint_.header = ToDisplayText(logic_->CurrentFolder());
            QtListPrinter printer(this);
            listViewPrint_.Execute(target, printer);
            if (!printer.Failure().isEmpty()) {
                ShowMessage(printer.Failure().toStdString());
            }
            break;
        }
        case MenuCommand::kCopy:
            if (!ExecuteCopy(listViewCopy1_, target)) {
                ShowMessage("Cannot put the list on the clipboard: the clipboard did not take it.");
            }
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
    if (path.isEmpty()) {
        ShowMessage(kReadmeMissingText);
        return;
    }
    OpenWithDesktop(path, [window = QPointer<TMainForm>(this)](const std::string& reason) {
        if (window) {
            window->ShowMessage("Cannot open the readme: " + reason);
        }
    });
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
