#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include "core/app/main_menu.hpp"
#include "gui/qt/about/about_box.hpp"
#include "gui/qt/about/url_label.hpp"
#include "gui/qt/app/main_form.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "platform/system.hpp"
#include "tests/gui/qt/gui_test_support.hpp"

// Records the addresses the desktop is asked to open instead of opening them.
class OpenedUrls : public QObject {
    Q_OBJECT

  public:
    OpenedUrls() {
        for (const char* scheme : {"file", "mailto", "http", "https"}) {
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        }
    }
    ~OpenedUrls() override {
        for (const char* scheme : {"file", "mailto", "http", "https"}) {
            QDesktopServices::unsetUrlHandler(scheme);
        }
    }
    QStringList urls;

  public slots:
    void Open(const QUrl& url) { urls << url.toString(); }
};

namespace packmeter::qt {
namespace {

using namespace testing;

MainFormServices Services() {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    services.launcher = std::make_shared<RecordingLauncher>();
    services.isFolder = IsFolder;
    services.numberFormat = NumberFormat{};
    return services;
}

std::unique_ptr<TMainForm> OpenScanned(const TempTree& tree) {
    auto form = std::make_unique<TMainForm>(Services(), std::vector<std::string>{tree.Path()});
    form->show();
    EXPECT_TRUE(WaitFor([&] {
        const TScan* scan = form->Logic().ActiveScan();
        return scan && scan->Finished() && form->SizeLabel()->text() != kCalculatingText;
    }));
    QTest::qWait(50);
    return form;
}

// "caption" per entry, "-" per separator line, "image" where an entry has none.
QStringList Entries(const QMenu& menu) {
    QStringList out;
    for (const QAction* action : menu.actions()) {
        out << (action->isSeparator() ? "-" : action->text());
        if (!action->isSeparator() && action->icon().isNull()) {
            out << "no image";
        }
    }
    return out;
}

TEST(MenuBar, MenusEntriesImagesAndHints) {
    TMainForm form(Services(), {""});
    form.show();
    QTest::qWait(20);
    QStringList menus;
    std::vector<QMenu*> popups;
    for (QAction* action : form.menuBar()->actions()) {
        menus << action->text();
        popups.push_back(action->menu());
    }
    ASSERT_EQ(menus, QStringList({"&File", "&Edit", "&Help"}));
    // The bar in cream (the light theme's text stays readable on it), as in the Win32 window.
    EXPECT_EQ(form.menuBar()->grab().toImage().pixelColor(form.menuBar()->width() - 2, 2),
              QColor(0xF7, 0xF6, 0xEE));
    EXPECT_EQ(Entries(*popups[0]),
              QStringList({"&Scan...", "&Refresh\tF5", "-", "&Print List", "-", "E&xit\tCtrl+Q"}));
    EXPECT_EQ(Entries(*popups[1]), QStringList({"&Copy List to Clipboard"}));
    EXPECT_EQ(Entries(*popups[2]), QStringList({"&Readme.txt", "-", "&About"}));
    for (const MenuCommandSetup& setup : kMenuCommands) {
        const QAction* action = form.Action(setup.command);
        EXPECT_TRUE(action->isEnabled() && action->isVisible()) << setup.caption;
        EXPECT_TRUE(action->shortcut().isEmpty()) << setup.caption;
    }
    EXPECT_EQ(form.FileExitAction()->statusTip(), "Quits the application");
    EXPECT_EQ(form.FileExitAction()->toolTip(), "Exit");

    // Highlighting an entry puts its hint in the status line; the window's own text returns
    // when the menu closes.
    QMenu& file = *popups[0];
    file.popup(form.mapToGlobal(QPoint(0, form.menuBar()->height())));
    ASSERT_TRUE(WaitFor([&] { return file.isVisible(); }));
    QAction* print = form.Action(MenuCommand::kPrint);
    QTest::mouseMove(&file, file.actionGeometry(print).center());
    EXPECT_TRUE(WaitFor([&] { return file.activeAction() == print; }));
    EXPECT_TRUE(WaitFor(
        [&] { return form.statusBar()->currentMessage() == "Print the contents of this list"; }));
    if (const char* shots = std::getenv("PACKMETER_SHOTS")) {
        file.grab().save(QString(shots) + "/qt_menu_file.png");
        QMenu& help = *popups[2];
        help.popup(form.mapToGlobal(QPoint(60, form.menuBar()->height())));
        WaitFor([&] { return help.isVisible(); });
        QTest::mouseMove(&help, help.actionGeometry(form.Action(MenuCommand::kAbout)).center());
        QTest::qWait(50);
        help.grab().save(QString(shots) + "/qt_menu_help.png");
        help.close();
    }
    file.close();
    EXPECT_TRUE(WaitFor([&] { return form.statusBar()->currentMessage().isEmpty(); }));
}

TEST(MenuBar, CopyPutsEveryRowOnTheClipboard) {
    TempTree tree;
    tree.Folder("docs");
    tree.File("docs/a.txt", 5000);
    tree.File("b.bin", 3000);
    auto form = OpenScanned(tree);
    QGuiApplication::clipboard()->clear();
    form->Action(MenuCommand::kCopy)->trigger();
    const QString text = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(text.startsWith("Name\tSize\tCompresed\tRatio\r\n")) << text.toStdString();
    const QStringList lines = text.split("\r\n");
    ASSERT_EQ(lines.size(), 4) << text.toStdString();
    EXPECT_TRUE(lines[3].isEmpty());
    // One line per row in display order: folders first, each with name, two sizes, ratio.
    for (int row = 0; row < 2; ++row) {
        const ListItem& item = form->List()->Item(row);
        EXPECT_EQ(lines[row + 1].toStdString(), item.caption + "\t" + ColumnText(item, 1) + "\t" +
                                                    ColumnText(item, 2) + "\t" +
                                                    ColumnText(item, 3));
    }
    EXPECT_TRUE(lines[1].startsWith("docs\t"));
}

TEST(MenuBar, PrintWithoutPrinterSavesAPdfOfTwoPages) {
    if (!QPrinterInfo::defaultPrinter().isNull()) {
        GTEST_SKIP() << "a printer is set up here: printing would reach it";
    }
    TempTree tree;
    for (int i = 0; i < 80; ++i) {
        tree.File(QString("file%1.txt").arg(i, 2, 10, QChar('0')), 1000 + i);
    }
    tree.File("a_name_much_too_long_for_its_printed_column_to_hold_all_of_it.data", 5);
    auto form = OpenScanned(tree);
    const QTemporaryDir out;
    const QString pdf = out.path() + "/list.pdf";
    QStringList seen;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || seen.contains(modal->objectName())) {
            return;
        }
        seen << modal->objectName();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->text();
            box->button(QMessageBox::Save)->click();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            name->setText(pdf);
            QTest::keyClick(name, Qt::Key_Return);
        }
    });
    driver.start(10);
    form->Action(MenuCommand::kPrint)->trigger();
    driver.stop();
    ASSERT_EQ(seen.size(), 3) << seen.join('|').toStdString();
    EXPECT_EQ(seen[0], "NoPrinterMessage");
    EXPECT_TRUE(seen[1].startsWith("No printer is set up"));
    EXPECT_EQ(seen[2], "PdfFileDialog");
    ASSERT_TRUE(QFile::exists(pdf));
    if (const char* shots = std::getenv("PACKMETER_SHOTS")) {
        QFile::copy(pdf, QString(shots) + "/qt_print.pdf");
    }

    QProcess text;
    text.start("pdftotext", {"-layout", pdf, "-"});
    ASSERT_TRUE(text.waitForFinished(20000)) << "pdftotext (poppler-utils) missing?";
    const QString printed = QString::fromUtf8(text.readAllStandardOutput());
    const QStringList pages = printed.split('\f', Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), 2) << printed.toStdString();
    for (int p = 0; p < 2; ++p) {
        // Headings on both pages, the foot with the page's number.
        static const QRegularExpression headings("Name\\s+Size\\s+Compresed\\s+Ratio");
        EXPECT_TRUE(pages[p].contains(headings)) << p;
        EXPECT_TRUE(pages[p].contains(QString("Page %1").arg(p + 1))) << p;
    }
    // Sizes and ratios right-aligned after the name (pdftotext may drop the space before "%").
    EXPECT_TRUE(
        printed.contains(QRegularExpression("file00\\.txt\\s+\\d+ KB\\s+\\d+ KB\\s+-?\\d+ ?%")))
        << printed.toStdString();
    // Every row once, some of them on the second page.
    for (int i = 0; i < 80; ++i) {
        EXPECT_EQ(printed.count(QString("file%1.txt").arg(i, 2, 10, QChar('0'))), 1) << i;
    }
    EXPECT_TRUE(pages[1].contains(QRegularExpression("file\\d\\d\\.txt")));
    // The long name shortened: its head, "..." and its last 6 characters.
    EXPECT_TRUE(printed.contains(QRegularExpression("a_na\\S*\\.\\.\\.\\S*t\\.data")))
        << printed.toStdString();
    EXPECT_FALSE(printed.contains("a_name_much_too_long_for_its_printed_column_to_hold_all"));
}

TEST(MenuBar, APrintThatCannotStartIsSaidAndTheFolderIsThePagesTitle) {
    if (!QPrinterInfo::defaultPrinter().isNull()) {
        GTEST_SKIP() << "a printer is set up here: printing would reach it";
    }
    TempTree tree;
    tree.File("one.txt", 10);
    auto form = OpenScanned(tree);
    const QTemporaryDir out;
    const struct {
        QString pdf;
        bool printed;
    } cases[] = {
        // A folder nobody can write into: the window says why nothing was printed.
        {"/proc/packmeter-list.pdf", false},
        {out.path() + "/list.pdf", true},
    };
    for (const auto& c : cases) {
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal);
                box && box->objectName() == "NoPrinterMessage") {
                box->button(QMessageBox::Save)->click();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                name->setText(c.pdf);
                QTest::keyClick(name, Qt::Key_Return);
            }
        });
        driver.start(10);
        form->Action(MenuCommand::kPrint)->trigger();
        driver.stop();
        auto* said = form->findChild<QMessageBox*>(QString(), Qt::FindDirectChildrenOnly);
        if (c.printed) {
            EXPECT_EQ(said, nullptr);
            QProcess text;
            text.start("pdftotext", {"-layout", c.pdf, "-"});
            ASSERT_TRUE(text.waitForFinished(20000));
            const QString printed = QString::fromUtf8(text.readAllStandardOutput());
            EXPECT_TRUE(printed.contains(tree.Q())) << printed.toStdString();
        } else {
            ASSERT_NE(said, nullptr) << c.pdf.toStdString();
            EXPECT_TRUE(said->text().contains(c.pdf)) << said->text().toStdString();
            delete said;
        }
    }
}

TEST(AboutBox, TextsLinksAndAFreshBoxEachTime) {
    TMainForm form(Services(), {""});
    form.show();
    QTest::qWait(20);
    OpenedUrls opened;
    std::vector<QDialog*> boxes;
    struct Seen {
        QString title, name, shadow, version;
        bool icon = false;
        QColor emailHeld, webHeld, webAfter;
        QString copied;
    } seen;
    for (int round = 0; round < 2; ++round) {
        OnModal act([&](QWidget* modal) {
            auto* box = qobject_cast<TAboutBox*>(modal);
            ASSERT_NE(box, nullptr);
            boxes.push_back(box);
            seen.title = box->windowTitle();
            seen.name = box->ProductName()->text();
            seen.shadow = box->Shadow()->text();
            seen.version = box->Version()->text();
            if (round == 0) {
                TUrlLabel* web = box->WebLink();
                TUrlLabel* email = box->EmailLink();
                const QPoint middle(4, web->height() / 2);
                QTest::mousePress(email, Qt::LeftButton, {}, middle);
                seen.emailHeld = email->CaptionColor();
                QTest::mouseRelease(email, Qt::LeftButton, {}, middle);
                QTest::mousePress(web, Qt::LeftButton, {}, middle);
                seen.webHeld = web->CaptionColor();
                QTest::mouseRelease(web, Qt::LeftButton, {}, middle);
                seen.webAfter = web->CaptionColor();
                QTest::mouseClick(box->ToolLink(), Qt::LeftButton, {}, middle);
                email->CopyItem()->trigger();
                seen.copied = QGuiApplication::clipboard()->text();
                if (const char* shots = std::getenv("PACKMETER_SHOTS")) {
                    box->grab().save(QString(shots) + "/qt_about.png");
                }
            }
            QTest::keyClick(box, Qt::Key_Return);
        });
        form.Action(MenuCommand::kAbout)->trigger();
        EXPECT_TRUE(act.Done());
    }
    EXPECT_EQ(seen.title, "Info");
    EXPECT_EQ(seen.name, "Packmeter");
    EXPECT_EQ(seen.shadow, "Packmeter");
    EXPECT_EQ(seen.version, "Version 1.2");
    EXPECT_EQ(seen.emailHeld, QColor(128, 0, 128));
    EXPECT_EQ(seen.webHeld, QColor(255, 0, 0));
    EXPECT_EQ(seen.webAfter, QColor(0, 0, 255));
    EXPECT_EQ(seen.copied, "maintainers@packmeter.org");
    ASSERT_EQ(opened.urls.size(), 3);
    EXPECT_EQ(opened.urls[0], "mailto:maintainers@packmeter.org");
    EXPECT_EQ(opened.urls[1], "https://packmeter.org/");
    // The command-line tool's link opens the readme beside the program.
    EXPECT_EQ(
        opened.urls[2],
        QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + "/Readme.txt").toString());
    ASSERT_EQ(boxes.size(), 2u);
}

TEST(HelpMenu, ReadmeBesideTheProgramOpensFromAnyFolderAndAFailureIsSaid) {
    TMainForm form(Services(), {""});
    QStringList opened;
    std::string answer;
    const DesktopOpener saved = DesktopOpen();
    DesktopOpen() = [&](const QString& path, std::function<void(const std::string&)> failed) {
        opened << path;
        if (!answer.empty()) {
            failed(answer);
        }
    };
    const QString before = QDir::currentPath();
    const QTemporaryDir elsewhere;
    QFile(elsewhere.path() + "/Readme.txt").open(QIODevice::WriteOnly);
    QDir::setCurrent(elsewhere.path());
    form.Action(MenuCommand::kReadme)->trigger();
    QDir::setCurrent(before);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QCoreApplication::applicationDirPath() + "/Readme.txt");
    EXPECT_EQ(form.findChild<QMessageBox*>(), nullptr);
    // No viewer opened it: the window says so.
    answer = XdgOpenFailure(4);
    form.Action(MenuCommand::kReadme)->trigger();
    DesktopOpen() = saved;
    auto* box = form.findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), "Cannot open the readme: " + XdgOpenFailure(4));
    box->close();
}

}  // namespace
}  // namespace packmeter::qt

#include "menu_and_about_test.moc"
