#include "gui/qt/listview/qt_list_locale.hpp"
#include "gui/qt/framework/qt_text.hpp"

#include <QString>

namespace packmeter::qt {

namespace {

// The first character of a format that is not one of its field letters.
std::string SeparatorOf(const QString& format, const char* fallback) {
    for (const QChar c : format) {
        if (!c.isLetter() && c != ' ' && c != '\'') {
            return QString(c).toStdString();
        }
    }
    return fallback;
}

DateOrder OrderOf(const QString& format) {
    const auto year = format.indexOf('y');
    const auto month = format.indexOf('M');
    const auto day = format.indexOf('d');
    if (year >= 0 && year < month) {
        return DateOrder::kYearMonthDay;
    }
    return day >= 0 && day < month ? DateOrder::kDayMonthYear : DateOrder::kMonthDayYear;
}

}  // namespace

QtListLocale::QtListLocale(const QLocale& locale) : collator_(locale) {
    const QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    dateSeparator = SeparatorOf(dateFormat, "/");
    timeSeparator = SeparatorOf(locale.timeFormat(QLocale::ShortFormat), ":");
    dateOrder = OrderOf(dateFormat);
    thousandsSeparator = locale.groupSeparator().toStdString();
    decimalSeparator = locale.decimalPoint().toStdString();
    collator_.setCaseSensitivity(Qt::CaseSensitive);
}

int QtListLocale::CompareText(std::string_view a, std::string_view b) const {
    return collator_.compare(Text(a), Text(b));
}

}  // namespace packmeter::qt
