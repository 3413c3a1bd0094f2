#include <sys/resource.h>

#include <QApplication>
#include <string>
#include <vector>

#include "desktop_services.hpp"
#include "main_window.hpp"
#include "system_image_list.hpp"

namespace {

// The walk keeps one descriptor open per folder level; allow as many as the system lets us.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace

int main(int argc, char** argv) {
    RaiseDescriptorLimit();
    QApplication app(argc, argv);
    QApplication::setApplicationName(packmeter::kApplicationTitle);
    packmeter::qt::UseDesktopIconTheme();
    // The arguments as the system passed them (QApplication has taken out its own options), so
    // that a folder name reaches the scan byte for byte.
    std::vector<std::string> args(argv + 1, argv + argc);
    packmeter::qt::TMainForm form(packmeter::qt::DesktopServices(), std::move(args));
    form.show();
    return app.exec();
}
