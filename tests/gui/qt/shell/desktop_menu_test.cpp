// The desktop's context menu on Linux: the applications the desktop registers for a type, and
// each command carried out through the shell browser on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <QTemporaryDir>

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QThread>
#include <QUrl>
#include <mutex>

#include "core/shell/shell_browser.hpp"
#include "gui/qt/shell/desktop_actions.hpp"
#include "gui/qt/shell/desktop_context_menu.hpp"
#include "platform/system.hpp"
#include "tests/gui/qt/gui_test_support.hpp"
#include "tests/gui/qt/test_desktop.hpp"

namespace packmeter::qt {
namespace {

using testing::ActionNamed;
using testing::ChooseFromMenu;
using testing::OnModal;
using testing::PrivateSessionBus;
using testing::TempTree;
using testing::Texts;
using testing::WaitFor;

// The desktop's file manager as it offers itself on the bus, on a thread and a connection of
// its own (the menu's calls wait for the answer).
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

  public:
    QStringList Calls() const {
        const std::lock_guard hold(lock_);
        return calls_;
    }

  public slots:
    void ShowFolders(const QStringList& uris, const QString&) { Record("ShowFolders", uris); }
    void ShowItems(const QStringList& uris, const QString&) { Record("ShowItems", uris); }
    void ShowItemProperties(const QStringList& uris, const QString&) {
        Record("ShowItemProperties", uris);
    }

  private:
    void Record(const QString& method, const QStringList& uris) {
        const std::lock_guard hold(lock_);
        calls_ << method + ' ' + uris.join(' ');
    }
    mutable std::mutex lock_;
    QStringList calls_;
};

class OfferedFileManager {
  public:
    OfferedFileManager()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fileManager")) {
        thread_.start();
        service_.moveToThread(&thread_);
        bus_.registerObject("/org/freedesktop/FileManager1", &service_,
                            QDBusConnection::ExportAllSlots);
        bus_.registerService("org.freedesktop.FileManager1");
    }
    ~OfferedFileManager() {
        bus_.unregisterService("org.freedesktop.FileManager1");
        bus_.unregisterObject("/org/freedesktop/FileManager1");
        QDBusConnection::disconnectFromBus("fileManager");
        thread_.quit();
        thread_.wait();
    }
    QStringList Calls() const { return service_.Calls(); }

  private:
    QDBusConnection bus_;
    QThread thread_;
    FakeFileManager service_;
};

QString Log() {
    QFile file(testing::TestViewerLog());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(file.readAll());
}

TEST(DesktopMenu, OpenAndOpenWithStartTheApplicationsTheDesktopRegisters) {
    TempTree tree;
    tree.File("notes.txt", 5);
    const std::string path = tree.Q("notes.txt").toStdString();
    QFile::remove(testing::TestViewerLog());

    DesktopContextMenu menu(nullptr, MakeFileSystem(), {path}, false);
    ASSERT_TRUE(menu.Build({}, false));
    QMenu* shown = menu.Menu();
    // The type's default (set in the test desktop's defaults) names the Open item.
    const QString open = QString("&Open With %1").arg(testing::kTestViewerName);
    ASSERT_EQ(Texts(shown).value(0), open);
    auto* with = shown->findChild<QMenu*>("openWithMenu");
    ASSERT_NE(with, nullptr);
    QAction* viewer = ActionNamed(with, testing::kTestViewerName);
    ASSERT_NE(viewer, nullptr) << Texts(with).join(", ").toStdString();
    EXPECT_EQ(with->actions().first(), viewer) << "the default application comes first";

    const unsigned openWith = viewer->data().toUInt();
    EXPECT_EQ(menu.Verb(openWith), kVerbOpenWith);
    ASSERT_TRUE(menu.Invoke(openWith));
    EXPECT_TRUE(WaitFor([&] { return Log() == tree.Q("notes.txt") + '\n'; }, 10000))
        << Log().toStdString();

    const unsigned openId = ActionNamed(shown, open)->data().toUInt();
    EXPECT_EQ(menu.Verb(openId), kVerbOpen);
    ASSERT_TRUE(menu.Invoke(openId));
    EXPECT_TRUE(WaitFor([&] { return Log().count('\n') == 2; }, 10000)) << Log().toStdString();
}

TEST(DesktopMenu, TheFileManagersServiceShowsTheEntryAndItsPropertiesWhenOffered) {
    if (!PrivateSessionBus::Available()) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    TempTree tree;
    tree.File("notes.txt", 5);
    const QString uri = QUrl::fromLocalFile(tree.Q("notes.txt")).toString();
    EXPECT_FALSE(FileManagerService::Available());
    const OfferedFileManager fileManager;
    ASSERT_TRUE(FileManagerService::Available());

    DesktopContextMenu menu(nullptr, MakeFileSystem(), {tree.Q("notes.txt").toStdString()}, true);
    ASSERT_TRUE(menu.Build({}, false));
    for (const char* caption : {"Open Containing &Folder", "P&roperties"}) {
        const unsigned id = ActionNamed(menu.Menu(), caption)->data().toUInt();
        EXPECT_TRUE(menu.Invoke(id)) << caption;
    }
    EXPECT_EQ(fileManager.Calls(), (QStringList{"ShowItems " + uri, "ShowItemProperties " + uri}));
    // The file manager's own window stands in for ours.
    QTest::qWait(50);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<PropertiesDialog*>(widget), nullptr);
    }
}

// Each row: the item chosen, whether OnRename is set, the verb the browser reports, and what
// must hold afterwards.
struct MenuCase {
    const char* caption;
    bool onRename;
    const char* verb;
    std::function<void(const TempTree&, const TShellBrowser&)> check;
};

TEST(DesktopMenu, CommandsRunThroughTheShellBrowser) {
    const auto file = [](const TempTree& tree) { return tree.Q("notes.txt"); };
    const std::vector<MenuCase> cases = {
        {"&Copy", false, "copy",
         [&](const TempTree& tree, const TShellBrowser&) {
             const QMimeData* data = QApplication::clipboard()->mimeData();
             ASSERT_TRUE(data->hasFormat("text/uri-list"));
             EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(file(tree))});
             EXPECT_EQ(QString::fromUtf8(data->data("x-special/gnome-copied-files")),
                       "copy\n" + QUrl::fromLocalFile(file(tree)).toString());
             EXPECT_EQ(data->text(), file(tree));
         }},
        {"Copy &Path", false, "copypath",
         [&](const TempTree& tree, const TShellBrowser&) {
             EXPECT_EQ(QApplication::clipboard()->text(), file(tree));
         }},
        {"Move to &Trash", false, "delete",
         [&](const TempTree& tree, const TShellBrowser&) {
             EXPECT_FALSE(QFile::exists(file(tree)));
             EXPECT_TRUE(QFile::exists(testing::TestTrash() + "/files/notes.txt"));
             EXPECT_TRUE(QFile::exists(testing::TestTrash() + "/info/notes.txt.trashinfo"));
         }},
        // With OnRename the program renames; without it the menu asks for the name.
        {"Rena&me...", true, "rename",
         [&](const TempTree& tree, const TShellBrowser&) {
             EXPECT_TRUE(QFile::exists(file(tree)));
         }},
        {"Rena&me...", false, "rename",
         [&](const TempTree& tree, const TShellBrowser&) {
             EXPECT_FALSE(QFile::exists(file(tree)));
             EXPECT_TRUE(QFile::exists(tree.Q("renamed.txt")));
         }},
        {"P&roperties", false, "properties",
         [&](const TempTree&, const TShellBrowser&) {
             PropertiesDialog* dialog = nullptr;
             ASSERT_TRUE(WaitFor([&] {
                 for (QWidget* widget : QApplication::topLevelWidgets()) {
                     if (auto* found = qobject_cast<PropertiesDialog*>(widget);
                         found && found->isVisible()) {
                         dialog = found;
                     }
                 }
                 return dialog && dialog->Complete();
             }));
             EXPECT_EQ(dialog->Value("Name:"), "notes.txt");
             EXPECT_EQ(dialog->Value("Size:"), "5 bytes");
             EXPECT_EQ(dialog->Value("Permissions:").left(3), "rw-");
             EXPECT_FALSE(dialog->Value("Owner:").isEmpty());
             EXPECT_FALSE(dialog->Value("Modified:").isEmpty());
             testing::SaveShot(dialog->grab().toImage(), "qt-properties.png");
             dialog->close();
         }},
        {"", false, "",
         [&](const TempTree& tree, const TShellBrowser&) {
             EXPECT_TRUE(QFile::exists(file(tree)));
         }},
    };
    QWidget owner;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.caption);
        TempTree tree;
        tree.File("notes.txt", 5);
        TShellBrowser browser(MakeDesktopShell(&owner, MakeFileSystem()));
        browser.SetShowErrorMessages(true);
        bool renamed = false;
        if (row.onRename) {
            browser.OnRename = [&](TShellBrowser&) { renamed = true; };
        }
        browser.SetFolder(tree.Path());
        browser.MultiObjects().push_back("notes.txt");
        std::optional<OnModal> answer;
        if (std::string(row.verb) == "rename" && !row.onRename) {
            answer.emplace([](QWidget* modal) {
                auto* dialog = qobject_cast<QInputDialog*>(modal);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(dialog->findChild<QLineEdit*>()->selectedText(), "notes");
                dialog->setTextValue("renamed.txt");
                dialog->accept();
            });
        }
        QStringList seen;
        ChooseFromMenu choose(row.caption, &seen);
        std::string verb = "stale";
        browser.ShowContextMenu({10, 10}, nullptr, verb);
        EXPECT_EQ(verb, row.verb) << seen.join(", ").toStdString();
        EXPECT_EQ(renamed, row.onRename);
        EXPECT_TRUE(browser.MultiObjects().empty());
        row.check(tree, browser);
    }
}

TEST(DesktopMenu, MoveToTrashOnAFreshAccountMakesTheHomeTrashAndWritesNowhereElse) {
    const QTemporaryDir home;
    const QTemporaryDir work;
    const QTemporaryDir files;
    QFile(files.path() + "/notes.txt").open(QIODevice::WriteOnly);
    const QByteArray savedData = qgetenv("XDG_DATA_HOME");
    const QByteArray savedHome = qgetenv("HOME");
    const QString savedFolder = QDir::currentPath();
    qunsetenv("XDG_DATA_HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    QDir::setCurrent(work.path());
    QString error;
    const bool moved = MoveEntryToTrash(files.path() + "/notes.txt", error);
    QDir::setCurrent(savedFolder);
    qputenv("HOME", savedHome);
    qputenv("XDG_DATA_HOME", savedData);
    ASSERT_TRUE(moved) << error.toStdString();
    const QString trash = home.path() + "/.local/share/Trash";
    EXPECT_TRUE(QFile::exists(trash + "/files/notes.txt"));
    EXPECT_TRUE(QFile::exists(trash + "/info/notes.txt.trashinfo"));
    // The folders made are the user's own, as the trash rules ask.
    for (const QString& folder : {home.path() + "/.local", home.path() + "/.local/share", trash,
                                  trash + "/files", trash + "/info"}) {
        struct stat info {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &info), 0) << folder.toStdString();
        EXPECT_EQ(info.st_mode & 0777, 0700u) << folder.toStdString();
    }
    // The working folder stays untouched.
    EXPECT_TRUE(QDir(work.path())
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
                    .isEmpty());
}

}  // namespace
}  // namespace packmeter::qt

#include "desktop_menu_test.moc"
