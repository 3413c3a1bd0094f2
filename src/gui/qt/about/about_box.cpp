#include "gui/qt/about/about_box.hpp"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "core/about/about_texts.hpp"
#include "core/app/main_form_layout.hpp"
#include "core/utils/version.hpp"
#include "gui/qt/about/url_label.hpp"
#include "gui/qt/framework/owned.hpp"
#include "platform/system.hpp"

namespace packmeter::qt {

namespace {

constexpr int kWidth = 263;
constexpr int kHeight = 241;
constexpr int kStripHeight = 41;
constexpr int kBorder = 5;

}  // namespace

TAboutBox::TAboutBox(const QString& toolPage, QWidget* parent) : QDialog(parent) {
    setWindowTitle(kAboutCaption);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(kFormFontPoints);
    setFont(font);
    setFixedSize(Scaled(kWidth), Scaled(kHeight));

    auto* ok = MakeOwned<QPushButton>("OK", this);
    ok->setGeometry(Scaled(83), Scaled(kHeight - kStripHeight + 6), Scaled(89), Scaled(26));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* panel = MakeOwned<QFrame>(this);
    panel->setGeometry(0, 0, Scaled(kWidth), Scaled(kHeight - kStripHeight));
    auto* bevel = MakeOwned<QFrame>(panel);
    bevel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    bevel->setGeometry(Scaled(kBorder), Scaled(kBorder), Scaled(kWidth - 2 * kBorder),
                       Scaled(kHeight - kStripHeight - 2 * kBorder));
    auto* upper = MakeOwned<QWidget>(bevel);
    upper->setGeometry(1, 1, Scaled(251), Scaled(59));
    auto* lower = MakeOwned<QWidget>(bevel);
    lower->setGeometry(1, bevel->height() - 1 - Scaled(112), Scaled(251), Scaled(112));

    programIcon_ = MakeOwned<QLabel>(upper);
    programIcon_->setObjectName("ProgramIcon");
    programIcon_->setGeometry(Scaled(17), Scaled(16), Scaled(43), Scaled(41));
    programIcon_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QFont title(QStringLiteral("Arial"));
    title.setPixelSize(Scaled(19));
    title.setBold(true);
    title.setItalic(true);
    shadow_ = MakeOwned<QLabel>(upper);
    shadow_->setObjectName("Shadow");
    shadow_->setFont(title);
    shadow_->setAlignment(Qt::AlignCenter);
    shadow_->setStyleSheet("color: rgb(128, 128, 128)");
    shadow_->setGeometry(Scaled(90), Scaled(14), Scaled(126), Scaled(23));
    productName_ = MakeOwned<QLabel>(upper);
    productName_->setObjectName("ProductName");
    productName_->setFont(title);
    productName_->setAlignment(Qt::AlignCenter);
    productName_->setStyleSheet("color: black");
    productName_->setAttribute(Qt::WA_TranslucentBackground);
    productName_->setGeometry(Scaled(89), Scaled(12), Scaled(126), Scaled(23));
    version_ = Label({}, upper, 92, 41);
    version_->setObjectName("Version");

    Label(kAboutNotice, lower, 7, 0);
    Label("E-Mail:", lower, 7, 22);
    email_ = MakeOwned<TUrlLabel>(kContactEmail, lower);
    email_->setObjectName("EmailLink");
    email_->SetURL(kContactMailto);
    email_->move(Scaled(50), Scaled(21));
    Label("WWW:", lower, 7, 39);
    web_ = MakeOwned<TUrlLabel>(kHomepage, lower);
    web_->setObjectName("WebLink");
    web_->SetActiveColor(QColor(255, 0, 0));
    web_->move(Scaled(49), Scaled(38));
    Label(kRecommendLine1, lower, 7, 72);
    const QLabel* second = Label(kRecommendLine2, lower, 7, 88);
    tool_ = MakeOwned<TUrlLabel>(kRecommendProduct, lower);
    tool_->setObjectName("ToolLink");
    tool_->SetURL(toolPage);
    // Beside the line's first words, however wide the font draws them.
    tool_->move(std::max(Scaled(51), second->geometry().right() + Scaled(4)), Scaled(88));
    for (QLabel* link :
         {static_cast<QLabel*>(email_), static_cast<QLabel*>(web_), static_cast<QLabel*>(tool_)}) {
        link->adjustSize();
    }
    FormCreate();
}

int TAboutBox::Scaled(int pixels) const {
    return qt::Scaled(*this, pixels);
}

QLabel* TAboutBox::Label(const QString& text, QWidget* parent, int x, int y) {
    auto* label = MakeOwned<QLabel>(text, parent);
    label->move(Scaled(x), Scaled(y));
    label->adjustSize();
    return label;
}

void TAboutBox::FormCreate() {
    const QString name = kApplicationTitle;
    productName_->setText(name);
    shadow_->setText(name);
    // The program's own version block, as the Windows window reads its version resource; the
    // version it was built with where the file has none.
    std::string version = GetVersionString(
        true, QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString());
    if (version.empty()) {
        version = GetVersionString(true);
    }
    version_->setText(QStringLiteral("Version ") + QString::fromStdString(version));
    version_->adjustSize();
    // The installed program's icon; a build that is not installed shows the desktop's disk.
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull()) {
        icon = QIcon::fromTheme(QStringLiteral("drive-harddisk"));
    }
    programIcon_->setPixmap(icon.pixmap(Scaled(32), Scaled(32)));
}

}  // namespace packmeter::qt
