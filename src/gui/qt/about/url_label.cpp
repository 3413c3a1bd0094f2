#include "gui/qt/about/url_label.hpp"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QUrl>

#include "core/about/url_target.hpp"
#include "gui/qt/framework/owned.hpp"

namespace packmeter::qt {

TUrlLabel::TUrlLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    SetCaptionColor(QColor(0, 0, 255));
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    menu_ = MakeOwned<QMenu>(this);
    copyItem_ = menu_->addAction("Copy");
    connect(copyItem_, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(text()); });
}

QColor TUrlLabel::CaptionColor() const {
    return palette().color(QPalette::WindowText);
}

void TUrlLabel::SetCaptionColor(const QColor& colour) {
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, colour);
    setPalette(colours);
}

void TUrlLabel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        savedColor_ = CaptionColor();
        SetCaptionColor(activeColor_);
        pressed_ = true;
    }
    emit mouseDown();
    QLabel::mousePressEvent(event);
}

void TUrlLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && pressed_) {
        pressed_ = false;
        SetCaptionColor(savedColor_);
        if (rect().contains(event->position().toPoint())) {
            Click();
        }
    }
    QLabel::mouseReleaseEvent(event);
}

void TUrlLabel::contextMenuEvent(QContextMenuEvent* event) {
    menu_->popup(event->globalPos());
    event->accept();
}

void TUrlLabel::Click() {
    emit clicked();
    const auto target = UrlLabelTarget(url_.toStdString(), text().toStdString());
    if (target) {
        // The desktop's handler for the address's scheme: a browser, a mail program.
        QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(*target)));
    }
}

}  // namespace packmeter::qt
