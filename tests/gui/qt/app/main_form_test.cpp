#include "gui/qt/app/main_form.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <tuple>

#include "core/app/command_sink.hpp"
#include "core/app/list_order.hpp"
#include "core/app/volume_line.hpp"
#include "core/scan/folder_walk.hpp"
#include "gui/qt/framework/owned.hpp"
#include "gui/qt/shell/browse_for_folder.hpp"
#include "platform/system.hpp"
#include "tests/gui/qt/gui_test_support.hpp"
#include "tests/gui/qt/test_desktop.hpp"
#include "tests/support/fake_filesystem.hpp"

namespace packmeter::qt {
namespace {

using namespace testing;

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        tree.Folder("docs");
        tree.File("docs/a.txt", 5000);
        tree.Folder("empty");
        tree.File("zeta.txt", 3000);
        tree.File("alpha.bin", 200000);
        tree.File("Beta.png", 40);
    }

    MainFormServices Services(std::shared_ptr<FileSystem> fs = MakeFileSystem()) {
        MainFormServices services;
        services.fileSystem = std::move(fs);
        services.launcher = launcher;
        services.isFolder = IsFolder;
        services.pathProblem = PathProblem;
        // The fake file system's folders are its own, not the disk's.
        if (const auto fake = std::dynamic_pointer_cast<packmeter::testing::FakeFileSystem>(
                services.fileSystem)) {
            services.isFolder = [fake](const std::string& path) {
                const packmeter::testing::FakeNode* node = fake->Find(path);
                return node && node->kind == packmeter::testing::FakeNode::Kind::kFolder;
            };
            services.pathProblem = nullptr;
        }
        services.numberFormat = NumberFormat{};
        return services;
    }

    std::unique_ptr<TMainForm> Open(std::vector<std::string> args, MainFormServices services) {
        auto form = std::make_unique<TMainForm>(std::move(services), std::move(args));
        form->show();
        return form;
    }
    std::unique_ptr<TMainForm> Open(std::vector<std::string> args) {
        return Open(args, Services());
    }

    // Waits until the window shows the end of its scan.
    static bool ScanShown(TMainForm& form) {
        return WaitFor([&] {
            const TScan* scan = form.Logic().ActiveScan();
            return scan && scan->Finished() && form.SizeLabel()->text() != kCalculatingText;
        });
    }

    TempTree tree;
    std::shared_ptr<RecordingLauncher> launcher = std::make_shared<RecordingLauncher>();
};

TEST_F(MainWindowTest, LayoutTextsAndMenuBeforeAnyScan) {
    TMainForm form(Services(), {""});
    form.show();
    QTest::qWait(20);
    // The layout follows the screen's dots per inch and the desktop's font.
    const double scale = form.Scaled(1000) / 1000.0;
    EXPECT_GE(scale, form.logicalDpiX() / 96.0);
    EXPECT_EQ(form.windowTitle(), "Packmeter");
    EXPECT_NEAR(form.width(), 410 * scale, 1);
    EXPECT_NEAR(form.height(), 453 * scale, 1);
    EXPECT_EQ(form.HeaderPanel()->height(), form.Scaled(49));
    EXPECT_EQ(form.HeaderPanel()->mapTo(&form, QPoint(0, 0)).y(), form.menuBar()->height());
    EXPECT_EQ(form.PathLabel()->text(), "");
    EXPECT_EQ(form.SizeLabel()->text(), "Calculating ...");
    EXPECT_EQ(form.CompressedLabel()->text(), "Calculating ...");
    EXPECT_EQ(form.RatioLabel()->text(), "");
    // An empty first argument: the header says that no folder is chosen, instead of totals.
    EXPECT_TRUE(form.NoticeLabel()->isVisible());
    EXPECT_EQ(form.NoticeLabel()->text(), kNoFolderText);
    EXPECT_FALSE(form.SizeLabel()->isVisible());
    QStringList bold;
    for (QLabel* label : form.HeaderPanel()->findChildren<QLabel*>()) {
        if (label->font().bold()) {
            bold << label->text();
        }
    }
    bold.sort();
    EXPECT_EQ(bold, (QStringList{"Compressed:", "Path:", "Ratio:", "Size:"}));
    // The labels keep their order on their lines and never overlap.
    const auto named = [&](const QString& text) {
        for (QLabel* label : form.HeaderPanel()->findChildren<QLabel*>()) {
            if (label->text() == text) {
                return label;
            }
        }
        return static_cast<QLabel*>(nullptr);
    };
    const std::vector<QLabel*> line = {named("Size:"),       form.SizeLabel(),
                                       named("Compressed:"), form.CompressedLabel(),
                                       named("Ratio:"),      form.RatioLabel()};
    for (std::size_t i = 1; i < line.size(); ++i) {
        EXPECT_LT(line[i - 1]->geometry().right(), line[i]->x()) << i;
    }
    EXPECT_EQ(named("Size:")->x(), form.Scaled(8));
    // Moved right only as far as a wider font makes the label before it reach.
    EXPECT_GE(named("Ratio:")->x(), qRound(275 * scale));
    EXPECT_LE(named("Ratio:")->x(), form.CompressedLabel()->geometry().right() + qRound(4 * scale));
    EXPECT_EQ(form.PathLabel()->y(), form.Scaled(7));
    EXPECT_EQ(form.SizeLabel()->y(), form.Scaled(27));

    TListViewEx& list = *form.List();
    EXPECT_EQ(list.objectName(), "List");
    QStringList captions;
    for (int i = 0; i < list.ColumnCount(); ++i) {
        captions << list.model()->headerData(i, Qt::Horizontal).toString();
    }
    EXPECT_EQ(captions, (QStringList{"Name", "Size", "Compresed", "Ratio"}));
    // The Name column takes the rest of the list's width.
    EXPECT_GE(list.columnWidth(0), form.Scaled(170));
    EXPECT_EQ(list.header()->length(), list.viewport()->width());
    // At least their own widths, and wide enough for the widest texts they usually show
    // beside the cell's margins.
    const int margins = 2 * (list.style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
    const QFontMetrics metrics = list.fontMetrics();
    for (const auto& [column, least, longest] :
         {std::tuple{1, 70, "9999 KB"}, {2, 70, "9999 KB"}, {3, 40, "100 %"}}) {
        EXPECT_GE(list.columnWidth(column), qRound(least * scale)) << column;
        EXPECT_GT(list.columnWidth(column), metrics.horizontalAdvance(longest) + margins) << column;
    }
    EXPECT_EQ(list.SortColumn(), -1);
    EXPECT_EQ(list.SortOrder(), soNone);
    EXPECT_FALSE(list.AutoResort());
    EXPECT_FALSE(list.AutoSaveSettings());
    EXPECT_FALSE(list.UseExplorerFontSettings());
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(form.UpdateStatusTimer()->interval(), 1500);
    EXPECT_TRUE(form.UpdateStatusTimer()->isActive());
    // An empty first argument neither scans nor opens the picker.
    EXPECT_EQ(form.Logic().ActiveScan(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindowTest, FolderArgumentIsScannedAndTheStatusSaysWhenItIsDone) {
    auto form = Open({tree.Path()});
    const std::string folder = tree.Path() + "/";
    ASSERT_TRUE(ScanShown(*form));
    EXPECT_EQ(form->windowTitle().toStdString(), "Packmeter - " + folder);
    EXPECT_EQ(form->PathText().toStdString(), folder);
    const std::string done =
        VolumeSummary(MakeFileSystem()->GetVolumeInfo(folder)) + " \u2014 5 entries in ";
    EXPECT_EQ(form->StatusText().toStdString().substr(0, done.size()), done);
    EXPECT_EQ(Captions(*form->List()).size(), 5u);
    EXPECT_EQ(Captions(*form->List())[0] == "docs" || Captions(*form->List())[0] == "empty", true);
    EXPECT_EQ(form->RatioLabel()->text().right(2), " %");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    // The timer leaves the finished line in place.
    const QString finished = form->StatusText();
    form->UpdateStatusTimerTimer();
    EXPECT_EQ(form->StatusText(), finished);
    // At the default width, and narrower, the outcome is shown whole: what gives way is the
    // volume's sentence before it.
    const QString outcome = finished.mid(finished.indexOf(QString::fromUtf8(" \u2014 ")));
    for (const int width : {form->width(), 420}) {
        form->resize(width, form->height());
        ASSERT_TRUE(WaitFor([&] { return form->StatusLine()->width() < width; }));
        QApplication::processEvents();
        EXPECT_TRUE(form->StatusLine()->text().endsWith(outcome))
            << form->StatusLine()->text().toStdString();
        EXPECT_LE(form->StatusLine()->fontMetrics().horizontalAdvance(form->StatusLine()->text()),
                  form->StatusLine()->contentsRect().width());
    }
}

TEST_F(MainWindowTest, PickerOpensWithoutArgumentsAndCancellingLeavesTheWindowEmpty) {
    QString title;
    OnModal cancel([&](QWidget* modal) {
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            title += label->text();
        }
        QTest::keyClick(modal->findChild<QFileDialog*>(), Qt::Key_Escape);
    });
    auto form = Open({});
    ASSERT_TRUE(WaitFor([&] { return cancel.Done() && !QApplication::activeModalWidget(); }));
    EXPECT_TRUE(title.contains(kBrowseTitle));
    EXPECT_EQ(form->Logic().ActiveScan(), nullptr);
    EXPECT_EQ(form->List()->ItemCount(), 0);
    EXPECT_EQ(form->PathLabel()->text(), "");
    EXPECT_EQ(form->NoticeLabel()->text(), kNoFolderText);
    EXPECT_EQ(form->windowTitle(), "Packmeter");
    // Refresh before any scan does nothing.
    form->RefreshAction()->trigger();
    EXPECT_EQ(form->Logic().ActiveScan(), nullptr);
}

TEST_F(MainWindowTest, ScanCommandScansTheFolderChosenInThePicker) {
    auto form = Open({""});
    OnModal choose([&](QWidget* modal) {
        auto* edit = modal->findChild<QLineEdit*>("fileNameEdit");
        edit->setText(tree.Q("docs"));
        QTest::keyClick(edit, Qt::Key_Return);
    });
    form->ScanAction()->trigger();
    EXPECT_TRUE(choose.Done());
    ASSERT_TRUE(ScanShown(*form));
    EXPECT_EQ(form->BrowseForFolderDlg()->SelectedFolder(), tree.Path() + "/docs");
    EXPECT_EQ(form->Logic().CurrentFolder(), tree.Path() + "/docs/");
    EXPECT_EQ(Captions(*form->List()), (std::vector<std::string>{"a.txt"}));
}

TEST_F(MainWindowTest, HeaderClicksOrderTheEntriesAndMoveTheArrow) {
    auto form = Open({tree.Path()});
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    ClickHeader(list, 0);
    EXPECT_EQ(Captions(list),
              (std::vector<std::string>{"alpha.bin", "Beta.png", "zeta.txt", "docs", "empty"}));
    const QImage ascending = list.header()->grab().toImage();
    const auto up = FindArrow(ascending, soAscending);
    ASSERT_TRUE(up);
    EXPECT_LT(up->x(), list.header()->sectionSize(0));
    ClickHeader(list, 0);
    EXPECT_EQ(Captions(list),
              (std::vector<std::string>{"empty", "docs", "zeta.txt", "Beta.png", "alpha.bin"}));
    EXPECT_TRUE(FindArrow(list.header()->grab().toImage(), soDescending));
    EXPECT_FALSE(FindArrow(list.header()->grab().toImage(), soAscending));

    ClickHeader(list, 1);
    EXPECT_EQ(list.SortOrder(), soAscending);
    const auto sizes = Captions(list);
    // 0 KB rows first (equal among themselves), then 2 KB, 4 KB, 195 KB.
    EXPECT_EQ(std::vector<std::string>(sizes.end() - 3, sizes.end()),
              (std::vector<std::string>{"zeta.txt", "docs", "alpha.bin"}));
    const auto moved = FindArrow(list.header()->grab().toImage(), soAscending);
    ASSERT_TRUE(moved);
    EXPECT_GE(moved->x(), list.header()->sectionPosition(1));
    EXPECT_LT(moved->x(), list.header()->sectionPosition(2));
}

TEST_F(MainWindowTest, RowsAreColouredByCompressionState) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root().Folder("root");
    root.Folder("partly").File("packed", 80000, 20000, attr::kCompressed);
    root.File("plain", 50000).File("packed", 90000, 30000, attr::kCompressed);
    root.File("sparse", 90000, 1000, attr::kSparse);
    auto services = Services(fs);
    services.walkThreads = 1;
    auto form = Open({"/root"}, std::move(services));
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    ASSERT_EQ(Captions(list), (std::vector<std::string>{"partly", "plain", "packed", "sparse"}));
    const auto colour = [&](int row) {
        return list.model()->index(row, 1).data(Qt::ForegroundRole).value<QColor>();
    };
    EXPECT_EQ(colour(0), QColor(0, 0, 128));
    EXPECT_EQ(colour(1), list.palette().color(QPalette::Text));
    EXPECT_EQ(colour(2), QColor(0, 0, 255));
    EXPECT_EQ(colour(3), QColor(0, 0, 255));
    // On screen too, in the row's text.
    list.clearSelection();
    const QImage shot = list.viewport()->grab().toImage();
    const auto rowHas = [&](int row, const QColor& wanted) {
        const QRect rect = list.visualRect(list.model()->index(row, 0))
                               .united(list.visualRect(list.model()->index(row, 3)));
        for (int y = rect.top(); y <= rect.bottom(); ++y) {
            for (int x = rect.left(); x <= rect.right(); ++x) {
                if (shot.pixelColor(x, y) == wanted) {
                    return true;
                }
            }
        }
        return false;
    };
    EXPECT_TRUE(rowHas(0, QColor(0, 0, 128)));
    EXPECT_TRUE(rowHas(2, QColor(0, 0, 255)));
    EXPECT_FALSE(rowHas(1, QColor(0, 0, 255)));
}

TEST_F(MainWindowTest, SecondScanWhileTheFirstRunsLeavesNothingOfTheFirst) {
    TempTree big;
    for (int d = 0; d < 200; ++d) {
        big.Folder(QString("dir%1").arg(d));
        for (int f = 0; f < 40; ++f) {
            big.File(QString("dir%1/f%2").arg(d).arg(f), 10);
        }
    }
    auto form = Open({big.Path()});
    ASSERT_TRUE(WaitFor([&] { return form->List()->ItemCount() > 0; }));
    const bool firstStillRunning = !form->Logic().ActiveScan()->Finished();
    form->Logic().ScanFolder(tree.Path() + "/docs");
    EXPECT_EQ(form->List()->ItemCount(), 0);
    ASSERT_TRUE(ScanShown(*form));
    QTest::qWait(200);
    EXPECT_EQ(Captions(*form->List()), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(form->SizeLabel()->text(), "5,000 Bytes");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    RecordProperty("first_scan_was_running", firstStillRunning ? "yes" : "no");
}

TEST_F(MainWindowTest, ClosingTheWindowDuringAScanEndsItCleanly) {
    TempTree big;
    for (int d = 0; d < 100; ++d) {
        big.Folder(QString("dir%1/deeper").arg(d));
        for (int f = 0; f < 40; ++f) {
            big.File(QString("dir%1/deeper/f%2").arg(d).arg(f), 10);
        }
    }
    for (int round = 0; round < 3; ++round) {
        auto form = Open({big.Path()});
        ASSERT_TRUE(
            WaitFor([&] { return form->List()->ItemCount() > 0 || form->Logic().ActiveScan(); }));
        form->FileExitAction()->trigger();
        EXPECT_FALSE(form->isVisible());
        form.reset();
        QTest::qWait(20);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWindowTest, CtrlAWithAnyModifiersSelectsAllAndStillReachesTheList) {
    auto form = Open({tree.Path()});
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    list.setFocus();
    ASSERT_EQ(QApplication::focusWidget(), &list);
    struct KeyLog : QObject {
        bool eventFilter(QObject*, QEvent* event) override {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_A) {
                keys << key->keyCombination();
            }
            return false;
        }
        QList<QKeyCombination> keys;
    } log;
    list.installEventFilter(&log);
    const auto selected = [&] { return list.selectionModel()->selectedRows().size(); };

    QTest::keyClick(&list, Qt::Key_A);
    EXPECT_LT(selected(), 5);
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(selected(), 5);
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(selected(), 5);
    ASSERT_EQ(log.keys.size(), 3);
    EXPECT_EQ(log.keys[1], QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_A));
    list.removeEventFilter(&log);
}

TEST_F(MainWindowTest, DoubleClickStartsAnInstanceForAFolderAndOpensAFile) {
    tree.Folder("with space");
    auto form = Open({tree.Path()});
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    const auto rowOf = [&](const std::string& caption) {
        for (int i = 0; i < list.ItemCount(); ++i) {
            if (list.Item(i).caption == caption) {
                return i;
            }
        }
        return -1;
    };
    const auto doubleClick = [&](const std::string& caption) {
        const QRect rect = list.visualRect(list.model()->index(rowOf(caption), 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    };
    doubleClick("with space");
    doubleClick("zeta.txt");
    EXPECT_EQ(launcher->log, (std::vector<std::string>{"instance " + tree.Path() + "/with space",
                                                       "open " + tree.Path() + "/zeta.txt"}));
    // With several rows selected the first in list order counts.
    list.selectAll();
    form->Logic().ListDblClick();
    EXPECT_EQ(launcher->log.back().rfind("instance ", 0), 0u);
}

// Holds a scan's walk at one entry until released, as a slow disk would.
class Gate {
  public:
    // Holds at the `visit`th listing of `path`.
    void HoldAt(std::string path, int visit) {
        std::lock_guard guard(lock_);
        path_ = std::move(path);
        visit_ = visit;
        seen_ = 0;
        released_ = false;
        held_ = false;
    }
    void OnEntry(const std::string& path) {
        std::unique_lock guard(lock_);
        if (path == path_ && ++seen_ == visit_) {
            held_ = true;
            changed_.wait(guard, [&] { return released_; });
        }
    }
    bool Held() {
        std::lock_guard guard(lock_);
        return held_;
    }
    void Release() {
        {
            std::lock_guard guard(lock_);
            released_ = true;
        }
        changed_.notify_all();
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::string path_;
    int visit_ = 0;
    int seen_ = 0;
    bool held_ = false;
    bool released_ = true;
};

TEST_F(MainWindowTest, ArrowTotalsAndStatusStayTrueWhileRowsArriveAndEscapeStops) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root().Folder("root");
    for (const char* name : {"m", "c", "x", "a", "q", "b"}) {
        root.File(name, 1000);
    }
    auto gate = std::make_shared<Gate>();
    fs->onEntry = [gate](const std::string& path) { gate->OnEntry(path); };
    const std::string held = packmeter::testing::P("/root/q");
    // The second listing of the folder is its file pass: m, c, x and a are out by then.
    gate->HoldAt(held, 2);
    auto services = Services(fs);
    services.walkThreads = 1;
    auto form = Open({packmeter::testing::P("/root")}, std::move(services));
    TListViewEx& list = *form->List();
    ASSERT_TRUE(WaitFor([&] { return gate->Held() && list.ItemCount() == 4; }));
    // A header clicked during the scan: the rows that come later go to their places.
    ClickHeader(list, 0);
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"a", "c", "m", "x"}));
    gate->Release();
    ASSERT_TRUE(ScanShown(*form));
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"a", "b", "c", "m", "q", "x"}));
    EXPECT_EQ(form->SizeLabel()->text(), "6,000 Bytes");

    // Refresh: the totals are this scan's or "Calculating ...", the rows in the arrow's order.
    gate->HoldAt(held, 2);
    form->RefreshAction()->trigger();
    EXPECT_EQ(form->SizeLabel()->text(), kCalculatingText);
    EXPECT_EQ(form->CompressedLabel()->text(), kCalculatingText);
    ASSERT_TRUE(WaitFor([&] { return gate->Held() && list.ItemCount() == 4; }));
    EXPECT_EQ(Captions(list), (std::vector<std::string>{"a", "c", "m", "x"}));
    EXPECT_TRUE(FindArrow(list.header()->grab().toImage(), soAscending));

    // Escape stops the scan: the rows stay, the header says the totals are not known.
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(&list, Qt::Key_Escape);
    EXPECT_TRUE(form->Logic().ActiveScan()->Terminated());
    EXPECT_EQ(form->NoticeLabel()->text(), kStoppedText);
    EXPECT_TRUE(form->NoticeLabel()->isVisible());
    EXPECT_TRUE(form->StatusText().contains("stopped after 4 entries"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    gate->Release();
    ASSERT_TRUE(WaitFor([&] { return form->Logic().ActiveScan()->Finished(); }));
    QTest::qWait(100);
    EXPECT_EQ(list.ItemCount(), 4);
    EXPECT_EQ(form->NoticeLabel()->text(), kStoppedText);
}

TEST_F(MainWindowTest, ErrorsAreShownInsteadOfAnEmptyFolder) {
    const struct {
        std::string path;
        QString reason;
    } cases[] = {
        {tree.Path() + "/missing", "no such file or folder"},
        {tree.Path() + "/zeta.txt", "not a folder"},
    };
    for (const auto& c : cases) {
        auto form = Open({c.path});
        ASSERT_TRUE(WaitFor([&] { return form->findChild<QMessageBox*>() != nullptr; }));
        const QString error = "Cannot read " + QString::fromStdString(c.path) + "/: " + c.reason;
        EXPECT_EQ(form->findChild<QMessageBox*>()->text(), error);
        EXPECT_TRUE(form->NoticeLabel()->isVisible());
        EXPECT_EQ(form->NoticeLabel()->text(), error);
        EXPECT_FALSE(form->SizeLabel()->isVisible());
        EXPECT_EQ(form->StatusText(), error);
        EXPECT_EQ(form->List()->ItemCount(), 0);
        form->findChild<QMessageBox*>()->accept();
    }
}

TEST_F(MainWindowTest, DesktopKeysOpenRefreshCopyGoUpAndQuit) {
    auto form = Open({tree.Path()});
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    list.setFocus();
    QClipboard& clipboard = *QGuiApplication::clipboard();
    // Ctrl+C: all rows without a selection, the selected ones with one.
    list.clearSelection();
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.text().count("\r\n"), 6);  // the heading line and five rows
    int zeta = 0;
    while (list.Item(zeta).caption != "zeta.txt") {
        ++zeta;
    }
    list.setCurrentIndex(list.model()->index(zeta, 0));
    QTest::keyClick(&list, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard.text().toStdString(),
              "Name\tSize\tCompresed\tRatio\r\nzeta.txt\t" + ColumnText(list.Item(zeta), 1) + "\t" +
                  ColumnText(list.Item(zeta), 2) + "\t" + ColumnText(list.Item(zeta), 3) + "\r\n");
    // Enter opens the row; Backspace and Alt+Up open the parent folder in a new window.
    QTest::keyClick(&list, Qt::Key_Return);
    QTest::keyClick(&list, Qt::Key_Backspace);
    QTest::keyClick(&list, Qt::Key_Up, Qt::AltModifier);
    const std::string parent = QFileInfo(tree.Q()).absolutePath().toStdString();
    EXPECT_EQ(launcher->log,
              (std::vector<std::string>{"open " + tree.Path() + "/zeta.txt", "instance " + parent,
                                        "instance " + parent}));
    // A document that nothing opens says so in the status line.
    launcher->answer = "no application is set to open it";
    QTest::keyClick(&list, Qt::Key_Return);
    EXPECT_EQ(form->StatusText(), "Cannot open zeta.txt: no application is set to open it");
    // F5 scans again; Ctrl+Q closes the window.
    // (A new scan object may take the freed place of the last one: the header tells instead.)
    ASSERT_NE(form->SizeLabel()->text(), kCalculatingText);
    QTest::keyClick(&list, Qt::Key_F5);
    EXPECT_EQ(form->SizeLabel()->text(), kCalculatingText);
    ASSERT_TRUE(ScanShown(*form));
    QTest::keyClick(&list, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainWindowTest, DarkThemeRowsKeepTheirContrastAndTheHeaderExplainsTheColours) {
    auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
    auto& root = fs->Root().Folder("root");
    root.Folder("partly").File("packed", 80000, 20000, attr::kCompressed);
    root.File("packed", 90000, 30000, attr::kCompressed);
    auto services = Services(fs);
    services.walkThreads = 1;
    auto form = Open({"/root"}, std::move(services));
    ASSERT_TRUE(ScanShown(*form));
    TListViewEx& list = *form->List();
    EXPECT_EQ(list.model()->headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString(),
              kColourLegend);
    for (const QColor base : {QColor(255, 255, 255), QColor(42, 42, 42), QColor(0, 0, 0)}) {
        QPalette palette = list.palette();
        palette.setColor(QPalette::Base, base);
        palette.setColor(QPalette::Text, base.lightness() < 128 ? Qt::white : Qt::black);
        list.setPalette(palette);
        const Rgb back{base.red(), base.green(), base.blue()};
        for (const auto& [row, least] :
             {std::pair{0, kTextContrast}, std::pair{1, kTextContrast}}) {
            const QColor text =
                list.model()->index(row, 0).data(Qt::ForegroundRole).value<QColor>();
            EXPECT_GE(ContrastRatio({text.red(), text.green(), text.blue()}, back), least)
                << base.name().toStdString() << " row " << row;
        }
    }
}

TEST_F(MainWindowTest, LayoutFollowsALargeDesktopFontAndUsesTheWindowWidth) {
    const QFont before = QApplication::font();
    QFont big = before;
    big.setPointSize(14);
    QApplication::setFont(big);
    const QString deep =
        "a rather long folder name/and another long one/and a third to make it long";
    tree.Folder(deep);
    tree.File(deep + "/file", 10);
    auto form = Open({tree.Q(deep).toStdString()});
    ASSERT_TRUE(ScanShown(*form));
    QApplication::setFont(before);
    EXPECT_NEAR(form->Scaled(1000), 1000 * form->logicalDpiX() / 96.0 * 14 / 8, 2);
    EXPECT_EQ(form->HeaderPanel()->height(), form->Scaled(49));
    // The labels of each line keep apart, and none leaves the header.
    const QWidget& panel = *form->HeaderPanel();
    std::vector<QLabel*> line;
    for (int i = int(HeaderLabel::kSizeTitle); i <= int(HeaderLabel::kRatio); ++i) {
        line.push_back(form->Label(HeaderLabel(i)));
    }
    for (std::size_t i = 1; i < line.size(); ++i) {
        EXPECT_LT(line[i - 1]->geometry().right(), line[i]->x()) << i;
    }
    EXPECT_LE(form->PathLabel()->geometry().right(), panel.width());
    // The long path is shortened in the middle and shown whole in the tool tip.
    EXPECT_TRUE(form->PathLabel()->text().contains(QChar(0x2026)));
    EXPECT_EQ(form->PathLabel()->toolTip(), form->PathText());
    EXPECT_TRUE(form->PathLabel()->text().endsWith("make it long/"));
    // The sorted "Compresed" caption keeps its whole text beside the arrow.
    TListViewEx& list = *form->List();
    ClickHeader(list, 2);
    const QFontMetrics header = list.header()->fontMetrics();
    EXPECT_GE(list.columnWidth(2),
              header.horizontalAdvance("Compresed") + packmeter::qt::Scaled(list, 8));
    // A wider window widens the Name column only.
    const int name = list.columnWidth(0);
    const int size = list.columnWidth(1);
    form->resize(form->width() + 200, form->height());
    QTest::qWait(20);
    EXPECT_EQ(list.columnWidth(0), name + 200);
    EXPECT_EQ(list.columnWidth(1), size);
}

TEST_F(MainWindowTest, CommandFigureStandsWholeBesideItsBarAtTheFirstWidth) {
    for (const int points : {0, 14}) {
        SCOPED_TRACE(points);
        const QFont before = QApplication::font();
        if (points > 0) {
            QFont big = before;
            big.setPointSize(points);
            QApplication::setFont(big);
        }
        auto form = Open({tree.Path()});
        ASSERT_TRUE(ScanShown(*form));
        QApplication::setFont(before);
        CommandSink<TMainForm> sink(*form);
        CommandProgress progress;
        progress.running = true;
        progress.entriesDone = 12345;
        progress.entriesTotal = 56789;
        progress.bytesDone = std::int64_t(203) << 20;
        progress.bytesTotal = std::int64_t(362) << 20;
        sink.SetCommandProgress(progress);
        QTest::qWait(20);
        const QLabel& figure = *form->CommandProgressLabel();
        const QRect bar = form->CommandProgressBar()->geometry();
        const QRect cancel = form->CancelButton()->geometry();
        ASSERT_TRUE(form->CommandProgressBar()->isVisible());
        EXPECT_EQ(figure.text().toStdString(), progress.Text());
        EXPECT_GE(figure.contentsRect().width(),
                  figure.fontMetrics().horizontalAdvance(figure.text()));
        EXPECT_LT(figure.geometry().right(), bar.left());
        EXPECT_LT(bar.right(), cancel.left());
        EXPECT_LE(cancel.right(), form->statusBar()->width());
        SaveShot(form->grab().toImage(),
                 points > 0 ? "qt-progress-14pt.png" : "qt-progress-first-width.png");
        progress.running = false;
        sink.SetCommandProgress(progress);
        EXPECT_FALSE(form->CommandProgressBar()->isVisible());
        EXPECT_FALSE(figure.isVisible());
    }
}

}  // namespace
}  // namespace packmeter::qt
