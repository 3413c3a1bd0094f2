#include <gtest/gtest.h>

#include <set>

#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMimeDatabase>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>

#include "gui/qt/shell/browse_for_folder.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "tests/gui/qt/gui_test_support.hpp"

namespace packmeter::qt {
namespace {

using namespace testing;

// Confirms `path` in the chooser as a user typing it would.
void Type(QWidget* modal, const QString& path) {
    auto* edit = modal->findChild<QLineEdit*>("fileNameEdit");
    edit->setText(path);
    QTest::keyClick(edit, Qt::Key_Return);
}

TEST(BrowseForFolderTest, ConfirmedFolderHasNoTrailingSeparatorExceptTheRoot) {
    TempTree tree;
    tree.Folder("inner");
    QWidget owner;
    TQelBrowseForFolder dialog(&owner);
    dialog.SetTitle("Pick one");
    EXPECT_EQ(dialog.Options(), (TQelBrowseFlags{bfNewDialogStyle}));
    EXPECT_EQ(dialog.RootedAt(), SF_DESKTOP);
    std::vector<std::string> calls;
    dialog.onShow = [&] { calls.push_back("show"); };
    dialog.onClose = [&] { calls.push_back("close"); };

    QString shownTitle;
    bool resizable = false;
    OnModal pick([&](QWidget* modal) {
        shownTitle = modal->findChild<QLabel*>(QString(), Qt::FindDirectChildrenOnly)->text();
        resizable = modal->maximumSize() != modal->minimumSize();
        Type(modal, tree.Q("inner") + "/");
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.SelectedFolder(), tree.Path() + "/inner");
    EXPECT_EQ(shownTitle, "Pick one");
    EXPECT_TRUE(resizable);
    EXPECT_EQ(calls, (std::vector<std::string>{"show", "close"}));

    OnModal root([&](QWidget* modal) { Type(modal, "/"); });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.SelectedFolder(), "/");

    OnModal cancel(
        [&](QWidget* modal) { QTest::keyClick(modal->findChild<QFileDialog*>(), Qt::Key_Escape); });
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(dialog.SelectedFolder(), "");
}

TEST(BrowseForFolderTest, OptionsShapeTheChooser) {
    TempTree tree;
    tree.Folder("sub");
    tree.File("file.txt", 1);
    QWidget owner;
    TQelBrowseForFolder dialog(&owner);
    dialog.SetRootedAtFileSystemFolder(tree.Q());
    EXPECT_EQ(dialog.RootedAt(), SF_FILESYSTEMFOLDER);

    struct Seen {
        bool editShown = false;
        bool filesListed = false;
        bool newFolder = false;
        bool resizable = false;
        QString directory;
    };
    const auto look = [&](TQelBrowseFlags options) {
        dialog.SetOptions(options);
        Seen seen;
        OnModal inspect([&](QWidget* modal) {
            auto* chooser = modal->findChild<QFileDialog*>();
            seen.editShown = !chooser->findChild<QLineEdit*>("fileNameEdit")->isHidden();
            seen.filesListed = !chooser->testOption(QFileDialog::ShowDirsOnly);
            seen.newFolder = !chooser->testOption(QFileDialog::ReadOnly);
            seen.resizable = modal->maximumSize() != modal->minimumSize();
            seen.directory = chooser->directory().absolutePath();
            QTest::keyClick(chooser, Qt::Key_Escape);
        });
        dialog.Execute();
        return seen;
    };
    const Seen plain = look({});
    // The path field is always there: a folder can be typed or pasted.
    EXPECT_TRUE(plain.editShown);
    EXPECT_FALSE(plain.filesListed);
    EXPECT_FALSE(plain.newFolder);
    EXPECT_FALSE(plain.resizable);
    EXPECT_EQ(plain.directory, tree.Q());
    const Seen all = look({bfNewDialogStyle, bfFileSystemOnly, bfBrowseIncludeFiles, bfEditBox});
    EXPECT_TRUE(all.editShown);
    EXPECT_TRUE(all.filesListed);
    EXPECT_TRUE(all.newFolder);
    EXPECT_TRUE(all.resizable);
}

TEST(BrowseForFolderTest, OpensAtTheStartFolderWithHiddenFoldersAndTypingGoesToThePath) {
    TempTree tree;
    tree.Folder("shown/.hidden");
    tree.Folder("shown/usr");
    QWidget owner;
    TQelBrowseForFolder dialog(&owner);
    dialog.SetOptions({bfNewDialogStyle, bfFileSystemOnly});
    dialog.SetStartFolder(tree.Q("shown"));
    QString directory;
    bool hidden = false;
    OnModal type([&](QWidget* modal) {
        auto* chooser = modal->findChild<QFileDialog*>();
        directory = chooser->directory().absolutePath();
        hidden = chooser->filter().testFlag(QDir::Hidden);
        // What the user types lands in the path field, which takes a name in the folder shown.
        ASSERT_TRUE(WaitFor(
            [&] {
                return QApplication::focusWidget() ==
                       chooser->findChild<QLineEdit*>("fileNameEdit");
            },
            2000));
        QTest::keyClicks(QApplication::focusWidget(), "usr");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(directory, tree.Q("shown"));
    EXPECT_TRUE(hidden);
    EXPECT_EQ(dialog.SelectedFolder(), tree.Path() + "/shown/usr");

    // The list's selection left behind by typing ("~/t/" selects t) does not override the
    // folder the field names: typed, full, from home or relative, that folder is scanned.
    tree.Folder("shown/usr/mixed");
    const QString home = QDir::homePath();
    const struct {
        QString typed;
        std::string chosen;
    } cases[] = {
        {tree.Q("shown/usr/mixed"), tree.Path() + "/shown/usr/mixed"},
        {"usr/mixed", tree.Path() + "/shown/usr/mixed"},
        {"~", QFile::encodeName(home).toStdString()},
    };
    for (const auto& c : cases) {
        OnModal leftOver([&](QWidget* modal) {
            auto* chooser = modal->findChild<QFileDialog*>();
            auto* list = chooser->findChild<QAbstractItemView*>("listView");
            auto* edit = chooser->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_TRUE(
                WaitFor([&] { return list->model()->rowCount(list->rootIndex()) >= 2; }, 5000));
            const QModelIndex first = list->model()->index(0, 0, list->rootIndex());
            list->selectionModel()->select(
                first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            {
                const QSignalBlocker quiet(edit);
                edit->setText(c.typed);
            }
            QTest::keyClick(edit, Qt::Key_Return);
        });
        EXPECT_TRUE(dialog.Execute());
        EXPECT_EQ(dialog.SelectedFolder(), c.chosen) << c.typed.toStdString();
    }
}

TEST(BrowseForFolderTest, RootsAtTheDesktopsPlaces) {
    QWidget owner;
    TQelBrowseForFolder dialog(&owner);
    EXPECT_EQ(dialog.RootPath(), QDir::homePath());
    dialog.SetRootedAt(SF_DRIVES);
    EXPECT_EQ(dialog.RootPath(), "/");
    // A special folder that this desktop lacks falls back to the desktop's top.
    dialog.SetRootedAt(SF_PRINTERS);
    EXPECT_EQ(dialog.RootPath(), QDir::homePath());
    EXPECT_EQ(TQelBrowseForFolder::SpecialFolderPath(SF_PERSONAL),
              QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    // A missing folder given by path roots the chooser at the computer.
    dialog.SetRootedAtFileSystemFolder("/no/such/folder");
    EXPECT_EQ(dialog.RootPath(), "/");
}

TEST(SystemIconListTest, TheProgramsOwnIconInSeveralSizes) {
    const QIcon icon = ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : {16, 32}) {
        const QImage picture = icon.pixmap(size, size).toImage();
        EXPECT_EQ(picture.width(), size);
        // Not blank: the picture has pixels of more than one colour.
        EXPECT_NE(picture.pixelColor(0, 0), picture.pixelColor(size / 2, size / 2)) << size;
    }
}

TEST(SystemIconListTest, OneSharedListWithDistinctIconsPerType) {
    auto list = SystemIconList::Shared();
    EXPECT_EQ(list, SystemIconList::Shared());
    const int folder = list->IconIndex("/x/", "docs", true);
    const int text = list->IconIndex("/x/", "notes.txt", false);
    const int image = list->IconIndex("/x/", "photo.png", false);
    const int archive = list->IconIndex("/x/", "backup.zip", false);
    EXPECT_EQ(list->IconIndex("/y/", "other.txt", false), text);
    EXPECT_EQ(list->IconIndex("/y/", "more", true), folder);
    const std::set<int> distinct = {folder, text, image, archive};
    EXPECT_EQ(distinct.size(), 4u);
    // They look different, too.
    std::vector<QImage> pictures;
    for (const int index : distinct) {
        const QIcon icon = list->Icon(index);
        ASSERT_FALSE(icon.isNull()) << list->IconName(index).toStdString();
        const QImage picture = icon.pixmap(16, 16).toImage();
        for (const QImage& other : pictures) {
            EXPECT_NE(picture, other) << list->IconName(index).toStdString();
        }
        pictures.push_back(picture);
    }
    EXPECT_TRUE(list->Icon(-1).isNull());
    EXPECT_TRUE(list->Icon(100000).isNull());

    TQelSystemImageList images;
    EXPECT_TRUE(images.ShareImages());
    EXPECT_EQ(images.IconSize(), QSize(16, 16));
    images.SetSize(si_large);
    EXPECT_EQ(images.IconSize(), QSize(32, 32));
    images.SetShareImages(false);
    EXPECT_FALSE(images.Icon(text).isNull());
    const int later = list->IndexOf("application-x-later", "text-x-generic");
    EXPECT_TRUE(images.Icon(later).isNull());
    images.SetShareImages(true);
    EXPECT_FALSE(images.Icon(later).isNull());
}

TEST(SystemIconListTest, SharedLookupsGiveWhatTheMimeDatabaseGivesForEachName) {
    auto list = SystemIconList::Shared();
    const QStringList names = {"a.txt",          "b.TXT",     "Makefile",  "makefile.am",
                               "README",         "README.md", "notes.md",  "x.tar.gz",
                               "y.gz",           "core",      "backup~",   "libz.so.1",
                               "page.3",         "page.3x",   "no_suffix", ".hidden",
                               "CMakeLists.txt", "main.C",    "main.c"};
    // Twice over, so that the second round is answered from what the first one kept.
    for (int round = 0; round < 2; ++round) {
        for (const QString& name : names) {
            const QMimeType type =
                QMimeDatabase().mimeTypeForFile(name, QMimeDatabase::MatchExtension);
            const int index = list->IconIndex("/x/", name.toStdString(), false);
            EXPECT_EQ(list->IconName(index), type.iconName()) << name.toStdString();
        }
    }
}

}  // namespace
}  // namespace packmeter::qt
