#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/app/main_form_logic.hpp"

namespace packmeter::win32::testing {

// Handles the window messages until `done` holds or `timeoutMs` has passed.
bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000);
void Pump(int ms);

// A visible dialog (window class "#32770") of this process with the title `title` (any title
// when empty); null when there is none. Tests in other processes share the desktop and open
// dialogs of their own.
HWND FindOwnDialog(const std::wstring& title = L"");

// A folder tree on the real disk, removed again at the end.
class TempTree {
  public:
    TempTree();
    ~TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    // The tree's path, with a trailing backslash.
    const std::string& Path() const { return path_; }
    void Folder(const std::string& relative);
    void File(const std::string& relative, std::size_t bytes);

  private:
    std::string path_;
};

class RecordingLauncher : public Launcher {
  public:
    void StartInstance(const std::string& folder) override { log.push_back("instance " + folder); }
    std::string OpenDocument(const std::string& path) override {
        log.push_back("open " + path);
        return answer;
    }
    std::string answer;
    std::vector<std::string> log;
};

// A left click at a point of the screen, through the system's input queue.
void ClickAt(POINT screen);
void RightClickAt(POINT screen);

// Plays the user of a popup menu from another thread: waits for this process's popup menu,
// reads its item captions (without '&'; separators as empty texts), chooses the item captioned
// `choice` by the keyboard (dismisses the menu when the caption is empty or absent), then
// answers the shell's confirmation, if one comes, with the button `answer` (0: none expected).
// With $PACKMETER_SHOT_PAUSE set and a `shot` name, the open menu stays that long first, after
// "shot <name>" is printed.
class MenuUser {
  public:
    MenuUser(std::wstring choice, int answer = 0, std::string shot = {});
    ~MenuUser() { Join(); }
    MenuUser(const MenuUser&) = delete;
    MenuUser& operator=(const MenuUser&) = delete;
    void Join();

    std::vector<std::wstring> captions;
    bool confirmed = false;

  private:
    void Run(const std::wstring& choice, int answer, const std::string& shot);
    std::thread thread_;
};
// Key presses through the system's input queue: each key goes down in order, then all go up.
void PressKeys(const std::vector<WORD>& keys);
// With $PACKMETER_SHOT_PAUSE set (milliseconds), keeps the window on screen that long, after
// printing "shot <name>", so that a screenshot of the display can be taken from outside
// (Wine's PrintWindow and screen reads miss the text).
void ShotPause(HWND window, const std::string& name);

}  // namespace packmeter::win32::testing
