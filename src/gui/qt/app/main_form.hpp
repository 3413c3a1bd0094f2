#pragma once

#include <QMainWindow>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/app/command_sink.hpp"
#include "core/app/main_form_logic.hpp"
#include "core/app/main_menu.hpp"
#include "core/listview/list_view_actions.hpp"
#include "core/shell/shell_browser.hpp"

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace packmeter::qt {

class TListViewEx;
class TQelBrowseForFolder;
class TQelSystemImageList;

// The Packmeter window: the folder's path and totals in a header, the entries in a sortable
// list, one line of status at the foot, and the File menu. A right-click on the rows, or a
// click on the path, shows the desktop's context menu with "&COMPRESS" and "&DECOMPRESS".
class TMainForm : public QMainWindow, private MainFormView {
    Q_OBJECT

  public:
    // `args`: the command-line arguments, the first of which is the folder to scan.
    TMainForm(MainFormServices services, std::vector<std::string> args, QWidget* parent = nullptr);
    ~TMainForm() override;

    MainFormLogic& Logic() { return *logic_; }
    TListViewEx* List() const { return list_; }
    QLabel* Label(HeaderLabel label) const { return labels_[std::size_t(label)]; }
    QLabel* PathLabel() const { return Label(HeaderLabel::kPath); }
    QLabel* SizeLabel() const { return Label(HeaderLabel::kSize); }
    QLabel* CompressedLabel() const { return Label(HeaderLabel::kCompressed); }
    QLabel* RatioLabel() const { return Label(HeaderLabel::kRatio); }
    QLabel* StatusLine() const { return statusLine_; }
    // The whole texts of the status line and the path, which may be shown shortened.
    const QString& StatusText() const { return statusText_; }
    const QString& PathText() const { return pathText_; }
    // Where the header says why there are no totals (an error, no folder, a stopped scan).
    QLabel* NoticeLabel() const { return noticeLabel_; }
    QWidget* HeaderPanel() const { return panel_; }
    QTimer* UpdateStatusTimer() const { return updateStatusTimer_; }
    TQelBrowseForFolder* BrowseForFolderDlg() const { return browseForFolderDlg_; }
    QAction* ScanAction() const { return scanAction_; }
    QAction* RefreshAction() const { return refreshAction_; }
    QAction* FileExitAction() const { return fileExitAction_; }
    // The menu entry of `command`.
    QAction* Action(MenuCommand command) const { return actions_[std::size_t(command)]; }
    TListViewCopy& ListViewCopy1() { return listViewCopy1_; }
    TListViewPrint& ListViewPrint() { return listViewPrint_; }
    TShellBrowser& ShellBrowser() { return *shellBrowser_; }
    // The running command's progress figure and its Cancel button, in the status bar.
    QProgressBar* CommandProgressBar() const { return progressBar_; }
    QLabel* CommandProgressLabel() const { return progressLabel_; }
    QPushButton* CancelButton() const { return cancelButton_; }

    // The Help commands: the readme in the desktop's text viewer, and a fresh About box.
    void ReademFileActionExecute();
    void HelpAboutActionExecute();
    // Where the readme is: beside the program, else in an installation's documentation folder;
    // empty when it is in neither.
    static QString ReadmePath();

    void UpdateStatusTimerTimer();

    // The layout's lengths at 96 dpi and the form's 8-point font, on this screen and in the
    // window's font.
    int Scaled(int pixels) const;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

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

    void CreateCommandProgress();
    // "Compress with..." and the estimate's result: the dialogs of the commands' menu items.
    void ShowCompressWith(const std::string& folder, const std::vector<std::string>& names);
    void ShowEstimate(const EstimateResult& result);
    // Fits the progress bar beside the command's figure in the status bar.
    void SizeCommandProgress();
    // Shows the context menu at a screen point; the shell browser's errors become messages.
    void ListContextPopup(const QPoint& global);
    void PathLabelMouseUp(const QPoint& global);

    void ScheduleApply();
    void CreateMenu();
    void Execute(MenuCommand command);
    // Enables Copy and Print by their target rules (a report list to work on).
    void UpdateListActions();
    void CreateHeader(QWidget* parent);
    void CreateList(QWidget* parent);
    void LayOutHeader();
    void CreateShortcuts();
    void SizeColumns();
    void FitNameColumn();
    void ShowStatus();

    std::vector<std::string> args_;
    std::unique_ptr<MainFormLogic> logic_;
    std::unique_ptr<TShellBrowser> shellBrowser_;
    std::unique_ptr<CommandSink<TMainForm>> commandSink_;
    TQelSystemImageList* systemImageList_ = nullptr;
    TQelBrowseForFolder* browseForFolderDlg_ = nullptr;
    QWidget* panel_ = nullptr;
    // Indexed by HeaderLabel.
    std::array<QLabel*, kHeaderLabelCount> labels_{};
    TListViewEx* list_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QLabel* noticeLabel_ = nullptr;
    QProgressBar* progressBar_ = nullptr;
    QLabel* progressLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    // The entries a command could not switch, shown in the status line's tool tip.
    QString failuresText_;
    // The whole texts of the path and the status line, which are shown shortened when long.
    QString pathText_;
    QString statusText_;
    QTimer* updateStatusTimer_ = nullptr;
    QTimer* applyTimer_ = nullptr;
    QAction* scanAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* fileExitAction_ = nullptr;
    std::array<QAction*, kMenuCommandCount> actions_{};
    TListViewCopy listViewCopy1_;
    TListViewPrint listViewPrint_;
    int nameLeast_ = 0;
    bool shown_ = false;
    bool busy_ = false;
};

}  // namespace packmeter::qt
