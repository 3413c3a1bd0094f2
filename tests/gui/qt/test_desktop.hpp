#pragma once

// The tests' own desktop and its context menus: data and settings folders of their own (so the
// trash, the installed applications and their defaults are the test's), with one application
// installed for plain text that writes the paths it is started with to a log. Set up by main before
// anything reads the desktop's registry, which is read once per process.

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QTest>
#include <QTimer>
#include <functional>

namespace packmeter::qt::testing {

inline constexpr const char* kTestViewerName = "Packmeter Test Viewer";
inline constexpr const char* kTestViewerId = "packmeter-test-viewer.desktop";

inline QString& TestDesktopRoot() {
    static QString root;
    return root;
}
inline QString TestDataHome() {
    return TestDesktopRoot() + "/data";
}
inline QString TestTrash() {
    return TestDataHome() + "/Trash";
}
inline QString TestViewerLog() {
    return TestDesktopRoot() + "/launched.txt";
}

inline void SetUpTestDesktop(const QString& root) {
    TestDesktopRoot() = root;
    const QString config = root + "/config";
    QDir().mkpath(TestDataHome() + "/applications");
    QDir().mkpath(config);
    qputenv("XDG_DATA_HOME", TestDataHome().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", config.toLocal8Bit());
    // The system's MIME database stays, so files get their usual types.
    qputenv("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    qputenv("XDG_CONFIG_DIRS", (root + "/config-dirs").toLocal8Bit());
    // No session bus until PrivateSessionBus gives one: never the user's.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    const QString script = root + "/viewer.sh";
    QFile program(script);
    program.open(QIODevice::WriteOnly);
    program.write(
        ("#!/bin/sh\nfor f in \"$@\"; do echo \"$f\"; done >> '" + TestViewerLog() + "'\n")
            .toLocal8Bit());
    program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    program.close();
    QFile entry(TestDataHome() + "/applications/" + kTestViewerId);
    entry.open(QIODevice::WriteOnly);
    entry.write(QString("[Desktop Entry]\nType=Application\nName=%1\nExec=%2 %F\n"
                        "MimeType=text/plain;\nIcon=text-x-generic\n")
                    .arg(kTestViewerName, script)
                    .toUtf8());
    entry.close();
    // The type index that installing an application updates (update-desktop-database); the
    // registry finds applications by type only through it.
    QFile index(TestDataHome() + "/applications/mimeinfo.cache");
    index.open(QIODevice::WriteOnly);
    index.write(QString("[MIME Cache]\ntext/plain=%1;\n").arg(kTestViewerId).toUtf8());
    index.close();
    QFile defaults(config + "/mimeapps.list");
    defaults.open(QIODevice::WriteOnly);
    defaults.write(QString("[Default Applications]\ntext/plain=%1\n").arg(kTestViewerId).toUtf8());
}

// A session bus of the tests' own, with nothing on it and nothing it can start, so the file
// manager's service is there only when a test offers it. Without dbus-daemon there is none.
class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        // The desktop's own session configuration, without the folders of services it starts.
        QFile system("/usr/share/dbus-1/session.conf");
        if (!system.open(QIODevice::ReadOnly)) {
            return;
        }
        QString text = QString::fromUtf8(system.readAll());
        text.remove(QRegularExpression("<standard_session_servicedirs\\s*/>"));
        const QString config = TestDesktopRoot() + "/bus.conf";
        QFile file(config);
        file.open(QIODevice::WriteOnly);
        file.write(text.toUtf8());
        file.close();
        daemon_.start("dbus-daemon", {"--config-file=" + config, "--nofork", "--print-address=1"});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000)) {
            address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
            qputenv("DBUS_SESSION_BUS_ADDRESS", address_.toUtf8());
        }
    }
    ~PrivateSessionBus() {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;
    static bool Available() { return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"); }

  private:
    QProcess daemon_;
    QString address_;
};

// Saves a picture into $PACKMETER_SHOT_DIR when it is set.
inline void SaveShot(const QImage& image, const char* name) {
    const QString dir = qEnvironmentVariable("PACKMETER_SHOT_DIR");
    if (!dir.isEmpty()) {
        image.save(dir + '/' + name);
    }
}

inline QAction* ActionNamed(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

inline QStringList Texts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QString("-") : action->text());
    }
    return texts;
}

// Chooses `caption` from the next popup menu with the keyboard, as a user would; an empty
// caption dismisses it. `seen` gets the menu's item texts; `look` sees the open menu first.
class ChooseFromMenu {
  public:
    explicit ChooseFromMenu(QString caption, QStringList* seen = nullptr,
                            std::function<void(QMenu*)> look = nullptr) {
        QObject::connect(&timer_, &QTimer::timeout, [this, caption, seen, look] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || !menu->isVisible()) {
                return;
            }
            timer_.stop();
            done_ = true;
            if (seen) {
                *seen = Texts(menu);
            }
            if (look) {
                look(menu);
            }
            QAction* action = caption.isEmpty() ? nullptr : ActionNamed(menu, caption);
            if (action) {
                menu->setActiveAction(action);
                QTest::keyClick(menu, Qt::Key_Return);
            } else {
                QTest::keyClick(menu, Qt::Key_Escape);
            }
        });
        timer_.start(10);
    }
    bool Done() const { return done_; }

  private:
    QTimer timer_;
    bool done_ = false;
};

}  // namespace packmeter::qt::testing
