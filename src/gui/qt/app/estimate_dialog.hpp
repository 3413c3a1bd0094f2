#pragma once

#include <QDialog>
#include <functional>

#include "core/app/estimate_result.hpp"

class QLabel;
class QPushButton;
class QTableWidget;

namespace packmeter::qt {

// The result of "Estimate saving...": the entries with their size, what they take now, the
// forecast and the saving, the totals below them, and buttons that compress them with the
// choice the forecast used or ask again for the exact figures. It stays open beside the
// window (not modal) and is deleted when closed.
class EstimateDialog : public QDialog {
    Q_OBJECT

  public:
    EstimateDialog(EstimateResult result, const NumberFormat& format, QWidget* parent);

    // "&Compress" and "&Exact estimate": the dialog closes, then these run.
    std::function<void(const EstimateResult&)> onCompress;
    std::function<void(const EstimateResult&)> onExact;

    QTableWidget* Table() const { return table_; }
    QLabel* Heading() const { return heading_; }
    QLabel* Summary() const { return summary_; }
    QPushButton* CompressButton() const { return compress_; }
    QPushButton* ExactButton() const { return exact_; }
    const EstimateResult& Result() const { return result_; }

  private:
    EstimateResult result_;
    QTableWidget* table_ = nullptr;
    QLabel* heading_ = nullptr;
    QLabel* summary_ = nullptr;
    QPushButton* compress_ = nullptr;
    QPushButton* exact_ = nullptr;
};

}  // namespace packmeter::qt
