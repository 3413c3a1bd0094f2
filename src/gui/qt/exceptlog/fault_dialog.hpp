#pragma once

#include <QDialog>

#include <functional>
#include <optional>

#include "core/exceptlog/fault_dialog.hpp"

class QLabel;
class QPushButton;
class QTabWidget;
class QTreeWidget;

namespace packmeter::qt {

// The fault logger's error dialog: the short message with OK, Details and (after enough
// errors) Terminate or Restart; Details opens the report's two pages.
class FaultDialog : public QDialog {
    Q_OBJECT
  public:
    explicit FaultDialog(FaultDialogData data, QWidget* parent = nullptr);
    ~FaultDialog() override;

    FaultDialogResult Result() const { return result_; }
    bool Expanded() const { return expanded_; }
    void SetExpanded(bool expanded);

    // "FaultLog.ini" in the user's configuration folder.
    static QString CoordinatesFile();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void done(int result) override;

  private:
    void ShowPage(int index);
    void ClosePage();
    void PlaceButtons();
    void ShowCollapsed();
    void ShowExpanded();
    void SaveCoordinates();

    FaultDialogData data_;
    FaultDialogCoordinates coordinates_;
    FaultDialogResult result_ = FaultDialogResult::kClosed;
    bool expanded_ = false;
    bool painted_ = false;
    QLabel* picture_;
    QLabel* header_;
    QTabWidget* tabs_;
    QPushButton* close_;
    QPushButton* terminate_;
    QPushButton* details_;
    QTreeWidget* list_ = nullptr;
};

// Runs `show` (a modal box, its result as a number) on the window's thread: directly there;
// from another thread through a queued call that waits up to kMostDialogWaitMilliseconds for
// the window's thread to take it up, then as long as the box stays open. None when it was not
// taken up.
std::optional<int> RunModalOnWindowThread(const std::function<int()>& show);

// Shows the dialog on the window thread, waiting for it from any other thread; beeps first and
// gives the active window its focus back afterwards.
FaultDialogResult ShowFaultDialog(const FaultDialogData& data);

}  // namespace packmeter::qt
