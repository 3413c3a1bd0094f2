#include "platform/linux/shell/linux_shell_space.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>

namespace packmeter::linuxfs {

namespace {

struct NameObject final : ShellObject {
    explicit NameObject(std::string name) : name(std::move(name)) {}
    std::string name;
};

const std::string& NameOf(const ShellObject& object) {
    return static_cast<const NameObject&>(object).name;
}

std::string WithoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return lstat(path.c_str(), &info) == 0;
}

struct DirClose {
    void operator()(DIR* dir) const { closedir(dir); }
};

class NameEnumeration final : public ShellEnumeration {
  public:
    explicit NameEnumeration(DIR* dir) : dir_(dir) {}
    ShellObjectPtr Next() override {
        while (const dirent* entry = readdir(dir_.get())) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
                return std::make_shared<NameObject>(entry->d_name);
            }
        }
        return nullptr;
    }

  private:
    std::unique_ptr<DIR, DirClose> dir_;
};

// The computer: one object, the root "/", named by its whole path.
class ComputerEnumeration final : public ShellEnumeration {
  public:
    ShellObjectPtr Next() override {
        if (done_) {
            return nullptr;
        }
        done_ = true;
        return std::make_shared<NameObject>("/");
    }

  private:
    bool done_ = false;
};

class LinuxShellFolder final : public ShellFolder,
                               public std::enable_shared_from_this<LinuxShellFolder> {
  public:
    // `path` ends in '/', or is empty for the computer.
    LinuxShellFolder(std::string path, ContextMenuFactory makeMenu)
        : path_(std::move(path)), makeMenu_(std::move(makeMenu)) {}

    std::string Path() const override { return path_; }

    std::pair<std::shared_ptr<ShellFolder>, ShellObjectPtr> AsObjectInParent() const override {
        if (path_.empty()) {
            auto self = std::const_pointer_cast<LinuxShellFolder>(shared_from_this());
            return {self, std::make_shared<NameObject>("/")};
        }
        if (path_ == "/") {
            return {std::make_shared<LinuxShellFolder>("", makeMenu_),
                    std::make_shared<NameObject>("/")};
        }
        const std::string path = WithoutTrailingSlash(path_);
        const auto slash = path.rfind('/');
        return {std::make_shared<LinuxShellFolder>(path.substr(0, slash + 1), makeMenu_),
                std::make_shared<NameObject>(path.substr(slash + 1))};
    }

    ShellObjectPtr ParseName(const std::string& name) const override {
        if (path_.empty()) {
            return name == "/" ? std::make_shared<NameObject>("/") : nullptr;
        }
        if (name.empty() || name.find('/') != std::string::npos || !Exists(path_ + name)) {
            return nullptr;
        }
        return std::make_shared<NameObject>(name);
    }

    std::unique_ptr<ShellEnumeration> Enumerate(bool) const override {
        if (path_.empty()) {
            return std::make_unique<ComputerEnumeration>();
        }
        DIR* dir = opendir(path_.c_str());
        if (!dir) {
            return nullptr;
        }
        return std::make_unique<NameEnumeration>(dir);
    }

    std::string ObjectName(const ShellObject& object) const override { return NameOf(object); }
    std::string DisplayName(const ShellObject& object) const override { return NameOf(object); }

    std::optional<std::uint32_t> Attributes(const ShellObject& object,
                                            std::uint32_t mask) const override {
        const std::string path = PathOf(object);
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0) {
            return std::nullopt;
        }
        // A link to a folder opens as that folder, as the list shows it.
        struct stat target {};
        const bool folder =
            S_ISDIR(info.st_mode) ||
            (S_ISLNK(info.st_mode) && stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode));
        std::uint32_t bits = kShellAttrFileSystem;
        if (folder) {
            bits |= kShellAttrFolder | kShellAttrFileSysAncestor;
        }
        return bits & mask;
    }

    TQelShellFolder SpecialFolder(const ShellObject* object) const override {
        if (object == nullptr) {
            return path_.empty() ? SF_DRIVES : SF_FILESYSTEMFOLDER;
        }
        return SF_FILESYSTEMFOLDER;
    }

    std::unique_ptr<ShellContextMenu> ContextMenu(const std::vector<ShellObjectPtr>& objects,
                                                  bool interactive) override {
        if (!makeMenu_ || objects.empty()) {
            return nullptr;
        }
        std::vector<std::string> paths;
        for (const auto& object : objects) {
            if (!object) {
                return nullptr;
            }
            paths.push_back(PathOf(*object));
        }
        return makeMenu_(std::move(paths), interactive);
    }

  private:
    std::string PathOf(const ShellObject& object) const {
        return path_.empty() ? NameOf(object) : path_ + NameOf(object);
    }

    std::string path_;
    ContextMenuFactory makeMenu_;
};

class LinuxShellSpace final : public ShellSpace {
  public:
    explicit LinuxShellSpace(ContextMenuFactory makeMenu) : makeMenu_(std::move(makeMenu)) {}

    FolderBinding BindFolder(const std::string& path, bool) override {
        if (path.empty()) {
            return {true, std::make_shared<LinuxShellFolder>("", makeMenu_)};
        }
        // A relative path has no place in the namespace; a link to a folder binds to the path
        // the user gave, as the list shows it.
        struct stat info {};
        if (path.front() != '/' || stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            return {};
        }
        std::string folder = WithoutTrailingSlash(path);
        if (folder != "/") {
            folder += '/';
        }
        return {true, std::make_shared<LinuxShellFolder>(folder, makeMenu_)};
    }

    bool ObjectExists(const std::string& path) const override {
        return path == "/" || (!path.empty() && Exists(WithoutTrailingSlash(path)));
    }

    bool SamePath(const std::string& a, const std::string& b) const override {
        return WithoutTrailingSlash(a) == WithoutTrailingSlash(b);
    }

    std::pair<std::string, std::string> SplitPath(const std::string& path) const override {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) {
            return {{}, path};
        }
        return {path.substr(0, slash + 1), path.substr(slash + 1)};
    }

    bool IsRootPath(const std::string& path) const override { return path == "/"; }
    bool HasSeparator(const std::string& name) const override {
        return name.find('/') != std::string::npos;
    }

  private:
    ContextMenuFactory makeMenu_;
};

}  // namespace

std::shared_ptr<ShellSpace> MakeLinuxShellSpace(ContextMenuFactory makeMenu) {
    return std::make_shared<LinuxShellSpace>(std::move(makeMenu));
}

}  // namespace packmeter::linuxfs
