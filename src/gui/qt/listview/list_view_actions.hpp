#pragma once

#include <QPainter>
#include <QPrinter>
#include <QString>
#include <memory>

#include "core/listview/list_view_actions.hpp"

class QWidget;

namespace packmeter::qt {

// Puts the text of `action`'s list on the desktop's clipboard; false when the clipboard did not
// take it.
bool ExecuteCopy(TListViewCopy& action, ReportList* target);

// Prints on the default printer. Where no printer is set up, it says so and offers to save the
// print as a PDF file instead; with an output file set, it writes that PDF file directly.
class QtListPrinter final : public ListPrinter {
  public:
    explicit QtListPrinter(QWidget* parent, QString pdfFile = {});

    bool ShowDialog() override;
    bool BeginJob() override;
    PrintPage Page() const override;
    int TextWidth(std::string_view text, const PrintFont& font) const override;
    std::string DateTimeText() const override;
    void Draw(const std::vector<PrintOp>& ops) override;

    // The PDF file written, when the print went to one.
    QString PdfFile() const { return pdfFile_; }
    // Why the job could not begin; empty when it did or the user cancelled it.
    const QString& Failure() const { return failure_; }

  private:
    bool ChoosePdfFile();
    QFont Font(const PrintFont& font) const;

    QWidget* parent_;
    QString pdfFile_;
    QString failure_;
    // The print dialog was accepted: its printer is the one to print on.
    bool chosen_ = false;
    QPrinter printer_{QPrinter::HighResolution};
    QPainter painter_;
};

}  // namespace packmeter::qt
