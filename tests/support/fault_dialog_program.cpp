// A window program with the fault logger that fails in the way its first argument names, and
// drives the logger's error dialog itself as $FAULTLOG_SCRIPT says, printing what it finds.
// Its second argument is a file to which every start appends the process id; a restarted
// program (a second line) ends at once.

#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/exceptlog/fault_threads.hpp"
#include "gui/qt/exceptlog/fault_dialog.hpp"
#include "gui/qt/exceptlog/fault_log_application.hpp"
#include "platform/fault_logger.hpp"

int* volatile gNowhere = nullptr;

[[gnu::noinline]] void WriteThroughNull() {
    *gNowhere = 42;
}

// Writes past a block into the header of the next one and frees it: the C library finds the
// damage and aborts, holding its heap's lock.
[[gnu::noinline]] void DamageTheHeap() {
    auto* volatile block = static_cast<char*>(std::malloc(4096));
    void* next = std::malloc(4096);
    for (std::size_t i = 0; i < 4096 + 16; ++i) {
        block[i] = 0x41;
    }
    std::free(block);
    std::free(next);
}

[[gnu::noinline]] void SleepInMainThread() {
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
}

class Thrower : public QObject {
  public:
    explicit Thrower(std::string message) : message_(std::move(message)) {}

  protected:
    void timerEvent(QTimerEvent* event) override {
        killTimer(event->timerId());
        throw std::runtime_error(message_);
    }

  private:
    std::string message_;
};

namespace {

using packmeter::qt::FaultDialog;

std::string Script() {
    const char* script = std::getenv("FAULTLOG_SCRIPT");
    return script ? script : "";
}

void Say(const QString& line) {
    std::cout << line.toStdString() << std::endl;
}

QString Geometry(const QWidget* w) {
    const QRect r = w->geometry();
    return QStringLiteral("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

void Shot(QWidget* w, const char* name) {
    if (const char* folder = std::getenv("FAULTLOG_SHOTS")) {
        w->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
    }
}

// Set once the terminate button was clicked.
bool& Terminating() {
    static bool terminating = false;
    return terminating;
}

// Reports the dialog and works it: its sizes, its pages, then closes it, or terminates once
// the terminate button shows when the script says "terminate".
void Drive(FaultDialog* dialog) {
    static int dialogs = 0;
    ++dialogs;
    const auto* header = dialog->findChild<QLabel*>("header");
    const auto* terminate = dialog->findChild<QPushButton*>("terminate");
    const QRect text =
        QFontMetrics(header->font())
            .boundingRect(QRect(0, 0, 582, 100000), Qt::TextWordWrap, header->text());
    Say(QStringLiteral("dialog %1 \"%2\" \"%3\"")
            .arg(dialogs)
            .arg(dialog->windowTitle(), header->text()));
    Say(QStringLiteral("collapsed %1 text %2 %3")
            .arg(Geometry(dialog))
            .arg(text.width())
            .arg(text.height()));
    Say(QStringLiteral("terminate %1 \"%2\"")
            .arg(terminate->isVisible() ? "shown" : "hidden", terminate->text()));
    Shot(dialog, "qt-collapsed");
    dialog->findChild<QPushButton*>("details")->click();
    Say(QStringLiteral("expanded %1 \"%2\"").arg(Geometry(dialog), header->text()));
    auto* tabs = dialog->findChild<QTabWidget*>("pages");
    Shot(dialog, "qt-expanded-general");
    tabs->setCurrentIndex(1);
    for (const auto* list = dialog->findChild<QTreeWidget*>("callStack");
         const auto* item : list->findItems("*", Qt::MatchWildcard)) {
        Say(QStringLiteral("row %1|%2|%3|%4|%5|%6 icon %7")
                .arg(item->text(0), item->text(1), item->text(2), item->text(3), item->text(4),
                     item->text(5))
                .arg(item->icon(0).isNull() ? 0 : 1));
    }
    Shot(dialog, "qt-expanded-details");
    dialog->setGeometry(60, 50, 520, 330);
    dialog->findChild<QPushButton*>("details")->click();
    Say(QStringLiteral("collapsed again %1").arg(Geometry(dialog)));
    if (Script().find("terminate") != std::string::npos && terminate->isVisible()) {
        // The program ends on its own time after the click (restarting first): no more errors.
        Terminating() = true;
        const_cast<QPushButton*>(terminate)->click();
    } else {
        dialog->findChild<QPushButton*>("close")->click();
    }
}

}  // namespace

int main(int argc, char** argv) {
    packmeter::InstallFaultLogger(true);
    packmeter::qt::FaultLogApplication app(argc, argv);
    const std::string kind = argc > 1 ? argv[1] : "";
    if (argc > 2) {
        std::ifstream before(argv[2]);
        std::string line;
        const bool restarted = static_cast<bool>(std::getline(before, line));
        std::ofstream(argv[2], std::ios::app) << ::getpid() << std::endl;
        if (restarted && kind != "null-again") {
            return 0;
        }
        if (restarted) {
            // The restarted program faults too, and its dialog is closed.
            ::setenv("FAULTLOG_SCRIPT", "", 1);
        }
    }
    QMainWindow window;
    window.setWindowTitle("Fault dialog program");
    auto* button = new QPushButton("Go on");
    window.setCentralWidget(button);
    window.resize(300, 200);
    window.show();
    window.activateWindow();
    button->setFocus();

    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w);
                box && box->isVisible() && box->objectName() == "faultFilterMessage") {
                Say(QStringLiteral("inform \"%1\" \"%2\"").arg(box->windowTitle(), box->text()));
                box->accept();
            }
            // The mail's question: answered No, so that nothing is sent.
            if (auto* box = qobject_cast<QMessageBox*>(w);
                box && box->isVisible() && box->objectName() == "faultMailQuestion") {
                Say(QStringLiteral("ask \"%1\" \"%2\"").arg(box->windowTitle(), box->text()));
                box->button(QMessageBox::No)->click();
            }
            if (auto* dialog = qobject_cast<FaultDialog*>(w);
                dialog && dialog->isVisible() && !dialog->property("driven").toBool()) {
                dialog->setProperty("driven", true);
                Drive(dialog);
            }
        }
    });
    driver.start(20);

    Thrower thrower(kind == "throw-long" ? std::string(40, 'x') + " " + std::string(60, 'y') + " " +
                                               std::string(50, 'z') + " does not fit on one line"
                                         : "No room on the list");
    if (kind == "null" || kind == "null-again") {
        QTimer::singleShot(50, WriteThroughNull);
    } else if (kind == "heap") {
        QTimer::singleShot(50, DamageTheHeap);
    } else if (kind == "null-worker") {
        QTimer::singleShot(
            50, [] { packmeter::StartProgramThread("Worker", WriteThroughNull).join(); });
    } else if (kind == "null-thread") {
        // A worker faults while the window's thread goes on.
        QTimer::singleShot(
            50, [] { packmeter::StartProgramThread("Worker", WriteThroughNull).detach(); });
    } else if (kind == "throw" || kind == "throw-long") {
        // Errors one after another, each once the last one's dialog is gone (an error while it
        // is open would get the program's own message); the program goes on after each.
        const int errors = kind == "throw" ? 5 : 1;
        auto* again = new QTimer(&app);
        QObject::connect(again, &QTimer::timeout, [&app, &thrower, errors] {
            static int thrown = 0;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (qobject_cast<FaultDialog*>(w)) {
                    return;
                }
            }
            if (Terminating()) {
                return;
            }
            if (++thrown > errors) {
                app.quit();
                return;
            }
            thrower.startTimer(0);
        });
        again->start(100);
    } else if (kind == "freeze") {
        QTimer::singleShot(300, [] {
            SleepInMainThread();
            std::cout << "woke" << std::endl;
        });
        QTimer::singleShot(4500, &app, &QApplication::quit);
    } else if (kind == "responsive") {
        QTimer::singleShot(4500, &app, &QApplication::quit);
    } else if (kind == "modal") {
        QTimer::singleShot(300, [&] {
            QMessageBox box(QMessageBox::Information, "Busy", "A dialog of the program's own");
            QTimer::singleShot(3500, &box, &QDialog::accept);
            box.exec();
        });
        QTimer::singleShot(4500, &app, &QApplication::quit);
    }
    return app.exec();
}
