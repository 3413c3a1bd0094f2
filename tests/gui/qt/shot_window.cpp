// Opens the window on a folder, waits for the scan to end, sorts by the columns given and saves
// a picture of the window: shot_window FOLDER OUT.png [COLUMN[,COLUMN...]] [WIDTHxHEIGHT]
// FOLDER "sample" shows a made-up folder with plain, partly compressed, compressed and unreadable
// entries and a long path.
// $SHOT_DARK=1 draws it in a dark palette, $SHOT_FONT_POINTS sets the desktop font's size; the
// scale comes from $QT_SCALE_FACTOR as usual.
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPalette>
#include <QTest>
#include <cstdio>

#include "gui/qt/app/main_form.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/listview/list_view_ex.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "tests/support/fake_filesystem.hpp"

using packmeter::qt::TMainForm;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: shot_window FOLDER OUT.png [COLUMNS] [WxH]\n");
        return 2;
    }
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    packmeter::qt::UseDesktopIconTheme();
    if (qEnvironmentVariableIntValue("SHOT_DARK") == 1) {
        QApplication::setStyle("Fusion");
        QPalette dark;
        dark.setColor(QPalette::Window, QColor(53, 53, 53));
        dark.setColor(QPalette::WindowText, Qt::white);
        dark.setColor(QPalette::Base, QColor(35, 35, 35));
        dark.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
        dark.setColor(QPalette::Text, Qt::white);
        dark.setColor(QPalette::Button, QColor(53, 53, 53));
        dark.setColor(QPalette::ButtonText, Qt::white);
        dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
        dark.setColor(QPalette::HighlightedText, Qt::black);
        dark.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
        QApplication::setPalette(dark);
    }
    if (const int points = qEnvironmentVariableIntValue("SHOT_FONT_POINTS"); points > 0) {
        QFont font = QApplication::font();
        font.setPointSize(points);
        QApplication::setFont(font);
    }
    auto services = packmeter::qt::DesktopServices();
    std::string folder = argv[1];
    if (folder == "sample") {
        using packmeter::attr::kCompressed;
        auto fs = std::make_shared<packmeter::testing::FakeFileSystem>();
        auto& root = fs->Root()
                         .Folder("home")
                         .Folder("user")
                         .Folder("Projects")
                         .Folder("a rather long folder name")
                         .Folder("sample");
        root.Folder("build").File("app.o", 900000, 300000, kCompressed).File("notes", 40000);
        root.Folder("logs", kCompressed).File("day.log", 5000000, 1200000, kCompressed);
        root.Folder("private").unreadable = true;
        root.File("readme.txt", 4000).File("archive.tar", 90000000, 30000000, kCompressed);
        root.File("\xce\xb1\xcf\x81\xcf\x87\xce\xb5\xce\xaf\xce\xbf.txt", 1200);
        root.File("photo.jpg", 2400000);
        services.fileSystem = fs;
        services.fullPath = nullptr;
        services.pathProblem = nullptr;
        services.isFolder = nullptr;
        folder = "/home/user/Projects/a rather long folder name/sample";
    }
    TMainForm form(std::move(services), {folder});
    if (argc > 4) {
        const QStringList size = QString(argv[4]).split('x');
        form.resize(size.value(0).toInt(), size.value(1).toInt());
    }
    form.show();
    QElapsedTimer clock;
    clock.start();
    while (form.SizeLabel()->text() == packmeter::kCalculatingText &&
           !form.NoticeLabel()->isVisible() && clock.elapsed() < 60000) {
        QTest::qWait(20);
    }
    QTest::qWait(100);
    if (argc > 3) {
        for (const QString& column : QString(argv[3]).split(',', Qt::SkipEmptyParts)) {
            const int index = column.toInt();
            QHeaderView* header = form.List()->header();
            const QPoint centre(
                header->sectionViewportPosition(index) + header->sectionSize(index) / 2,
                header->height() / 2);
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
        }
    }
    form.UpdateStatusTimerTimer();
    QTest::qWait(50);
    if (!form.grab().save(argv[2])) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
