#pragma once

#include <QColor>
#include <QLabel>
#include <QString>

class QAction;
class QMenu;

namespace packmeter::qt {

// A text label that looks and acts like a hyperlink: blue and underlined under a hand cursor,
// in ActiveColor while the left button is held on it, opening its URL (or, without one, its
// caption) with the desktop's default handler when clicked. Its own context menu copies the
// caption.
class TUrlLabel : public QLabel {
    Q_OBJECT

  public:
    explicit TUrlLabel(const QString& caption, QWidget* parent = nullptr);

    QString URL() const { return url_; }
    void SetURL(const QString& url) { url_ = url; }
    QColor ActiveColor() const { return activeColor_; }
    void SetActiveColor(const QColor& colour) { activeColor_ = colour; }
    QColor CaptionColor() const;
    QMenu* ContextMenu() const { return menu_; }
    QAction* CopyItem() const { return copyItem_; }

  signals:
    void clicked();
    void mouseDown();

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void SetCaptionColor(const QColor& colour);
    void Click();

    QString url_;
    QColor activeColor_{128, 0, 128};
    QColor savedColor_;
    bool pressed_ = false;
    QMenu* menu_;
    QAction* copyItem_;
};

}  // namespace packmeter::qt
