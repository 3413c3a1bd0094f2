// Runs the window tests on the offscreen platform, with the user's runtime, settings and data
// folders in temporary folders of their own.
#include <gtest/gtest.h>

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>

#include "core/app/main_form_logic.hpp"
#include "gui/qt/exceptlog/fault_log_application.hpp"
#include "gui/qt/shell/system_image_list.hpp"
#include "tests/gui/qt/test_desktop.hpp"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const QTemporaryDir runtime;  // made with mode 0700, as the runtime folder must be
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QTemporaryDir config;
    // The desktop's data and settings: the trash, the applications and their defaults.
    const QTemporaryDir desktop;
    packmeter::qt::testing::SetUpTestDesktop(desktop.path());
    // The program's own application object, which stops exceptions at the event loop.
    packmeter::qt::FaultLogApplication app(argc, argv);
    const packmeter::qt::testing::PrivateSessionBus bus;
    // Dates, numbers and collation as in the examples the tests use.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());
    packmeter::qt::UseDesktopIconTheme();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
