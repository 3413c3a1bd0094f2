// "Estimate saving..." and "Compress with..." in the window, on a real btrfs volume: the
// forecast's dialog (quick, then exact), its Compress button, whose result on the volume is
// what the exact forecast said, the choice dialog with its threshold, and Cancel.
// $PACKMETER_SHOT_DIR, when set, receives pictures of both dialogs.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QContextMenuEvent>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <algorithm>

#include "core/app/compression_commands.hpp"
#include "core/app/main_menu.hpp"
#include "gui/qt/app/compress_with_dialog.hpp"
#include "gui/qt/app/estimate_dialog.hpp"
#include "gui/qt/app/main_form.hpp"
#include "platform/system.hpp"
#include "tests/gui/qt/gui_test_support.hpp"
#include "tests/gui/qt/test_desktop.hpp"
#include "tests/platform/linux/scan/test_volumes.hpp"
#include "tests/platform/linux/scan/tree_tools.hpp"

namespace packmeter::qt {
namespace {

using namespace testing;
using packmeter::testing::Compressible;
using packmeter::testing::CompsizeBytes;
using packmeter::testing::Incompressible;
using packmeter::testing::RunCommand;
using packmeter::testing::TestArea;
using packmeter::testing::VolumeType;
using packmeter::testing::WriteFile;

std::unique_ptr<TMainForm> OpenWindow(const std::string& folder) {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    services.newFileSystem = [] { return MakeFileSystem(); };
    services.launcher = std::make_shared<RecordingLauncher>();
    services.isFolder = IsFolder;
    services.pathProblem = PathProblem;
    auto form = std::make_unique<TMainForm>(std::move(services), std::vector<std::string>{folder});
    form->resize(640, 360);
    form->show();
    EXPECT_TRUE(WaitFor([&] {
        const TScan* scan = form->Logic().ActiveScan();
        return scan && scan->Finished() && form->SizeLabel()->text() != kCalculatingText;
    }));
    return form;
}

void Select(TListViewEx& list, const std::vector<std::string>& captions) {
    list.clearSelection();
    for (const auto& caption : captions) {
        for (int row = 0; row < list.ItemCount(); ++row) {
            if (list.Item(row).caption == caption) {
                list.selectionModel()->select(
                    list.model()->index(row, 0),
                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
            }
        }
    }
}

void ChooseOnRows(TListViewEx& list, const char* caption) {
    ChooseFromMenu choose(caption);
    const QModelIndex first = list.selectionModel()->selectedRows().value(0);
    const QPoint at = list.visualRect(first).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, list.viewport()->mapToGlobal(at));
    QApplication::sendEvent(list.viewport(), &event);
    ASSERT_TRUE(WaitFor([&] { return choose.Done(); }));
}

// The result dialog that opens next, once it shows.
EstimateDialog* NextDialog(TMainForm& form) {
    EstimateDialog* dialog = nullptr;
    WaitFor(
        [&] {
            for (auto* shown : form.findChildren<EstimateDialog*>()) {
                if (shown->isVisible()) {
                    dialog = shown;
                }
            }
            return dialog != nullptr;
        },
        60000);
    return dialog;
}

std::vector<std::string> Column(const QTableWidget& table, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < table.rowCount(); ++row) {
        texts.push_back(table.item(row, column)->text().toStdString());
    }
    return texts;
}

TEST(EstimateWindow, ForecastsTheRowsCompressesWithTheChoiceAndCancels) {
    TestArea area;
    PACKMETER_VOLUME_OR_SKIP(area, VolumeType::kBtrfs, root);
    const std::string folder = root + "/shown";
    ::mkdir(folder.c_str(), 0755);
    ::mkdir((folder + "/docs").c_str(), 0755);
    WriteFile(folder + "/text.txt", Compressible(3 << 20));
    WriteFile(folder + "/docs/a.txt", Compressible(1 << 20));
    WriteFile(folder + "/docs/noise.bin", Incompressible(1 << 20));
    WriteFile(folder + "/noise.bin", Incompressible(2 << 20, 7));
    RunCommand({"sync"});
    // No choice kept from an earlier run: the forecast is the volume's default.
    SaveCompressionChoice({});
    auto form = OpenWindow(folder);
    TListViewEx& list = *form->List();

    // The quick forecast of two rows, then the exact one from its button.
    Select(list, {"text.txt", "docs"});
    ChooseOnRows(list, kEstimateCaption);
    EstimateDialog* quick = NextDialog(*form);
    ASSERT_TRUE(quick);
    EXPECT_TRUE(quick->Result().request.quick);
    EXPECT_TRUE(form->StatusText().endsWith(kFinishedText)) << form->StatusText().toStdString();
    ASSERT_TRUE(quick->ExactButton());
    QTest::mouseClick(quick->ExactButton(), Qt::LeftButton);
    EstimateDialog* exact = NextDialog(*form);
    ASSERT_TRUE(exact);
    SaveShot(exact->grab().toImage(), "qt-estimate.png");
    // The dialog deletes itself once closed: what it showed is kept here.
    const EstimateResult result = exact->Result();
    EXPECT_FALSE(result.request.quick);
    EXPECT_FALSE(exact->ExactButton());
    const QTableWidget& table = *exact->Table();
    // The rows in list order, then the totals; every cell as the shared texts make it.
    const std::string slash(1, kPathSeparator);
    std::vector<std::string> names = Column(table, 0);
    EXPECT_EQ(names.back(), "Total");
    std::sort(names.begin(), names.end() - 1);
    EXPECT_EQ(names, (std::vector<std::string>{"docs" + slash, "text.txt", "Total"}));
    std::vector<EstimateLine> lines = EstimateLines(result);
    lines.push_back(EstimateTotalLine(result));
    for (int column = 1; column < int(kEstimateColumnCount); ++column) {
        std::vector<std::string> expected;
        for (const EstimateLine& line : lines) {
            expected.push_back(line.cells[std::size_t(column)]);
        }
        EXPECT_EQ(Column(table, column), expected) << column;
    }
    ASSERT_EQ(result.rows.size(), 2u);
    const bool docsFirst = result.rows[0].folder;
    const ForecastSizes docs = result.rows[docsFirst ? 0 : 1].sizes;
    const ForecastSizes text = result.rows[docsFirst ? 1 : 0].sizes;
    EXPECT_EQ(docs.files, 2);
    EXPECT_EQ(text.size, 3 << 20);
    EXPECT_LT(text.forecast, text.size / 4);
    // The noise in docs stays as large as it is.
    EXPECT_GT(docs.forecast, 1 << 20);
    EXPECT_EQ(EstimateTotals(result).forecast, docs.forecast + text.forecast);

    // Its Compress button compresses those rows; the volume then holds what was forecast.
    QTest::mouseClick(exact->CompressButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !form->Logic().CommandRunning(); }, 60000));
    EXPECT_TRUE(form->StatusText().endsWith(kFinishedText)) << form->StatusText().toStdString();
    for (const auto& [name, sizes] : {std::pair{"/docs", docs}, std::pair{"/text.txt", text}}) {
        const std::int64_t onDisk = CompsizeBytes(folder + name);
        EXPECT_NEAR(double(onDisk), double(sizes.forecast), double(sizes.size) / 100) << name;
    }

    // "Compress with...": zlib at level 6, leaving alone what saves less than 10 %; the choice
    // is kept for the next time.
    Select(list, {"noise.bin"});
    OnModal choose([&](QWidget* modal) {
        auto* dialog = qobject_cast<CompressWithDialog*>(modal);
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->AlgorithmBox()->isVisible());
        dialog->AlgorithmBox()->setCurrentIndex(dialog->AlgorithmBox()->findText("zlib"));
        EXPECT_EQ(dialog->LevelBox()->maximum(), 9);
        dialog->LevelBox()->setValue(6);
        dialog->MinSavingBox()->setValue(10);
        SaveShot(dialog->grab().toImage(), "qt-compress-with.png");
        dialog->accept();
    });
    ChooseOnRows(list, kCompressWithCaption);
    ASSERT_TRUE(WaitFor([&] { return choose.Done() && !form->Logic().CommandRunning(); }, 60000));
    EXPECT_TRUE(form->StatusText().endsWith(QString::fromStdString(LeftAloneText(1))))
        << form->StatusText().toStdString();
    EXPECT_EQ(CompressionMethodText(LoadCompressionChoice()), "zlib:6");
    EXPECT_EQ(LoadCompressionChoice().minSavingPercent, 10);
    EXPECT_EQ(form->Logic().Commands().Choice().level, 6);

    // Cancel in the status bar ends an estimate of the whole folder: no dialog opens.
    list.clearSelection();
    form->Logic().Commands().EstimateMenuItemClick(folder, false);
    EXPECT_TRUE(form->CancelButton()->isVisible());
    EXPECT_TRUE(form->StatusText().startsWith(kEstimatingText));
    QTest::mouseClick(form->CancelButton(), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !form->Logic().CommandRunning(); }, 60000));
    EXPECT_TRUE(form->StatusText().endsWith(kCancelledText)) << form->StatusText().toStdString();
    EXPECT_FALSE(form->CancelButton()->isVisible());
    QTest::qWait(50);
    for (auto* shown : form->findChildren<EstimateDialog*>()) {
        EXPECT_FALSE(shown->isVisible());
    }
}

}  // namespace
}  // namespace packmeter::qt
