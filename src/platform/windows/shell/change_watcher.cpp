#include "platform/windows/shell/change_watcher.hpp"

#include <windows.h>

#include <string>
#include <system_error>
#include <thread>

#include "core/utils/program_thread.hpp"
#include "platform/windows/utils/win_handle.hpp"
#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win {

namespace {

using ChangeHandle = ScopedHandle<&::FindCloseChangeNotification>;

std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DIRECTORY:
            return "no such folder";
        case ERROR_ACCESS_DENIED:
            return "permission denied";
        default:
            return "error " + std::to_string(error);
    }
}

class NotificationWatch final : public ChangeWatch {
  public:
    NotificationWatch(std::string directory, std::uint32_t flags, bool subtree,
                      std::function<void()> changed, std::function<void(std::string)> failed)
        : directory_(LongPath(ToWide(directory))),
          flags_(flags),
          subtree_(subtree),
          changed_(std::move(changed)),
          failed_(std::move(failed)),
          stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!stop_) {
            throw std::system_error(int(::GetLastError()), std::system_category(), "CreateEvent");
        }
        thread_ = StartProgramThread("TDirMon watcher", [this] { Run(); });
    }

    ~NotificationWatch() override {
        ::SetEvent(stop_.get());
        thread_.join();
    }

    NotificationWatch(const NotificationWatch&) = delete;
    NotificationWatch& operator=(const NotificationWatch&) = delete;

  private:
    void Run() {
        const ChangeHandle change(
            ::FindFirstChangeNotificationW(directory_.c_str(), subtree_ ? TRUE : FALSE, flags_));
        if (!change) {
            failed_(Reason(::GetLastError()));
            return;
        }
        const HANDLE handles[2] = {stop_.get(), change.get()};
        for (;;) {
            const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (woken == WAIT_OBJECT_0) {
                return;
            }
            if (woken != WAIT_OBJECT_0 + 1) {
                continue;
            }
            changed_();
            if (!::FindNextChangeNotification(change.get())) {
                // A folder that went away cannot be watched again.
                const DWORD error = ::GetLastError();
                failed_(::GetFileAttributesW(directory_.c_str()) == INVALID_FILE_ATTRIBUTES
                            ? std::string("the folder is gone")
                            : Reason(error));
                return;
            }
        }
    }

    const std::wstring directory_;
    const std::uint32_t flags_;
    const bool subtree_;
    const std::function<void()> changed_;
    const std::function<void(std::string)> failed_;
    UniqueHandle stop_;
    std::thread thread_;
};

class NotificationWatcher final : public ChangeWatcher {
  public:
    std::unique_ptr<ChangeWatch> Start(const std::string& directory, std::uint32_t flags,
                                       bool subtree, std::function<void()> changed,
                                       std::function<void(std::string)> failed) override {
        return std::make_unique<NotificationWatch>(directory, flags, subtree, std::move(changed),
                                                   std::move(failed));
    }
};

}  // namespace

std::shared_ptr<ChangeWatcher> MakeChangeWatcher() {
    return std::make_shared<NotificationWatcher>();
}

}  // namespace packmeter::win
