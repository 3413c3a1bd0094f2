#pragma once

// The desktop's application registry (the installed desktop entries, the user's and the
// system's default and added applications), read through GIO so that the list matches what the
// file manager offers for the same files.

#include <string>
#include <vector>

namespace packmeter::linuxfs {

struct DesktopApp {
    std::string id;    // the desktop entry's id, such as "org.example.Viewer.desktop"
    std::string name;  // the name to show
    std::string icon;  // an icon theme name or an icon file's path; empty when it has none
    bool isDefault = false;
};

// The MIME type the desktop gives the entry at `path` ("inode/directory" for a folder), from its
// name and, where the name does not tell, its first bytes; empty when it cannot be read.
std::string ContentTypeOf(const std::string& path);

// The applications that open every one of `paths`, the default application of the first one's
// type first and the others by name. Applications hidden from menus are left out unless they
// are the default.
std::vector<DesktopApp> ApplicationsFor(const std::vector<std::string>& paths);

// Starts the application with desktop entry id `id` on `paths` without waiting for it. False
// with the desktop's reason in `error` when it cannot be started.
bool LaunchApplication(const std::string& id, const std::vector<std::string>& paths,
                       std::string& error);

}  // namespace packmeter::linuxfs
