// Opens the window on a folder, waits for the scan to end, sorts by the columns given and saves
// a picture of the window: shot_window FOLDER OUT.png [COLUMN[,COLUMN...]] [WIDTHxHEIGHT]
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QTest>
#include <cstdio>

#include "gui/qt/desktop_services.hpp"
#include "gui/qt/list_view_ex.hpp"
#include "gui/qt/main_form.hpp"
#include "gui/qt/system_image_list.hpp"

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
    TMainForm form(packmeter::qt::DesktopServices(), {argv[1]});
    if (argc > 4) {
        const QStringList size = QString(argv[4]).split('x');
        form.resize(size.value(0).toInt(), size.value(1).toInt());
    }
    form.show();
    QElapsedTimer clock;
    clock.start();
    while (form.SizeLabel()->text() == packmeter::kCalculatingText && clock.elapsed() < 60000) {
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
