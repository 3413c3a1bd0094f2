#include "gui/qt/app/estimate_dialog.hpp"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/qt/framework/owned.hpp"
#include "gui/qt/framework/qt_text.hpp"

namespace packmeter::qt {

EstimateDialog::EstimateDialog(EstimateResult result, const NumberFormat& format, QWidget* parent)
    : QDialog(parent), result_(std::move(result)) {
    setWindowTitle(kEstimateTitle);
    setObjectName("EstimateDialog");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* column = MakeOwned<QVBoxLayout>(this);
    heading_ = MakeOwned<QLabel>(Text(EstimateHeading(result_)), this);
    heading_->setObjectName("Heading");
    heading_->setWordWrap(true);
    column->addWidget(heading_);

    std::vector<EstimateLine> lines = EstimateLines(result_, format);
    lines.push_back(EstimateTotalLine(result_, format));
    table_ = MakeOwned<QTableWidget>(int(lines.size()), int(kEstimateColumnCount), this);
    table_->setObjectName("EstimateTable");
    QStringList captions;
    for (const char* caption : kEstimateColumnCaptions) {
        captions << caption;
    }
    table_->setHorizontalHeaderLabels(captions);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setShowGrid(false);
    // A figure table to read, not a form to fill in: no cell wears the focus frame.
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setWordWrap(false);
    QFont bold = table_->font();
    bold.setBold(true);
    for (int row = 0; row < int(lines.size()); ++row) {
        const bool total = row + 1 == int(lines.size());
        for (int cell = 0; cell < int(kEstimateColumnCount); ++cell) {
            auto item = std::make_unique<QTableWidgetItem>(Text(lines[row].cells[cell]));
            item->setTextAlignment(Qt::AlignVCenter | (cell == 0 ? Qt::AlignLeft : Qt::AlignRight));
            if (total) {
                item->setFont(bold);
            }
            table_->setItem(row, cell, item.release());
        }
    }
    table_->resizeColumnsToContents();
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    column->addWidget(table_, 1);

    summary_ = MakeOwned<QLabel>(Text(EstimateSummary(result_, format)), this);
    summary_->setObjectName("Summary");
    summary_->setWordWrap(true);
    column->addWidget(summary_);

    auto* buttons = MakeOwned<QDialogButtonBox>(this);
    compress_ = buttons->addButton(kEstimateCompressButton, QDialogButtonBox::AcceptRole);
    compress_->setObjectName("CompressButton");
    if (result_.request.quick) {
        exact_ = buttons->addButton(kEstimateExactButton, QDialogButtonBox::ActionRole);
        exact_->setObjectName("ExactButton");
        exact_->setToolTip("Read every byte for the exact forecast");
    }
    QPushButton* closeButton =
        buttons->addButton(kEstimateCloseButton, QDialogButtonBox::RejectRole);
    closeButton->setDefault(true);
    connect(compress_, &QPushButton::clicked, this, [this] {
        close();
        if (onCompress) {
            onCompress(result_);
        }
    });
    if (exact_) {
        connect(exact_, &QPushButton::clicked, this, [this] {
            close();
            if (onExact) {
                onExact(result_);
            }
        });
    }
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    column->addWidget(buttons);
    // Room for the five columns and a few rows without scrolling.
    int width = 0;
    for (int cell = 0; cell < int(kEstimateColumnCount); ++cell) {
        width += table_->columnWidth(cell);
    }
    resize(std::max(width + Scaled(*this, 60), Scaled(*this, 520)),
           Scaled(*this, 160) + std::min(int(lines.size()), 12) * table_->rowHeight(0));
}

}  // namespace packmeter::qt
