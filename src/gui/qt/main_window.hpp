#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "core/app/main_form.hpp"

class QAction;
class QLabel;
class QTimer;

namespace packmeter::qt {

class TListViewEx;
class TQelBrowseForFolder;
class TQelSystemImageList;

// The Packmeter window: the folder's path and totals in a header, the entries in a sortable
// list, one line of status at the foot, and the File menu.
class TMainForm : public QMainWindow, private MainFormView {
    Q_OBJECT

  public:
    // `args`: the command-line arguments, the first of which is the folder to scan.
    TMainForm(MainFormServices services, std::vector<std::string> args, QWidget* parent = nullptr);
    ~TMainForm() override;

    TMainFormLogic& Logic() { return *logic_; }
    TListViewEx* List() const { return list_; }
    QLabel* PathLabel() const { return pathLabel_; }
    QLabel* SizeLabel() const { return sizeLabel_; }
    QLabel* CompressedLabel() const { return compressedLabel_; }
    QLabel* RatioLabel() const { return ratioLabel_; }
    QLabel* StatusLine() const { return statusLine_; }
    QWidget* HeaderPanel() const { return panel_; }
    QTimer* UpdateStatusTimer() const { return updateStatusTimer_; }
    TQelBrowseForFolder* BrowseForFolderDlg() const { return browseForFolderDlg_; }
    QAction* ScanAction() const { return scanAction_; }
    QAction* RefreshAction() const { return refreshAction_; }
    QAction* FileExitAction() const { return fileExitAction_; }

    void UpdateStatusTimerTimer();

  protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SetCaption(const std::string& text) override;
    void SetPathText(const std::string& text) override;
    void SetStatusText(const std::string& text) override;
    void SetTotals(const ScanTotals& totals) override;
    void SetBusyCursor(bool busy) override;
    void ClearList() override;
    void AddItems(std::vector<ListItem> items) override;
    void SelectAllItems() override;
    const ListItem* FirstSelectedItem() const override;
    bool BrowseForFolder(std::string& folder) override;
    void SetSortColumn(int column) override;

    // Applies the scans' output now, or after the rest of the minimum interval between two
    // batches: each batch lays the list out anew, so fewer, larger batches keep a scan of
    // many entries fast while the rows still appear as they come.
    void ScheduleApply();
    void ApplyScanOutput();
    void CreateMenu();
    void CreateHeader(QWidget* parent);
    void CreateList(QWidget* parent);
    void LayOutHeader();
    int Scaled(int pixels) const;

    std::vector<std::string> args_;
    std::unique_ptr<TMainFormLogic> logic_;
    TQelSystemImageList* systemImageList_ = nullptr;
    TQelBrowseForFolder* browseForFolderDlg_ = nullptr;
    QWidget* panel_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* pathLabel_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* sizeLabel_ = nullptr;
    QLabel* label4_ = nullptr;
    QLabel* compressedLabel_ = nullptr;
    QLabel* label5_ = nullptr;
    QLabel* ratioLabel_ = nullptr;
    TListViewEx* list_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QTimer* updateStatusTimer_ = nullptr;
    QTimer* applyTimer_ = nullptr;
    QElapsedTimer lastApply_;
    QAction* scanAction_ = nullptr;
    QAction* refreshAction_ = nullptr;
    QAction* fileExitAction_ = nullptr;
    bool shown_ = false;
    bool busy_ = false;
};

}  // namespace packmeter::qt
