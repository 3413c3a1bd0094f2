#include "platform/linux/shell/desktop_apps.hpp"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>
#include <memory>
#include <set>

namespace packmeter::linuxfs {

namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GPtr = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct CharFree {
    void operator()(gchar* text) const { g_free(text); }
};
using CharPtr = std::unique_ptr<gchar, CharFree>;

// A GList of GAppInfo references, each released with the list.
struct AppListFree {
    void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};
using AppList = std::unique_ptr<GList, AppListFree>;

DesktopApp Describe(GAppInfo* info, bool isDefault) {
    DesktopApp app;
    if (const char* id = g_app_info_get_id(info)) {
        app.id = id;
    }
    if (const char* name = g_app_info_get_display_name(info)) {
        app.name = name;
    }
    if (GIcon* icon = g_app_info_get_icon(info)) {
        // A themed icon's first name, or a file icon's path.
        if (G_IS_THEMED_ICON(icon)) {
            const gchar* const* names = g_themed_icon_get_names(G_THEMED_ICON(icon));
            if (names && names[0]) {
                app.icon = names[0];
            }
        } else if (G_IS_FILE_ICON(icon)) {
            const CharPtr path(g_file_get_path(g_file_icon_get_file(G_FILE_ICON(icon))));
            if (path) {
                app.icon = path.get();
            }
        }
    }
    app.isDefault = isDefault;
    return app;
}

std::set<std::string> IdsFor(const std::string& type) {
    std::set<std::string> ids;
    const AppList all(g_app_info_get_all_for_type(type.c_str()));
    for (GList* item = all.get(); item; item = item->next) {
        if (const char* id = g_app_info_get_id(G_APP_INFO(item->data))) {
            ids.insert(id);
        }
    }
    return ids;
}

}  // namespace

std::string ContentTypeOf(const std::string& path) {
    const GPtr<GFile> file(g_file_new_for_path(path.c_str()));
    const GPtr<GFileInfo> info(g_file_query_info(file.get(), G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                 G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (!info) {
        return {};
    }
    const char* type = g_file_info_get_content_type(info.get());
    if (!type) {
        return {};
    }
    // GIO's type names are MIME types on this platform; the conversion only normalises them.
    const CharPtr mime(g_content_type_get_mime_type(type));
    return mime ? std::string(mime.get()) : std::string(type);
}

std::vector<DesktopApp> ApplicationsFor(const std::vector<std::string>& paths) {
    std::vector<std::string> types;
    for (const auto& path : paths) {
        const std::string type = ContentTypeOf(path);
        if (type.empty()) {
            return {};
        }
        if (std::find(types.begin(), types.end(), type) == types.end()) {
            types.push_back(type);
        }
    }
    if (types.empty()) {
        return {};
    }
    // Applications of the first type that also open each further type.
    std::vector<std::set<std::string>> others;
    for (std::size_t i = 1; i < types.size(); ++i) {
        others.push_back(IdsFor(types[i]));
    }
    const auto opensAll = [&others](const std::string& id) {
        return std::all_of(others.begin(), others.end(),
                           [&id](const std::set<std::string>& ids) { return ids.count(id) > 0; });
    };

    std::vector<DesktopApp> apps;
    const GPtr<GAppInfo> fallback(g_app_info_get_default_for_type(types.front().c_str(), FALSE));
    std::string defaultId;
    if (fallback && g_app_info_get_id(fallback.get())) {
        defaultId = g_app_info_get_id(fallback.get());
    }
    const AppList all(g_app_info_get_all_for_type(types.front().c_str()));
    for (GList* item = all.get(); item; item = item->next) {
        auto* info = G_APP_INFO(item->data);
        const char* id = g_app_info_get_id(info);
        if (!id || !opensAll(id)) {
            continue;
        }
        const bool isDefault = id == defaultId;
        if (!isDefault && !g_app_info_should_show(info)) {
            continue;
        }
        apps.push_back(Describe(info, isDefault));
    }
    std::stable_sort(apps.begin(), apps.end(), [](const DesktopApp& a, const DesktopApp& b) {
        if (a.isDefault != b.isDefault) {
            return a.isDefault;
        }
        return g_utf8_collate(a.name.c_str(), b.name.c_str()) < 0;
    });
    return apps;
}

bool LaunchApplication(const std::string& id, const std::vector<std::string>& paths,
                       std::string& error) {
    const GPtr<GDesktopAppInfo> info(g_desktop_app_info_new(id.c_str()));
    if (!info) {
        error = "no application \"" + id + "\" is installed";
        return false;
    }
    std::vector<GPtr<GFile>> files;
    GList* list = nullptr;
    for (const auto& path : paths) {
        files.emplace_back(g_file_new_for_path(path.c_str()));
        list = g_list_append(list, files.back().get());
    }
    GError* raw = nullptr;
    const bool started = g_app_info_launch(G_APP_INFO(info.get()), list, nullptr, &raw);
    g_list_free(list);
    const ErrorPtr failure(raw);
    if (!started) {
        error = failure && failure->message ? failure->message : "it could not be started";
    }
    return started;
}

}  // namespace packmeter::linuxfs
