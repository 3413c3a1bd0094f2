#include "gui/qt/framework/desktop_services.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <filesystem>

#include "gui/qt/framework/owned.hpp"
#include "platform/system.hpp"

namespace packmeter::qt {

namespace {

QString LocalPath(const std::string& path) {
    return QFile::decodeName(QByteArray(path.data(), qsizetype(path.size())));
}

}  // namespace

std::string XdgOpenFailure(int code) {
    // The desktop opener's exit codes.
    switch (code) {
        case 1:
            return "the desktop's opener (xdg-open) did not understand the request";
        case 2:
            return "it does not exist";
        case 3:
            return "a tool the desktop's opener (xdg-open) needs is missing";
        case 4:
            return "no application could open it";
        case -1:
            return "the desktop's opener (xdg-open) crashed";
        default:
            return "the desktop's opener (xdg-open) failed (exit code " + std::to_string(code) +
                   ")";
    }
}

void DesktopLauncher::StartInstance(const std::string& folder) {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {LocalPath(folder)});
}

DesktopOpener& DesktopOpen() {
    static DesktopOpener opener = [](const QString& path,
                                     std::function<void(const std::string&)> onFailure) {
        RunXdgOpen(path, std::move(onFailure));
    };
    return opener;
}

void OpenWithDesktop(const QString& path, std::function<void(const std::string&)> onFailure) {
    DesktopOpen()(path, std::move(onFailure));
}

void RunXdgOpen(const QString& path, std::function<void(const std::string&)> onFailure) {
    // Owned by the application until xdg-open has ended; the caller may be gone by then.
    auto* process = MakeOwned<QProcess>(QCoreApplication::instance());
    auto report = std::make_shared<std::function<void(const std::string&)>>(std::move(onFailure));
    QObject::connect(process, &QProcess::finished, process,
                     [process, report](int code, QProcess::ExitStatus status) {
                         if ((status != QProcess::NormalExit || code != 0) && *report) {
                             (*report)(XdgOpenFailure(status == QProcess::NormalExit ? code : -1));
                         }
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, report](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             if (*report) {
                                 (*report)("the desktop's opener (xdg-open) is missing");
                             }
                             process->deleteLater();
                         }
                     });
    process->start("xdg-open", {path});
}

std::string DesktopLauncher::OpenDocument(const std::string& path) {
    const std::weak_ptr<DesktopLauncher> self = weak_from_this();
    OpenWithDesktop(LocalPath(path), [self, path](const std::string& reason) {
        if (const auto launcher = self.lock(); launcher && launcher->onNotOpened) {
            launcher->onNotOpened(path, reason);
        }
    });
    return {};
}

MainFormServices DesktopServices() {
    MainFormServices services;
    services.fileSystem = MakeFileSystem();
    services.numberFormat = UserNumberFormat();
    services.launcher = std::make_shared<DesktopLauncher>();
    // A link to a folder opens as that folder, like the folder itself.
    services.isFolder = [](const std::string& path) {
        std::error_code error;
        return std::filesystem::is_directory(path, error);
    };
    services.fullPath = FullPath;
    services.pathProblem = PathProblem;
    services.enableBackupPrivilege = EnableBackupPrivilege;
    return services;
}

}  // namespace packmeter::qt
