#pragma once

#include <QDialog>

class QLabel;

namespace packmeter::qt {

class TUrlLabel;

// The About box: the program's icon, name and version, a notice line, the project's e-mail
// address and web site as links, and a pointer to the command-line tool. Made afresh for each
// showing.
class TAboutBox : public QDialog {
    Q_OBJECT

  public:
    // `toolPage`: what the command-line tool's link opens.
    TAboutBox(const QString& toolPage, QWidget* parent = nullptr);

    QLabel* ProductName() const { return productName_; }
    QLabel* Shadow() const { return shadow_; }
    QLabel* Version() const { return version_; }
    QLabel* ProgramIcon() const { return programIcon_; }
    TUrlLabel* EmailLink() const { return email_; }
    TUrlLabel* WebLink() const { return web_; }
    TUrlLabel* ToolLink() const { return tool_; }

  private:
    void FormCreate();
    int Scaled(int pixels) const;
    QLabel* Label(const QString& text, QWidget* parent, int x, int y);

    QLabel* productName_ = nullptr;
    QLabel* shadow_ = nullptr;
    QLabel* version_ = nullptr;
    QLabel* programIcon_ = nullptr;
    TUrlLabel* email_ = nullptr;
    TUrlLabel* web_ = nullptr;
    TUrlLabel* tool_ = nullptr;
};

}  // namespace packmeter::qt
