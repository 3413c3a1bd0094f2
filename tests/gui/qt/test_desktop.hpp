#pragma once

// The tests' own desktop: data and settings folders of their own (so the trash, the installed
// applications and their defaults are the test's), with one application installed for plain
// text that writes the paths it is started with to a log. Set up by main before anything reads
// the desktop's registry, which is read once per process.

#include <QDir>
#include <QFile>
#include <QString>

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
    // No session bus: the file manager's service is absent, so our own dialogs show.
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

}  // namespace packmeter::qt::testing
