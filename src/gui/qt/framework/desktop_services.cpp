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

void DesktopLauncher::StartInstance(const std::string& folder) {
    QProcess::startDetached(QCoreApplication::applicationFilePath(), {LocalPath(folder)});
}

std::string DesktopLauncher::OpenDocument(const std::string& path) {
    // Owned by the application until xdg-open has ended; the launcher may be gone by then.
    auto* process = MakeOwned<QProcess>(QCoreApplication::instance());
    const std::weak_ptr<DesktopLauncher> self = weak_from_this();
    const auto report = [self, path](const char* reason) {
        if (const auto launcher = self.lock(); launcher && launcher->onNotOpened) {
            launcher->onNotOpened(path, reason);
        }
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, report](int code, QProcess::ExitStatus status) {
                         // xdg-open ends with 3 when no tool opens the type, 4 when it failed.
                         if (status == QProcess::NormalExit && (code == 3 || code == 4)) {
                             report("no application is set to open it");
                         }
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, report](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             report("the desktop's opener (xdg-open) is missing");
                             process->deleteLater();
                         }
                     });
    process->start("xdg-open", {LocalPath(path)});
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
