// The window's context menus on real folders: the path label's menu is the shown folder's own,
// and on a real btrfs volume "&COMPRESS" and "&DECOMPRESS" switch the chosen rows while the
// window goes on answering. $PACKMETER_SHOT_DIR, when set, receives pictures of the menu
// (qt-menu.png) and of a command in progress (qt-progress.png).
#include <gtest/gtest.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/app/compression_commands.hpp"
#include "core/app/main_menu.hpp"
#include "core/scan/folder_walk.hpp"
#include "core/scan/scan.hpp"
#include "gui/qt/app/main_form.hpp"
#include "platform/system.hpp"
#include "tests/gui/qt/gui_test_support.hpp"
#include "tests/gui/qt/test_desktop.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter::qt {
namespace {

using namespace testing;
using packmeter::testing::Compressible;
using packmeter::testing::CompsizeBytes;
using packmeter::testing::Incompressible;
using packmeter::testing::RunCommand;
using packmeter::testing::TestArea;
using packmeter::testing::TreeSha256;
using packmeter::testing::VolumeType;
using packmeter::testing::WriteFile;

MainFormServices Services() {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    services.launcher = std::make_shared<RecordingLauncher>();
    services.isFolder = IsFolder;
    services.pathProblem = PathProblem;
    services.numberFormat = NumberFormat{};
    return services;
}

std::unique_ptr<TMainForm> OpenWindow(const std::string& folder) {
    auto form = std::make_unique<TMainForm>(Services(), std::vector<std::string>{folder});
    form->resize(640, 360);
    form->show();
    // The window's keys (Escape) reach it only while it is the active window.
    form->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    const bool shown = WaitFor([&] {
        const TScan* scan = form->Logic().ActiveScan();
        return scan && scan->Finished() && form->SizeLabel()->text() != kCalculatingText;
    });
    EXPECT_TRUE(shown);
    return form;
}

// The window with the open menus drawn over it where they stand on the screen.
QImage WindowWithMenus(QWidget& window, const std::vector<QMenu*>& menus) {
    const QImage back = window.grab().toImage();
    QRect all(QPoint(0, 0), back.size());
    for (QMenu* menu : menus) {
        all |= QRect(window.mapFromGlobal(menu->pos()), menu->size());
    }
    QImage both(all.size(), QImage::Format_ARGB32);
    both.fill(Qt::white);
    QPainter painter(&both);
    painter.drawImage(0, 0, back);
    for (QMenu* menu : menus) {
        painter.drawImage(window.mapFromGlobal(menu->pos()), menu->grab().toImage());
    }
    return both;
}

int RowOf(const TListViewEx& list, const std::string& caption) {
    for (int row = 0; row < list.ItemCount(); ++row) {
        if (list.Item(row).caption == caption) {
            return row;
        }
    }
    ADD_FAILURE() << "no row " << caption;
    return 0;
}

void Select(TListViewEx& list, const std::vector<std::string>& captions) {
    list.clearSelection();
    for (const auto& caption : captions) {
        list.selectionModel()->select(list.model()->index(RowOf(list, caption), 0),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

// A right-click on the first selected row, as the desktop delivers it.
void RightClickSelection(TListViewEx& list) {
    const QModelIndex first = list.selectionModel()->selectedRows().value(0);
    const QPoint at = list.visualRect(first).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &event);
}

TEST(ContextMenuWindow, PathLabelMenuIsTheShownFoldersOwnWithTheCommandsAfterTheDesktops) {
    TempTree tree;
    tree.Folder("docs");
    tree.File("docs/a.txt", 5000);
    tree.File("notes.txt", 300);
    auto form = OpenWindow(tree.Path());
    Select(*form->List(), {"notes.txt"});

    // The rows' menu, as a picture: the desktop's commands for a plain text file, and the one
    // command that applies to a file stored plain.
    QStringList rowMenu;
    ChooseFromMenu look("", &rowMenu, [&](QMenu* menu) {
        if (auto* with = menu->findChild<QMenu*>("openWithMenu")) {
            menu->setActiveAction(with->menuAction());
            with->popup(menu->mapToGlobal(menu->actionGeometry(with->menuAction()).topRight()));
            QTest::qWait(50);
            SaveShot(WindowWithMenus(*form, {menu, with}), "qt-menu-rows.png");
            with->hide();
        }
    });
    RightClickSelection(*form->List());
    ASSERT_TRUE(look.Done());
    EXPECT_TRUE(rowMenu.contains(kCompressCaption)) << rowMenu.join(", ").toStdString();
    EXPECT_FALSE(rowMenu.contains(kDecompressCaption));
    EXPECT_EQ(rowMenu.value(0), QString("&Open With ") + kTestViewerName);

    QStringList seen;
    ChooseFromMenu choose("Copy &Path", &seen, [&](QMenu* menu) {
        SaveShot(WindowWithMenus(*form, {menu}), "qt-menu.png");
    });
    QTest::mouseRelease(form->PathLabel(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitFor([&] { return choose.Done(); }));
    ASSERT_TRUE(WaitFor([&] { return QApplication::clipboard()->text() == tree.Q(); }))
        << QApplication::clipboard()->text().toStdString();

    EXPECT_TRUE(form->List()->selectionModel()->selectedRows().isEmpty());
    // The menu stood for the folder itself: the browser now sits in its parent.
    EXPECT_EQ(form->ShellBrowser().Folder(),
              QFileInfo(tree.Q()).absolutePath().toStdString() + '/');
    // The desktop's commands first, the program's after them; with no row selected the items
    // keep the visibility the plain file's popup gave them.
    const auto properties = seen.indexOf("P&roperties");
    ASSERT_GE(properties, 0) << seen.join(", ").toStdString();
    EXPECT_EQ(seen.mid(properties + 1),
              (QStringList{"-", kCompressCaption, kCompressWithCaption, kEstimateCaption}))
        << seen.join(", ").toStdString();
}

// What the volume itself says a file or tree takes: compsize on btrfs (st_blocks counts the
// uncompressed size there), the allocated blocks of the files on NTFS.
std::int64_t VolumeOnDisk(VolumeType type, const std::string& path) {
    if (type != VolumeType::kNtfs) {
        return CompsizeBytes(path);
    }
    if (!IsFolder(path)) {
        return packmeter::testing::AllocatedBytes(path);
    }
    std::int64_t bytes = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
        if (entry.is_regular_file()) {
            bytes += packmeter::testing::AllocatedBytes(entry.path().string());
        }
    }
    return bytes;
}

// Escape during "&COMPRESS", then "&COMPRESS" and "&DECOMPRESS" on a folder and a file of a
// real volume, chosen from the rows' context menu.
void CompressAndDecompressFromTheMenu(VolumeType type, const std::string& root) {
    const auto onDiskOf = [type](const std::string& path) { return VolumeOnDisk(type, path); };
    const std::string folder = root + "/shown";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/tree").c_str(), 0755);
    ::mkdir((folder + "/tree/sub").c_str(), 0755);
    WriteFile(folder + "/tree/a.txt", Compressible(3 << 20));
    WriteFile(folder + "/tree/sub/b.txt", Compressible(3 << 20));
    WriteFile(folder + "/tree/sub/noise.bin", Incompressible(1 << 20));
    // Large enough that switching it takes far longer than the pauses allowed below.
    WriteFile(folder + "/big.txt", Compressible(32 << 20));
    WriteFile(folder + "/left alone.txt", Compressible(1 << 20));
    // Data still in the page cache is not rewritten by the switch: users' files are on disk.
    RunCommand({"sync"});
    const std::string sums = TreeSha256(folder);

    auto form = OpenWindow(folder);
    TListViewEx& list = *form->List();
    const auto expectRow = [&](const std::string& caption, const std::string& path,
                               bool compressed) {
        SCOPED_TRACE(caption);
        const ListItem& item = list.Item(RowOf(list, caption));
        const std::int64_t logical = IsFolder(path)
                                         ? packmeter::testing::WalkSizes(path).logical
                                         : std::int64_t(std::filesystem::file_size(path));
        const std::int64_t onDisk = onDiskOf(path);
        const SizePair texts = FormatSizePair(logical, onDisk);
        EXPECT_EQ(ColumnText(item, 1), texts.size);
        EXPECT_EQ(ColumnText(item, 2), texts.compressed);
        EXPECT_EQ(item.keys.state != CompressionState::kPlain, compressed);
        if (compressed) {
            EXPECT_LT(onDisk, logical * 3 / 4);
        }
    };
    const std::vector<std::string> order = packmeter::qt::testing::Captions(list);

    // Escape while the command runs stops it after the current file: the line says so, and
    // every row shows what is true of it.
    {
        Select(list, {"tree", "big.txt"});
        QTimer escape;
        QObject::connect(&escape, &QTimer::timeout, [&] {
            if (!form->Logic().CommandRunning()) {
                return;
            }
            // The offscreen platform may hand the activation back late after the menu.
            if (QApplication::activeWindow() != form.get()) {
                form->activateWindow();
                return;
            }
            escape.stop();
            QTest::keyClick(&list, Qt::Key_Escape);
        });
        escape.start(1);
        ChooseFromMenu choose(kCompressCaption);
        RightClickSelection(list);
        ASSERT_TRUE(choose.Done());
        ASSERT_TRUE(WaitFor([&] { return !form->Logic().CommandRunning(); }, 60000));
        EXPECT_TRUE(form->StatusText().endsWith(kCancelledText))
            << form->StatusText().toStdString();
        EXPECT_FALSE(form->CancelButton()->isVisible());
        EXPECT_EQ(TreeSha256(folder), sums);
        for (const char* name : {"tree", "big.txt"}) {
            SCOPED_TRACE(name);
            const ListItem& item = list.Item(RowOf(list, name));
            const std::string path = folder + "/" + name;
            const std::int64_t logical = IsFolder(path)
                                             ? packmeter::testing::WalkSizes(path).logical
                                             : std::int64_t(std::filesystem::file_size(path));
            EXPECT_EQ(ColumnText(item, 2), FormatSizePair(logical, onDiskOf(path)).compressed);
        }
    }

    for (const char* caption : {kCompressCaption, kDecompressCaption}) {
        SCOPED_TRACE(caption);
        const bool compress = std::string(caption) == kCompressCaption;
        Select(list, {"tree", "big.txt"});
        // The event loop keeps turning while the command runs, and the progress shows.
        QElapsedTimer clock;
        qint64 last = -1;
        qint64 longest = 0;
        bool progressShown = false;
        bool pictured = false;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            if (last >= 0 && form->Logic().CommandRunning()) {
                longest = std::max(longest, now - last);
            }
            last = now;
            progressShown = progressShown || form->CancelButton()->isVisible();
            // Pictured once the count is done and the first entry is being switched.
            if (compress && !pictured && form->CancelButton()->isVisible() &&
                form->CommandProgressBar()->maximum() > 0 &&
                form->StatusText().startsWith(kCompressingText)) {
                pictured = true;
                SaveShot(form->grab().toImage(), "qt-progress.png");
            }
        });
        clock.start();
        ticks.start(5);
        ChooseFromMenu choose(caption);
        RightClickSelection(list);
        ASSERT_TRUE(choose.Done());
        ASSERT_TRUE(WaitFor(
            [&] {
                return !form->Logic().CommandRunning() &&
                       form->StatusText().endsWith(kFinishedText);
            },
            60000))
            << form->StatusText().toStdString();
        ticks.stop();
        std::printf("%s: longest pause of the event loop %lld ms\n", caption,
                    static_cast<long long>(longest));
        // Switching big.txt alone takes several times this; the rest is the scheduler's share
        // when tests run side by side on two cores.
        EXPECT_LT(longest, 250);
        EXPECT_TRUE(progressShown);
        EXPECT_FALSE(form->CancelButton()->isVisible());
        EXPECT_EQ(form->StatusText().toStdString(),
                  std::string(compress ? kCompressingText : kDecompressingText) + folder +
                      "/big.txt" + kEllipsisText + kFinishedText);

        expectRow("tree", folder + "/tree", compress);
        expectRow("big.txt", folder + "/big.txt", compress);
        expectRow("left alone.txt", folder + "/left alone.txt", false);
        EXPECT_EQ(packmeter::qt::testing::Captions(list), order) << "rows keep their places";
        EXPECT_TRUE(list.selectionModel()->selectedRows().isEmpty());
        EXPECT_EQ(TreeSha256(folder), sums);
    }

    // The path label's "&COMPRESS" switches the shown folder's whole tree: every row, and the
    // header's totals measured again under the rows that stay.
    const QString ratioBefore = form->RatioLabel()->text();
    ChooseFromMenu choose(kCompressCaption);
    QTest::mouseRelease(form->PathLabel(), Qt::LeftButton, {}, QPoint(5, 5));
    ASSERT_TRUE(WaitFor([&] { return choose.Done(); }));
    ASSERT_TRUE(WaitFor(
        [&] {
            const TScan* scan = form->Logic().ActiveScan();
            return !form->Logic().CommandRunning() && scan && scan->Finished() &&
                   form->SizeLabel()->text() != kCalculatingText;
        },
        60000))
        << form->StatusText().toStdString();
    EXPECT_EQ(form->StatusText().toStdString(),
              std::string(kCompressingText) + folder + "/" + kEllipsisText + kFinishedText);
    expectRow("tree", folder + "/tree", true);
    expectRow("big.txt", folder + "/big.txt", true);
    expectRow("left alone.txt", folder + "/left alone.txt", true);
    EXPECT_EQ(packmeter::qt::testing::Captions(list), order);
    const FolderSizes whole = GetFolderSizes(*MakeFileSystem(), folder);
    EXPECT_EQ(form->RatioLabel()->text().toStdString(),
              MakeScanTotals(whole.logical, whole.onDisk, NumberFormat{}).ratioText);
    EXPECT_NE(form->RatioLabel()->text(), ratioBefore);
    EXPECT_EQ(TreeSha256(folder), sums);
}

TEST(ContextMenuWindow, CompressAndDecompressOnBtrfsFromTheMenu) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    CompressAndDecompressFromTheMenu(VolumeType::kBtrfs, root);
}

TEST(ContextMenuWindow, CompressAndDecompressOnNtfsFromTheMenu) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kNtfs, root);
    CompressAndDecompressFromTheMenu(VolumeType::kNtfs, root);
}

// Holds the command's worker at its first listing until released.
class Hold {
  public:
    void Arm() { armed_ = true; }
    void OnEntry() {
        std::unique_lock lock(lock_);
        if (armed_) {
            reached_ = true;
            released_.wait_for(lock, std::chrono::seconds(20), [this] { return !armed_; });
        }
    }
    void Release() {
        {
            const std::lock_guard lock(lock_);
            armed_ = false;
        }
        released_.notify_all();
    }
    bool Reached() {
        const std::lock_guard lock(lock_);
        return reached_;
    }

  private:
    std::mutex lock_;
    std::condition_variable released_;
    bool armed_ = false;
    bool reached_ = false;
};

TEST(ContextMenuWindow, ClosingDuringACommandAsksThenStopsItAndWaits) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root().Folder("data");
    for (const char* name : {"a", "b", "c"}) {
        root.File(name, 1000);
    }
    auto hold = std::make_shared<Hold>();
    fs->onEntry = [hold](const std::string&) { hold->OnEntry(); };
    MainFormServices services = Services();
    services.fileSystem = fs;
    services.isFolder = [fs](const std::string& path) {
        const auto* node = fs->Find(path);
        return node && node->kind == packmeter::testing::FakeNode::Kind::kFolder;
    };
    services.pathProblem = nullptr;
    auto form = std::make_unique<TMainForm>(std::move(services), std::vector<std::string>{"/data"});
    form->show();
    ASSERT_TRUE(WaitFor([&] {
        const TScan* scan = form->Logic().ActiveScan();
        return scan && scan->Finished() && form->List()->ItemCount() == 3;
    }));
    form->List()->selectAll();
    hold->Arm();
    form->Logic().DecompressMenuItemClick(kCompressTag);
    ASSERT_TRUE(WaitFor([&] { return hold->Reached(); }));

    const auto answer = [](QMessageBox::StandardButton button) {
        return [button](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text().toStdString(), kCloseWhileRunningText);
            box->button(button)->click();
        };
    };
    {
        OnModal no(answer(QMessageBox::No));
        form->close();
        EXPECT_TRUE(no.Done());
        EXPECT_TRUE(form->isVisible());
        EXPECT_TRUE(form->Logic().CommandRunning());
    }
    // Yes: the window waits for the file in hand, then closes with nothing left running.
    std::thread release([hold] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        hold->Release();
    });
    OnModal yes(answer(QMessageBox::Yes));
    form->close();
    release.join();
    EXPECT_TRUE(yes.Done());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->Logic().CommandRunning());
    EXPECT_LT(fs->switches.size(), 3u) << "stopped after the file in hand";
}

}  // namespace
}  // namespace packmeter::qt
