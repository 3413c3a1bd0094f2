#include "gui/qt/desktop_services.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <filesystem>

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

void DesktopLauncher::OpenDocument(const std::string& path) {
    QProcess::startDetached("xdg-open", {LocalPath(path)});
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
    services.enableBackupPrivilege = EnableBackupPrivilege;
    return services;
}

}  // namespace packmeter::qt
