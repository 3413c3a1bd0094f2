#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/app/command_sink.hpp"
#include "core/app/main_form_logic.hpp"
#include "core/app/main_menu.hpp"
#include "core/listview/list_view_actions.hpp"
#include "core/shell/shell_browser.hpp"
#include "gui/win32/app/status_bar.hpp"
#include "gui/win32/framework/window.hpp"
#include "gui/win32/listview/list_view_ex.hpp"
#include "gui/win32/shell/browse_for_folder.hpp"
#include "gui/win32/shell/system_image_list.hpp"

namespace packmeter::win32 {

// Messages and command ids of the main window.
inline constexpr UINT kApplyScanOutputMessage = WM_APP + 1;
inline constexpr UINT kFormShowMessage = WM_APP + 2;
// A mouse button was released over the path label; lParam: the screen point.
inline constexpr UINT kPathLabelMouseUpMessage = WM_APP + 3;
// An estimate has ended: its result dialog opens (outside the batch that brought it).
inline constexpr UINT kShowEstimateMessage = WM_APP + 4;
// "Compress with..." was chosen: its box opens (after the menu has closed).
inline constexpr UINT kShowCompressWithMessage = WM_APP + 5;
inline constexpr int kScanCommand = 101;
inline constexpr int kRefreshCommand = 102;
inline constexpr int kExitCommand = 103;
inline constexpr int kPrintCommand = 104;
inline constexpr int kCopyCommand = 105;
inline constexpr int kReadmeCommand = 106;
inline constexpr int kAboutCommand = 107;
inline constexpr int kCancelCommand = 108;
inline constexpr int kListId = 201;
inline constexpr UINT_PTR kStatusTimer = 1;
inline constexpr UINT_PTR kApplyTimer = 2;

// The Packmeter window: the folder's path and totals in a header, the entries in a sortable
// list, one line of status at the foot, and the File menu. A right-click on the rows, or a
// click on the path, shows the shell's context menu with "&COMPRESS" and "&DECOMPRESS".
class TMainForm final : public Window, private MainFormView, private KeyPreview {
  public:
    // `args`: the command-line arguments, the first of which is the folder to scan.
    TMainForm(MainFormServices services, std::vector<std::string> args);
    ~TMainForm() override;

    // Shows the window; once it is on screen, the first scan or the picker follows.
    void Show(int showCommand = SW_SHOWNORMAL);

    MainFormLogic& Logic() { return *logic_; }
    TListViewEx& List() { return list_; }
    HWND Label(HeaderLabel label) const { return labels_[std::size_t(label)]; }
    HWND PathLabel() const { return Label(HeaderLabel::kPath); }
    HWND SizeLabel() const { return Label(HeaderLabel::kSize); }
    HWND CompressedLabel() const { return Label(HeaderLabel::kCompressed); }
    HWND RatioLabel() const { return Label(HeaderLabel::kRatio); }
    HWND StatusBar() const { return statusBar_.Hwnd(); }
    // Where the header says why there are no totals (an error, no folder, a stopped scan).
    HWND NoticeLabel() const { return noticeLabel_; }
    // The whole texts of the status line and the path, which may be shown shortened.
    const std::string& StatusText() const { return statusText_; }
    const std::string& PathText() const { return pathText_; }
    TQelBrowseForFolder& BrowseForFolderDlg() { return browseForFolderDlg_; }
    TQelSystemImageList& SystemImageList() { return *systemImageList_; }
    HFONT FormFont() const { return font_.get(); }
    // The system's message font, for the texts that the form's classic face cannot draw.
    HFONT MessageFont() const { return messageFont_.get(); }
    // The height of the header above the list, in pixels.
    int HeaderHeight() const;
    TListViewCopy& ListViewCopy1() { return listViewCopy1_; }
    TListViewPrint& ListViewPrint() { return listViewPrint_; }
    TShellBrowser& ShellBrowser() { return *shellBrowser_; }
    // The running command's progress figure, bar and Cancel button, in the status bar.
    const std::string& ProgressText() const { return statusBar_.ProgressText(); }
    HWND CancelButton() const { return statusBar_.CancelButton(); }
    HWND CommandProgressBar() const { return statusBar_.ProgressBar(); }
    // How often a compression command has sounded the failure beep.
    int BeepCount() const { return beeps_; }
    // The command id of a menu entry.
    static int CommandId(MenuCommand command);
    // The Help commands: the readme opened by the shell, and a fresh About box.
    void ReademFileActionExecute();
    void HelpAboutActionExecute();
    // The readme beside the program.
    static std::wstring ReadmePath();

  protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void SetCaption(const std::string& text) override;
    void SetPathText(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetTotals(const ScanTotals& totals) override;
    void SetHeaderNotice(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    std::vector<const ListItem*> ItemsInOrder(bool selectedOnly) const override;
    void CopyToClipboard(const std::string& text) override;
    void SetBusyCursor(bool busy) override;
    void ClearList() override;
    void AddItems(std::vector<ListItem> items) override;
    void SelectAllItems() override;
    const ListItem* FirstSelectedItem() const override;
    bool BrowseForFolder(std::string& folder) override;
    void SetSortColumn(int column) override;
    void PreviewKeyDown(const MSG& message) override;

    // The compression commands' part of the view, which CommandSink hands on.
    template <class>
    friend class packmeter::CommandSink;
    void CommandBeep();
    std::string CommandStatusText() const;
    void ClearCommandSelection();
    void UpdateItem(const std::string& name, const ListItem& item);
    void SetCommandProgress(const CommandProgress& progress);
    void SetCommandFailures(const std::vector<CompressionFailure>& failures);
    bool AskStopCommand(const std::string& question);
    // Shows the context menu at a screen point; the shell browser's errors become messages.
    void ListContextPopup(POINT screen);
    void PathLabelMouseUp(POINT screen);
    void CreateCommandControls();
    static LRESULT CALLBACK PathLabelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR id, DWORD_PTR self);

    void CreateFonts();
    void CreateMenuBar();
    // A menu command by its id; false for other ids.
    bool ExecuteCommand(int id);
    // Enables Copy and Print in `popup` by their target rules (a report list to work on).
    void UpdateListActions(HMENU popup);
    // A menu entry is highlighted (its hint goes to the status line) or the menu has closed.
    void MenuSelect(UINT item, UINT flags, HMENU menu);
    // The size and the drawing of a menu entry's picture; false for other items.
    bool MeasureMenuPicture(MEASUREITEMSTRUCT& item) const;
    bool DrawMenuPicture(const DRAWITEMSTRUCT& item) const;
    void CreateHeader();
    void CreateList();
    void LayOut();
    void LayOutHeader();
    void SizeColumns();
    void FitNameColumn();
    void ShowStatus();
    // The form's font where its classic face draws `text`, else the message font.
    HFONT FontFor(const std::string& text, bool bold) const;
    void ScheduleApply();
    int Scaled(int pixels) const;
    HWND MakeLabel(const char* text, bool bold);

    std::vector<std::string> args_;
    std::unique_ptr<TShellBrowser> shellBrowser_;
    std::unique_ptr<CommandSink<TMainForm>> commandSink_;
    std::unique_ptr<MainFormLogic> logic_;
    int dpi_ = 96;
    UniqueFont font_;
    UniqueFont boldFont_;
    UniqueFont messageFont_;
    UniqueFont boldMessageFont_;
    // Whether font_ is the classic face, which draws Western European text only.
    bool classicFace_ = false;
    bool listInMessageFont_ = false;
    // Taken once the rest of the window is made (the shell may still be filling its icons).
    std::optional<TQelSystemImageList> systemImageList_;
    TQelBrowseForFolder browseForFolderDlg_;
    TListViewEx list_;
    // Child windows are destroyed with the main window. Indexed by HeaderLabel.
    std::array<HWND, kHeaderLabelCount> labels_{};
    MainStatusBar statusBar_;
    HWND noticeLabel_ = nullptr;
    HWND toolTip_ = nullptr;
    std::string pathText_;
    std::string statusText_;
    int nameLeast_ = 0;
    bool shown_ = false;
    bool busy_ = false;
    TListViewCopy listViewCopy1_;
    TListViewPrint listViewPrint_;
    // A menu shows its hints in the status line; status texts wait until it closes.
    bool menuHint_ = false;
    bool contextMenuLoop_ = false;
    int beeps_ = 0;
    // Estimates that ended, waiting for kShowEstimateMessage to show them.
    std::vector<EstimateResult> pendingEstimates_;
    // The entries "Compress with..." was chosen for (none: the folder's tree), and the folder.
    std::string compressWithFolder_;
    std::vector<std::string> compressWithNames_;
};

}  // namespace packmeter::win32
