#include "gui/qt/shell/browse_for_folder.hpp"

#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include "gui/qt/framework/owned.hpp"

namespace packmeter::qt {

namespace {

QString Location(QStandardPaths::StandardLocation location) {
    return QStandardPaths::writableLocation(location);
}

// A folder from the user's XDG user-dirs file ("XDG_TEMPLATES_DIR="$HOME/Templates"").
QString UserDir(const QString& key) {
    QFile file(Location(QStandardPaths::GenericConfigLocation) + "/user-dirs.dirs");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    const QString prefix = "XDG_" + key + "_DIR=";
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.startsWith(prefix)) {
            continue;
        }
        QString value = line.mid(prefix.size());
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
            value = value.mid(1, value.size() - 2);
        }
        value.replace("$HOME", QDir::homePath());
        return value;
    }
    return {};
}

QString Home(const QString& relative) {
    return QDir::homePath() + '/' + relative;
}

bool IsFolder(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

// The folder the path field names, full, from the home folder ("~/...") or relative to the
// folder shown; empty when the field is empty or names no folder.
QString TypedFolder(const QString& text, const QDir& shown) {
    if (text.isEmpty()) {
        return {};
    }
    QString path = text;
    if (path == "~" || path.startsWith("~/")) {
        path = QDir::homePath() + path.mid(1);
    }
    path = shown.absoluteFilePath(path);
    return IsFolder(path) ? path : QString();
}

}  // namespace

TQelBrowseForFolder::TQelBrowseForFolder(QWidget* owner) : QObject(owner), owner_(owner) {}

void TQelBrowseForFolder::SetRootedAtFileSystemFolder(const QString& folder) {
    rootFolder_ = folder;
    rootedAt_ = SF_FILESYSTEMFOLDER;
}

QString TQelBrowseForFolder::SpecialFolderPath(TQelShellFolder folder) {
    switch (folder) {
        case SF_DESKTOP:
            // The top of the user's own space, where a desktop's file manager opens.
            return QDir::homePath();
        case SF_FILESYSTEMFOLDER:
        case SF_DRIVES:
            return QDir::rootPath();
        case SF_DESKTOPDIRECTORY:
        case SF_COMMON_DESKTOPDIRECTORY:
            return Location(QStandardPaths::DesktopLocation);
        case SF_PERSONAL:
            return Location(QStandardPaths::DocumentsLocation);
        case SF_MYPICTURES:
            return Location(QStandardPaths::PicturesLocation);
        case SF_TEMPLATES:
            return UserDir("TEMPLATES");
        case SF_COMMON_DOCUMENTS:
            return UserDir("PUBLICSHARE");
        case SF_FONTS:
            return Location(QStandardPaths::FontsLocation);
        case SF_APPDATA:
            return Location(QStandardPaths::GenericConfigLocation);
        case SF_LOCAL_APPDATA:
            return Location(QStandardPaths::GenericDataLocation);
        case SF_INTERNET_CACHE:
            return Location(QStandardPaths::GenericCacheLocation);
        case SF_PROGRAMS:
        case SF_STARTMENU:
            return Location(QStandardPaths::ApplicationsLocation);
        case SF_COMMON_PROGRAMS:
        case SF_COMMON_STARTMENU:
            return "/usr/share/applications";
        case SF_STARTUP:
        case SF_ALTSTARTUP:
            return Location(QStandardPaths::GenericConfigLocation) + "/autostart";
        case SF_COMMON_STARTUP:
            return "/etc/xdg/autostart";
        case SF_BITBUCKET:
            return Home(".local/share/Trash/files");
        case SF_COMMON_APPDATA:
            return "/usr/share";
        case SF_PROGRAM_FILES:
            return "/usr";
        case SF_PROGRAM_FILES_COMMON:
        case SF_SYSTEM:
            return "/usr/lib";
        default:
            // Printers, network places, history and the like have no folder here.
            return {};
    }
}

QString TQelBrowseForFolder::RootPath() const {
    if (IsFolder(rootFolder_)) {
        return rootFolder_;
    }
    const QString special =
        SpecialFolderPath(rootedAt_ == SF_FILESYSTEMFOLDER ? SF_DRIVES : rootedAt_);
    return IsFolder(special) ? special : SpecialFolderPath(SF_DESKTOP);
}

bool TQelBrowseForFolder::Execute() {
    QWidget* owner = owner_ ? owner_->window() : nullptr;
    QDialog dialog(owner);
    dialog.setWindowTitle(QCoreApplication::applicationName());
    auto* layout = MakeOwned<QVBoxLayout>(&dialog);
    auto* title = MakeOwned<QLabel>(title_, &dialog);
    title->setWordWrap(true);
    layout->addWidget(title);

    // The chooser proper, embedded below the title.
    auto* chooser = MakeOwned<QFileDialog>(&dialog);
    chooser->setWindowFlags(Qt::Widget);
    chooser->setOption(QFileDialog::DontUseNativeDialog);
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly, !options_.Has(bfBrowseIncludeFiles));
    chooser->setOption(QFileDialog::ReadOnly, !options_.Has(bfNewDialogStyle));
    // Dot-folders too: the scan lists and measures them like any other.
    chooser->setFilter(chooser->filter() | QDir::Hidden);
    const QString root = RootPath();
    QList<QUrl> places{QUrl::fromLocalFile(root)};
    for (const QString& place :
         {QDir::homePath(), Location(QStandardPaths::DesktopLocation),
          Location(QStandardPaths::DocumentsLocation), Location(QStandardPaths::DownloadLocation),
          Location(QStandardPaths::PicturesLocation), QDir::rootPath()}) {
        const QUrl url = QUrl::fromLocalFile(place);
        if (IsFolder(place) && !places.contains(url)) {
            places.append(url);
        }
    }
    chooser->setSidebarUrls(places);
    chooser->setDirectory(IsFolder(startFolder_) ? startFolder_ : root);
    // Only folders are chosen, so the type filter has nothing to offer.
    for (const char* name : {"fileTypeCombo", "fileTypeLabel"}) {
        if (auto* widget = chooser->findChild<QWidget*>(name)) {
            widget->hide();
        }
    }
    // The path field stays whatever the options: a folder can always be typed or pasted, full
    // or relative to the folder shown, and typing goes there from the start.
    auto* pathField = chooser->findChild<QLineEdit*>("fileNameEdit");
    if (auto* label = chooser->findChild<QLabel*>("fileNameLabel");
        label && !options_.Has(bfEditBox)) {
        label->setText(QCoreApplication::translate("TQelBrowseForFolder", "Folder:"));
    }
    layout->addWidget(chooser);
    QObject::connect(chooser, &QDialog::accepted, &dialog, &QDialog::accept);
    QObject::connect(chooser, &QDialog::rejected, &dialog, &QDialog::reject);
    dialog.setSizeGripEnabled(options_.Has(bfNewDialogStyle));
    dialog.resize(dialog.sizeHint().expandedTo(QSize(520, 400)));
    if (!options_.Has(bfNewDialogStyle)) {
        dialog.setFixedSize(dialog.size());
    }

    if (pathField) {
        // Once the dialog is on screen: a hidden field cannot take the focus.
        QTimer::singleShot(0, pathField, [pathField] { pathField->setFocus(); });
    }
    if (onShow) {
        onShow();
    }
    const bool chosen = dialog.exec() == QDialog::Accepted;
    // A folder typed into the path field is the choice, exactly: the chooser's own answer is its
    // list's selection, which while typing follows each prefix ("~/t/" selects t) and may
    // still hold the parent when the typed folder's entry was not yet loaded.
    QString typed = pathField ? TypedFolder(pathField->text(), chooser->directory()) : QString();
    const QStringList files = chooser->selectedFiles();
    if (typed.isEmpty() && !files.isEmpty()) {
        typed = files.front();
    }
    selected_ = chosen && !typed.isEmpty()
                    ? ChosenFolderPath(QFile::encodeName(typed).toStdString())
                    : std::string();
    if (onClose) {
        onClose();
    }
    return chosen;
}

}  // namespace packmeter::qt
