#include "platform/linux/shell/inotify_watcher.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "core/utils/program_thread.hpp"
#include "platform/linux/scan/unique_fd.hpp"

namespace packmeter::linuxfs {

namespace {

// The inotify events that stand for each kind of change.
std::uint32_t EventMask(std::uint32_t flags) {
    std::uint32_t mask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
    // Sub-folders coming and going are always seen, so that a nested watch can follow them.
    mask |= IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
    if (flags & (kNotifyAttributes | kNotifySecurity)) {
        mask |= IN_ATTRIB;
    }
    if (flags & (kNotifySize | kNotifyLastWrite)) {
        mask |= IN_MODIFY;
    }
    if (flags & kNotifyLastWrite) {
        mask |= IN_CLOSE_WRITE;
    }
    return mask;
}

// Whether one event is a change of a kind asked for.
bool Wanted(const inotify_event& event, std::uint32_t flags) {
    const bool folder = event.mask & IN_ISDIR;
    if (event.mask & (IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) {
        return flags & (folder ? kNotifyDirName : kNotifyFileName);
    }
    if (event.mask & IN_ATTRIB) {
        return flags & (kNotifyAttributes | kNotifySecurity);
    }
    if (event.mask & (IN_MODIFY | IN_CLOSE_WRITE)) {
        return flags & (kNotifySize | kNotifyLastWrite);
    }
    return false;
}

std::string Reason(int error) {
    switch (error) {
        case ENOSPC:
            return "the system's limit of watched folders is reached "
                   "(fs.inotify.max_user_watches); changes below some folders are not seen";
        case EMFILE:
            return "the system's limit of folder watchers is reached "
                   "(fs.inotify.max_user_instances)";
        case ENOENT:
        case ENOTDIR:
            return "no such folder";
        case EACCES:
            return "permission denied";
        default:
            return std::strerror(error);
    }
}

class InotifyWatch final : public ChangeWatch {
  public:
    InotifyWatch(std::string directory, std::uint32_t flags, bool subtree,
                 std::function<void()> changed, std::function<void(std::string)> failed)
        : directory_(std::move(directory)),
          flags_(flags),
          subtree_(subtree),
          changed_(std::move(changed)),
          failed_(std::move(failed)),
          stop_(::eventfd(0, EFD_CLOEXEC)) {
        if (!stop_) {
            throw std::system_error(errno, std::generic_category(), "eventfd");
        }
        thread_ = StartProgramThread("TDirMon watcher", [this] { Run(); });
    }

    ~InotifyWatch() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stop_.get(), &one, sizeof one);
        thread_.join();
    }

    InotifyWatch(const InotifyWatch&) = delete;
    InotifyWatch& operator=(const InotifyWatch&) = delete;

  private:
    void Run() {
        inotify_ = UniqueFd(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        if (!inotify_) {
            failed_(Reason(errno));
            return;
        }
        const int root = ::inotify_add_watch(inotify_.get(), directory_.c_str(), EventMask(flags_));
        if (root < 0) {
            failed_(Reason(errno));
            return;
        }
        rootWatch_ = root;
        paths_[root] = directory_;
        if (subtree_) {
            WatchBelow(directory_);
        }
        std::vector<char> buffer(64 * 1024);
        for (;;) {
            pollfd fds[2] = {{stop_.get(), POLLIN, 0}, {inotify_.get(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                failed_(Reason(errno));
                return;
            }
            if (fds[0].revents) {
                return;
            }
            bool any = false;
            bool gone = false;
            for (;;) {
                const ssize_t got = ::read(inotify_.get(), buffer.data(), buffer.size());
                if (got <= 0) {
                    break;
                }
                for (ssize_t at = 0; at < got;) {
                    const auto& event = *reinterpret_cast<const inotify_event*>(buffer.data() + at);
                    at += ssize_t(sizeof(inotify_event) + event.len);
                    any = Handle(event, gone) || any;
                }
            }
            if (any) {
                changed_();
            }
            if (gone) {
                failed_("the folder is gone");
                return;
            }
        }
    }

    // Follows sub-folders coming and going; true when the event is a change asked for.
    bool Handle(const inotify_event& event, bool& gone) {
        if (event.mask & IN_Q_OVERFLOW) {
            return true;  // too many changes to tell apart: some of them were asked for
        }
        if (event.mask & IN_IGNORED) {
            paths_.erase(event.wd);
            return false;
        }
        if (event.wd == rootWatch_ && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF))) {
            gone = true;
            return false;
        }
        const auto where = paths_.find(event.wd);
        if (where == paths_.end()) {
            return false;
        }
        const bool nameInside = event.len > 0;
        if (subtree_ && nameInside && (event.mask & IN_ISDIR) &&
            (event.mask & (IN_CREATE | IN_MOVED_TO))) {
            const std::string path = where->second + "/" + event.name;
            if (Add(path)) {
                WatchBelow(path);
            }
        }
        return nameInside && Wanted(event, flags_);
    }

    bool Add(const std::string& path) {
        const int watch = ::inotify_add_watch(inotify_.get(), path.c_str(), EventMask(flags_));
        if (watch < 0) {
            if (errno == ENOSPC && !limitReported_) {
                limitReported_ = true;
                failed_(Reason(ENOSPC));
            }
            return false;
        }
        paths_[watch] = path;
        return true;
    }

    // Watches every folder below `top`, with a list of folders still to look into rather than
    // recursion, so that no depth of tree matters.
    void WatchBelow(const std::string& top) {
        std::vector<std::string> pending{top};
        while (!pending.empty()) {
            const std::string folder = std::move(pending.back());
            pending.pop_back();
            const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            DIR* dir = fd ? ::fdopendir(::dup(fd.get())) : nullptr;
            if (!dir) {
                continue;
            }
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view name = entry->d_name;
                if (name == "." || name == ".." || entry->d_type != DT_DIR) {
                    continue;
                }
                const std::string path = folder + "/" + std::string(name);
                if (Add(path)) {
                    pending.push_back(path);
                }
            }
            ::closedir(dir);
        }
    }

    const std::string directory_;
    const std::uint32_t flags_;
    const bool subtree_;
    const std::function<void()> changed_;
    const std::function<void(std::string)> failed_;
    UniqueFd stop_;
    UniqueFd inotify_;
    int rootWatch_ = -1;
    std::unordered_map<int, std::string> paths_;
    bool limitReported_ = false;
    std::thread thread_;
};

class InotifyWatcher final : public ChangeWatcher {
  public:
    std::unique_ptr<ChangeWatch> Start(const std::string& directory, std::uint32_t flags,
                                       bool subtree, std::function<void()> changed,
                                       std::function<void(std::string)> failed) override {
        return std::make_unique<InotifyWatch>(directory, flags, subtree, std::move(changed),
                                              std::move(failed));
    }
};

}  // namespace

std::shared_ptr<ChangeWatcher> MakeInotifyWatcher() {
    return std::make_shared<InotifyWatcher>();
}

}  // namespace packmeter::linuxfs
