#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "core/app/main_form_logic.hpp"
#include "core/listview/header_arrow.hpp"
#include "gui/qt/listview/list_view_ex.hpp"

namespace packmeter::qt::testing {

// Lets the event loop run until `done` holds or `ms` have passed; whether it holds.
inline bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

// Acts on the next modal window that opens, from the event loop (also from inside the modal
// window's own loop).
class OnModal {
  public:
    explicit OnModal(std::function<void(QWidget*)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal && !done_) {
                done_ = true;
                timer_.stop();
                act_(modal);
            }
        });
        timer_.start(10);
    }
    bool Done() const { return done_; }

  private:
    QTimer timer_;
    std::function<void(QWidget*)> act_;
    bool done_ = false;
};

// A real folder tree in a temporary folder.
class TempTree {
  public:
    TempTree() { dir_.setAutoRemove(true); }
    std::string Path() const { return dir_.path().toStdString(); }
    QString Q(const QString& relative = {}) const {
        return relative.isEmpty() ? dir_.path() : dir_.path() + '/' + relative;
    }
    void Folder(const QString& relative) const { QDir().mkpath(Q(relative)); }
    void File(const QString& relative, qint64 size, char fill = 'x') const {
        QFile file(Q(relative));
        file.open(QIODevice::WriteOnly);
        file.write(QByteArray(size, fill));
    }

  private:
    QTemporaryDir dir_;
};

// Records what a double-click would start.
class RecordingLauncher : public Launcher {
  public:
    void StartInstance(const std::string& folder) override { log.push_back("instance " + folder); }
    std::string OpenDocument(const std::string& path) override {
        log.push_back("open " + path);
        return answer;
    }
    std::string answer;
    std::vector<std::string> log;
};

// Clicks the middle of a column's header, as a user would.
inline void ClickHeader(TListViewEx& list, int column) {
    QHeaderView* header = list.header();
    const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                        header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
}

// Where the header shows the arrow picture of `order` on screen, in the header's text colour
// and in squares of 1 to 3 pixels: the top-left corner of the first block whose ink pixels match
// it and whose face pixels are not ink, in header coordinates.
inline std::optional<QPoint> FindArrow(const QImage& header, TSortOption order) {
    const auto& picture = SortArrowPicture(order);
    const QColor ink = QApplication::palette().color(QPalette::ButtonText);
    for (int size = 1; size <= 3; ++size) {
        for (int y = 0; y + 8 * size <= header.height(); ++y) {
            for (int x = 0; x + 8 * size <= header.width(); ++x) {
                bool match = true;
                for (int row = 0; row < 8 * size && match; ++row) {
                    for (int col = 0; col < 8 * size && match; ++col) {
                        const char pixel =
                            picture[std::size_t(row / size)][std::size_t(col / size)];
                        match = (header.pixelColor(x + col, y + row) == ink) == IsArrowInk(pixel);
                    }
                }
                if (match) {
                    return QPoint(x, y);
                }
            }
        }
    }
    return std::nullopt;
}

inline std::vector<std::string> Captions(const TListViewEx& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.ItemCount(); ++i) {
        out.push_back(list.Item(i).caption);
    }
    return out;
}

}  // namespace packmeter::qt::testing
