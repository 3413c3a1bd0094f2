// Not a test: how long the window takes from the start of a scan to the last row shown, for a
// folder of many files, how long the event loop stalled meanwhile, and the memory it then holds.
//   bench_window [FOLDER [FILES]]   (default: a folder of 100,000 files made under /tmp)
#include <malloc.h>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "gui/qt/app/main_form.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "tests/gui/qt/gui_test_support.hpp"

// The bytes held through operator new, now and at most since the last reset: the rows, their
// texts and every vector of the list are allocated there.
namespace heap {
std::atomic<long long> now{0};
std::atomic<long long> peak{0};
void Add(void* block) {
    const long long after = now += static_cast<long long>(malloc_usable_size(block));
    long long high = peak.load();
    while (after > high && !peak.compare_exchange_weak(high, after)) {
    }
}
void Remove(void* block) {
    now -= static_cast<long long>(malloc_usable_size(block));
}
void ResetPeak() {
    peak = now.load();
}
}  // namespace heap

void* operator new(std::size_t size) {
    void* block = std::malloc(size ? size : 1);
    if (!block) {
        throw std::bad_alloc();
    }
    heap::Add(block);
    return block;
}
void operator delete(void* block) noexcept {
    if (block) {
        heap::Remove(block);
        std::free(block);
    }
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace {

long StatusKiB(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stol(line.substr(key.size() + 1));
        }
    }
    return -1;
}

void MakeFiles(const QString& folder, int count) {
    QDir().mkpath(folder);
    const char* kinds[] = {".txt", ".png", ".zip", ".cpp", ".pdf", ""};
    for (int i = 0; i < count; ++i) {
        QFile file(QString("%1/file%2%3").arg(folder).arg(i, 6, 10, QChar('0')).arg(kinds[i % 6]));
        if (!file.exists() && file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray(i % 7 * 300, 'x'));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    packmeter::qt::UseDesktopIconTheme();
    const QString folder = argc > 1 ? argv[1] : "/tmp/packmeter-bench-100k";
    const int files = argc > 2 ? std::stoi(argv[2]) : 100000;
    if (argc <= 1) {
        MakeFiles(folder, files);
    }
    const long before = StatusKiB("VmRSS");
    packmeter::qt::TMainForm form(packmeter::qt::DesktopServices(), {""});
    form.show();
    QTest::qWait(50);

    // The third run with the list sorted by name: every batch of rows goes to its places.
    for (int run = 1; run <= 3; ++run) {
        if (run == 3) {
            QElapsedTimer sortClock;
            sortClock.start();
            packmeter::qt::testing::ClickHeader(*form.List(), 0);
            std::printf("sort by name: %lld ms\n", static_cast<long long>(sortClock.elapsed()));
        }
        // The longest stretch the event loop spent without coming back to a 5 ms timer.
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { longestStall = std::max(longestStall, sinceTick.restart()); });
        // Without the rows of the run before, the heap grows by what this run's rows take.
        form.List()->Clear();
        const long long heapBefore = heap::now.load();
        heap::ResetPeak();
        QElapsedTimer clock;
        clock.start();
        sinceTick.start();
        ticker.start(5);
        form.Logic().ScanFolder(folder.toStdString());
        packmeter::qt::testing::WaitFor(
            [&] {
                return form.List()->ItemCount() >= files && form.Logic().ActiveScan()->Finished() &&
                       form.SizeLabel()->text() != packmeter::kCalculatingText;
            },
            600000);
        form.List()->viewport()->repaint();
        const qint64 shown = clock.elapsed();
        ticker.stop();
        std::printf(
            "run %d: %d rows shown %lld ms after the scan started; longest event-loop stall %lld "
            "ms\n",
            run, form.List()->ItemCount(), static_cast<long long>(shown),
            static_cast<long long>(longestStall));
        std::printf("run %d heap: %lld bytes a row held, %lld bytes a row at the peak\n", run,
                    (heap::now.load() - heapBefore) / files,
                    (heap::peak.load() - heapBefore) / files);
    }
    std::printf("memory: %ld KiB resident before the window, %ld KiB with the rows, peak %ld KiB\n",
                before, StatusKiB("VmRSS"), StatusKiB("VmHWM"));
    return 0;
}
