// Not a test: how long the window takes from the start of a scan to the last row shown, for a
// folder of many files, how long the event loop stalled meanwhile, and the memory it then holds.
//   bench_window [FOLDER [FILES]]   (default: a folder of 100,000 files made under /tmp)
//   bench_window --feed [ROWS [BATCH]]   (the list alone, fed made-up rows)
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
#include <vector>

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

// The list alone, without a scan: batches of `batch` made-up rows in a shuffled name order go
// into the window's list one event-loop turn at a time, unsorted and then sorted by name; the
// longest turn (adding, merging, laying out and drawing) is what the user waits for.
int FeedList(packmeter::qt::TMainForm& form, int files, int batch) {
    std::vector<int> order(static_cast<std::size_t>(files));
    for (int i = 0; i < files; ++i) {
        order[std::size_t(i)] = i;
    }
    std::uint64_t seed = 88172645463325252ULL;
    for (std::size_t i = order.size(); i > 1; --i) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        std::swap(order[i - 1], order[seed % i]);
    }
    packmeter::qt::TListViewEx& list = *form.List();
    // The third run sorts without the rows' keys: every comparison reads the rows.
    for (int run = 1; run <= 3; ++run) {
        if (run == 2) {
            packmeter::qt::testing::ClickHeader(list, 0);
        }
        if (run == 3) {
            list.SetOnSortKey({});
        }
        list.Clear();
        const long long heapBefore = heap::now.load();
        QElapsedTimer clock;
        clock.start();
        qint64 longest = 0;
        for (int at = 0; at < files; at += batch) {
            std::vector<packmeter::ListItem> rows;
            for (int i = at; i < std::min(files, at + batch); ++i) {
                const int n = order[std::size_t(i)];
                packmeter::ListItem item;
                char name[32];
                std::snprintf(name, sizeof name, "file%07d.txt", n);
                item.caption = name;
                item.keyTexts = true;
                item.keys.shownSize = n % 7 * 300;
                item.keys.shownOnDisk = n % 5 * 300;
                item.keys.ratioPercent = n % 100;
                rows.push_back(std::move(item));
            }
            QElapsedTimer turn;
            turn.start();
            list.AddItems(std::move(rows));
            QCoreApplication::processEvents();
            longest = std::max(longest, turn.elapsed());
        }
        std::printf("feed %s: %d rows in %lld ms, longest turn %lld ms, heap %lld bytes a row\n",
                    run == 1   ? "unsorted"
                    : run == 2 ? "sorted by name"
                               : "sorted by name without keys",
                    list.ItemCount(), static_cast<long long>(clock.elapsed()),
                    static_cast<long long>(longest), (heap::now.load() - heapBefore) / files);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    packmeter::qt::UseDesktopIconTheme();
    const bool feed = argc > 1 && std::string(argv[1]) == "--feed";
    if (feed) {
        packmeter::qt::TMainForm form(packmeter::qt::DesktopServices(), {""});
        form.show();
        QTest::qWait(50);
        return FeedList(form, argc > 2 ? std::stoi(argv[2]) : 100000,
                        argc > 3 ? std::stoi(argv[3]) : 5000);
    }
    const QString folder = argc > 1 ? argv[1] : "/tmp/packmeter-bench-100k";
    const int files = argc > 2 ? std::stoi(argv[2]) : 100000;
    if (argc <= 1) {
        MakeFiles(folder, files);
    }
    const long before = StatusKiB("VmRSS");
    packmeter::qt::TMainForm form(packmeter::qt::DesktopServices(), {""});
    form.show();
    QTest::qWait(50);
    const long window = StatusKiB("VmRSS");

    // The third run with the list sorted by name: every batch of rows goes to its places.
    for (int run = 1; run <= 3; ++run) {
        if (run == 3) {
            QElapsedTimer sortClock;
            sortClock.start();
            packmeter::qt::testing::ClickHeader(*form.List(), 0);
            std::printf("sort by name: %lld ms\n", static_cast<long long>(sortClock.elapsed()));
        }
        // The longest stretch the event loop spent without coming back to a 5 ms timer.
        QElapsedTimer clock;
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        // When the longest stall ended: the rows shown then and the time since the start.
        int stallRows = 0;
        qint64 stallAt = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            const qint64 stall = sinceTick.restart();
            if (stall > longestStall) {
                longestStall = stall;
                stallRows = form.List()->ItemCount();
                stallAt = clock.elapsed();
            }
        });
        // Without the rows of the run before, the heap grows by what this run's rows take.
        form.List()->Clear();
        const long long heapBefore = heap::now.load();
        heap::ResetPeak();
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
            "ms (ended at %lld ms, %d rows shown)\n",
            run, form.List()->ItemCount(), static_cast<long long>(shown),
            static_cast<long long>(longestStall), static_cast<long long>(stallAt), stallRows);
        std::printf("run %d heap: %lld bytes a row held, %lld bytes a row at the peak\n", run,
                    (heap::now.load() - heapBefore) / files,
                    (heap::peak.load() - heapBefore) / files);
    }
    const long withRows = StatusKiB("VmRSS");
    std::printf(
        "memory: %ld KiB resident before the window, %ld KiB with the window shown, %ld KiB with "
        "the rows (%ld bytes a row above the window), peak %ld KiB\n",
        before, window, withRows, (withRows - window) * 1024 / files, StatusKiB("VmHWM"));
    return 0;
}
