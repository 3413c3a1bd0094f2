#include <QIcon>
#include <string>
#include <vector>

#include "gui/qt/app/main_form.hpp"
#include "gui/qt/exceptlog/fault_log_application.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "platform/fault_logger.hpp"
#include "platform/system.hpp"

int main(int argc, char** argv) {
    // Stays inactive unless the build's instrumenting step gave the program a data block.
    packmeter::InstallFaultLogger(true);
    packmeter::RaiseOpenFileLimit();
    packmeter::qt::FaultLogApplication app(argc, argv);
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    // Ties the windows to the installed desktop entry, whose icon the desktop shows for them.
    QGuiApplication::setDesktopFileName(QStringLiteral("packmeter"));
    packmeter::qt::UseDesktopIconTheme();
    QApplication::setWindowIcon(packmeter::qt::ApplicationIcon());
    // The arguments as the system passed them (QApplication has taken out its own options), so
    // that a folder name reaches the scan byte for byte.
    std::vector<std::string> args(argv + 1, argv + argc);
    packmeter::MainFormServices services = packmeter::qt::DesktopServices();
    // A command with its own compression choice gets a file system of its own.
    services.newFileSystem = [] { return packmeter::MakeFileSystem(); };
    packmeter::qt::TMainForm form(std::move(services), std::move(args));
    form.show();
    return app.exec();
}
