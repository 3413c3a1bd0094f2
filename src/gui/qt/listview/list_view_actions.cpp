#include "gui/qt/listview/list_view_actions.hpp"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLocale>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinterInfo>
#include <cmath>

#include "core/app/main_form_layout.hpp"
#include "gui/qt/framework/clipboard.hpp"
#include "gui/qt/framework/qt_text.hpp"

namespace packmeter::qt {

bool ExecuteCopy(TListViewCopy& action, ReportList* target) {
    bool copied = true;
    action.Execute(target, [&copied](const std::string& text) { copied = SetClipboardText(text); });
    return copied;
}

QtListPrinter::QtListPrinter(QWidget* parent, QString pdfFile)
    : parent_(parent), pdfFile_(std::move(pdfFile)) {}

bool QtListPrinter::ShowDialog() {
    QPrintDialog dialog(&printer_, parent_);
    chosen_ = dialog.exec() == QDialog::Accepted;
    return chosen_;
}

bool QtListPrinter::ChoosePdfFile() {
    QMessageBox question(QMessageBox::Question, QString(kApplicationTitle),
                         "No printer is set up on this computer.\n\n"
                         "Save the list as a PDF file instead?",
                         QMessageBox::Save | QMessageBox::Cancel, parent_);
    question.setObjectName("NoPrinterMessage");
    if (question.exec() != QMessageBox::Save) {
        return false;
    }
    QFileDialog dialog(parent_, "Save the list as PDF", QDir::homePath() + "/Packmeter list.pdf",
                       "PDF files (*.pdf)");
    dialog.setObjectName("PdfFileDialog");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("pdf");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    pdfFile_ = dialog.selectedFiles().constFirst();
    return true;
}

bool QtListPrinter::BeginJob() {
    // QPrinter names the system's default printer by itself; without one it has nothing to
    // print on and would fail silently.
    // A printer (or file) chosen in the print dialog is used as chosen.
    const bool chosen =
        chosen_ && (!printer_.printerName().isEmpty() || !printer_.outputFileName().isEmpty());
    if (!chosen && pdfFile_.isEmpty() && QPrinterInfo::defaultPrinter().isNull() &&
        !ChoosePdfFile()) {
        return false;
    }
    if (!pdfFile_.isEmpty()) {
        printer_.setOutputFormat(QPrinter::PdfFormat);
        printer_.setOutputFileName(pdfFile_);
    }
    printer_.setDocName(QString(kApplicationTitle));
    if (!painter_.begin(&printer_)) {
        failure_ = printer_.outputFileName().isEmpty()
                       ? QString("Cannot print: the printer \"%1\" did not start the job.")
                             .arg(printer_.printerName())
                       : QString("Cannot print to \"%1\": the file cannot be written.")
                             .arg(printer_.outputFileName());
        return false;
    }
    // One logical unit is a tenth of a millimetre, measured from the printable area's corner.
    const double scale = printer_.resolution() / 254.0;
    painter_.scale(scale, scale);
    return true;
}

PrintPage QtListPrinter::Page() const {
    const QRectF area = printer_.pageRect(QPrinter::Millimeter);
    return {int(area.width() * 10), int(area.height() * 10)};
}

QFont QtListPrinter::Font(const PrintFont& font) const {
    QFont out(QStringLiteral("Arial"));
    out.setPixelSize(font.height);
    out.setBold(font.bold);
    return out;
}

int QtListPrinter::TextWidth(std::string_view text, const PrintFont& font) const {
    return int(std::lround(QFontMetricsF(Font(font), &printer_).horizontalAdvance(Text(text))));
}

std::string QtListPrinter::DateTimeText() const {
    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    return (locale.toString(now.date(), QLocale::ShortFormat) + ' ' +
            locale.toString(now.time(), QLocale::LongFormat))
        .toStdString();
}

void QtListPrinter::Draw(const std::vector<PrintOp>& ops) {
    painter_.setPen(QPen(Qt::black, 2));
    for (const PrintOp& op : ops) {
        switch (op.kind) {
            case PrintOpKind::kNewPage:
                printer_.newPage();
                break;
            case PrintOpKind::kLine:
                painter_.drawLine(QPointF(op.x, op.y), QPointF(op.x2, op.y));
                break;
            case PrintOpKind::kText: {
                const QFont font = Font(op.font);
                painter_.setFont(font);
                const QString text = Text(op.text);
                const double width = TextWidth(op.text, op.font);
                double left = op.x;
                if (op.anchor == TextAnchor::kRight) {
                    left -= width;
                } else if (op.anchor == TextAnchor::kCentre) {
                    left -= width / 2;
                }
                const double ascent = QFontMetricsF(font, &printer_).ascent();
                painter_.drawText(QPointF(left, op.y + ascent), text);
                break;
            }
        }
    }
    painter_.end();
}

}  // namespace packmeter::qt
