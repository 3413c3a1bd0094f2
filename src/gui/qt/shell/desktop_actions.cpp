#include "gui/qt/shell/desktop_actions.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/scan/algorithm_text.hpp"
#include "core/utils/program_thread.hpp"
#include "core/utils/size_text.hpp"
#include "gui/qt/framework/desktop_services.hpp"
#include "gui/qt/framework/owned.hpp"
#include "platform/linux/shell/entry_properties.hpp"
#include "platform/system.hpp"

namespace packmeter::qt {

namespace {

constexpr auto kFileManagerService = "org.freedesktop.FileManager1";
constexpr auto kFileManagerPath = "/org/freedesktop/FileManager1";

QStringList Uris(const QStringList& paths) {
    QStringList uris;
    for (const auto& path : paths) {
        uris << QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    }
    return uris;
}

bool CallFileManager(const char* method, const QStringList& paths) {
    if (!FileManagerService::Available()) {
        return false;
    }
    auto call = QDBusMessage::createMethodCall(kFileManagerService, kFileManagerPath,
                                               kFileManagerService, method);
    // No startup notification id: the file manager raises its window by itself.
    call << Uris(paths) << QString();
    // The reply only says that the request arrived; a file manager that the bus has to start
    // first may take a few seconds.
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

QString Local(const std::string& text) {
    return QFile::decodeName(QByteArray(text.data(), qsizetype(text.size())));
}

QString SizeText(std::int64_t bytes) {
    const QString exact = QLocale().toString(qlonglong(bytes));
    if (bytes < 1024) {
        return QObject::tr("%1 bytes").arg(exact);
    }
    return QObject::tr("%1 (%2 bytes)")
        .arg(QString::fromStdString(FormatSize(1, bytes, UserNumberFormat())), exact);
}

QString TimeText(const std::timespec& time) {
    return QLocale().toString(QDateTime::fromSecsSinceEpoch(time.tv_sec), QLocale::LongFormat);
}

QString StateText(const linuxfs::EntryProperties& entry) {
    QString text;
    switch (entry.state) {
        case CompressionState::kCompressed:
            text = QObject::tr("compressed");
            break;
        case CompressionState::kPartly:
            text = QObject::tr("partly compressed");
            break;
        case CompressionState::kPlain:
            text = QObject::tr("not compressed");
            break;
    }
    if (entry.flagged) {
        text += QObject::tr(", new data is compressed");
    }
    return text;
}

}  // namespace

bool FileManagerService::Available() {
    const auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) {
        return false;
    }
    if (bus.interface()->isServiceRegistered(kFileManagerService)) {
        return true;
    }
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "ListActivatableNames"));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().toStringList().contains(kFileManagerService);
}

bool FileManagerService::ShowItems(const QStringList& paths) {
    return CallFileManager("ShowItems", paths);
}

bool FileManagerService::ShowItemProperties(const QStringList& paths) {
    return CallFileManager("ShowItemProperties", paths);
}

void CopyFilesToClipboard(const QStringList& paths) {
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const auto& path : paths) {
        urls << QUrl::fromLocalFile(path);
    }
    data->setUrls(urls);
    // GNOME's file manager pastes its own list, which says whether the files were cut or copied.
    data->setData("x-special/gnome-copied-files",
                  (QStringList{"copy"} + Uris(paths)).join('\n').toUtf8());
    data->setText(paths.join('\n'));
    QGuiApplication::clipboard()->setMimeData(data.release());
}

void CopyPathsToClipboard(const QStringList& paths) {
    QGuiApplication::clipboard()->setText(paths.join('\n'));
}

namespace {

// Makes `path` and any missing folder above it with mode 0700, as the desktop's base-directory
// rules ask for a data folder; false with the reason when a part cannot be made.
bool MakeOwnFolders(const std::string& path, QString& error) {
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') {
            continue;
        }
        const std::string part = path.substr(0, end);
        struct stat info {};
        if (::stat(part.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) {
                error = QObject::tr("%1 is not a folder").arg(QFile::decodeName(part.c_str()));
                return false;
            }
            continue;
        }
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = QObject::tr("cannot make %1: %2")
                        .arg(QFile::decodeName(part.c_str()),
                             QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    return true;
}

}  // namespace

QString HomeTrashFolder() {
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    if (!dataHome.isEmpty() && dataHome.startsWith('/')) {
        return QFile::decodeName(dataHome) + "/Trash";
    }
    const QByteArray home = qgetenv("HOME");
    if (home.isEmpty() || !home.startsWith('/')) {
        return {};
    }
    return QFile::decodeName(home) + "/.local/share/Trash";
}

bool MoveEntryToTrash(const QString& path, QString& error) {
    // The home trash must exist before the move: missing (a fresh account has no data folder
    // yet), the toolkit's trash would put the entry into "files" and "info" of the working
    // folder. Its folders are made as the trash rules say (the user's own, mode 0700).
    const QString trash = HomeTrashFolder();
    if (trash.isEmpty()) {
        error = QObject::tr("the home folder is not known (HOME is not set)");
        return false;
    }
    for (const QString& folder : {trash + "/files", trash + "/info"}) {
        if (!MakeOwnFolders(QFile::encodeName(folder).toStdString(), error)) {
            return false;
        }
    }
    QFile file(path);
    if (!file.moveToTrash()) {
        error = file.errorString();
        return false;
    }
    // Where the entry went: a trash's "files" folder, never a relative place.
    const QString moved = file.fileName();
    if (!QFileInfo(moved).isAbsolute() || !moved.contains("/files/")) {
        std::rename(QFile::encodeName(moved).constData(), QFile::encodeName(path).constData());
        error = QObject::tr("the trash put it in %1; it was moved back").arg(moved);
        return false;
    }
    return true;
}

bool RenameEntry(const QString& path, const QString& newName, QString& error) {
    if (newName.isEmpty() || newName == "." || newName == ".." || newName.contains('/')) {
        error = QObject::tr("\"%1\" is not a valid name").arg(newName);
        return false;
    }
    const QFileInfo info(path);
    const QString target = info.dir().filePath(newName);
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        error = QObject::tr("\"%1\" already exists").arg(newName);
        return false;
    }
    // A rename in place renames folders and links as they are, where QFile would copy a folder;
    // it never replaces an entry that appeared meanwhile. File systems without that guarantee
    // (FUSE ones among them) refuse it with EINVAL, and get the plain rename after the check.
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(target);
    int result = renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    if (result != 0 && errno == EINVAL) {
        result = std::rename(from.constData(), to.constData());
    }
    if (result != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

std::optional<QString> AskNewName(QWidget* parent, const QString& path) {
    const QString name = QFileInfo(path).fileName();
    QInputDialog dialog(parent);
    dialog.setWindowTitle(QObject::tr("Rename"));
    dialog.setLabelText(QObject::tr("New name:"));
    dialog.setTextValue(name);
    dialog.setObjectName("renameDialog");
    // Select the name without its extension once the field has its text, as file managers do.
    QTimer::singleShot(0, &dialog, [&dialog, &name, path] {
        if (auto* edit = dialog.findChild<QLineEdit*>()) {
            const qsizetype dot = name.lastIndexOf('.');
            edit->setSelection(0, dot > 0 && !QFileInfo(path).isDir() ? dot : name.size());
        }
    });
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QString chosen = dialog.textValue().trimmed();
    if (chosen.isEmpty() || chosen == name) {
        return std::nullopt;
    }
    return chosen;
}

PropertiesDialog::PropertiesDialog(std::shared_ptr<FileSystem> fs, const QStringList& paths,
                                   QWidget* parent)
    : QDialog(parent) {
    setObjectName("propertiesDialog");
    setAttribute(Qt::WA_DeleteOnClose);
    auto* column = MakeOwned<QVBoxLayout>(this);
    form_ = MakeOwned<QFormLayout>();
    column->addLayout(form_);
    auto* buttons = MakeOwned<QDialogButtonBox>(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    const QFileInfo first(paths.value(0));
    const bool single = paths.size() == 1;
    setWindowTitle(single ? tr("%1 Properties").arg(first.fileName()) : tr("Properties"));
    SetValue(tr("Name:"), single ? first.fileName() : tr("%1 items").arg(paths.size()));
    if (single) {
        SetValue(tr("Type:"), first.isDir() && !first.isSymLink() ? tr("folder") : tr("file"));
    }
    SetValue(tr("Place:"), first.absolutePath());
    for (const auto* label : {"Size:", "On disk:", "Compression:"}) {
        SetValue(tr(label), tr("measuring..."));
    }

    // Sizes below a folder take as long as a scan: they are read on a thread of their own and
    // handed to the window's thread, which owns the labels.
    std::vector<std::string> local;
    for (const auto& path : paths) {
        const QByteArray bytes = QFile::encodeName(path);
        local.emplace_back(bytes.constData(), std::size_t(bytes.size()));
    }
    measure_ = StartProgramThread("Properties", [this, fs = std::move(fs),
                                                 local = std::move(local)] {
        std::vector<linuxfs::EntryProperties> entries;
        for (const auto& path : local) {
            if (stop_) {
                return;
            }
            entries.push_back(linuxfs::ReadEntryProperties(*fs, path, &stop_));
        }
        if (stop_) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, entries = std::move(entries)] {
                std::int64_t size = 0;
                std::int64_t onDisk = 0;
                AlgorithmSplit split;
                for (const auto& entry : entries) {
                    size += entry.size;
                    onDisk += entry.onDisk;
                    split += entry.byAlgorithm;
                }
                SetValue(tr("Size:"), SizeText(size));
                SetValue(tr("On disk:"), SizeText(onDisk));
                if (!split.Empty()) {
                    SetValue(tr("By algorithm:"),
                             QString::fromStdString(AlgorithmSplitText(split, UserNumberFormat())));
                }
                const auto& entry = entries.front();
                if (entries.size() == 1 && !entry.error.empty()) {
                    SetValue(tr("Size:"), Local(entry.error));
                }
                if (entries.size() == 1) {
                    SetValue(tr("Compression:"), StateText(entry));
                    SetValue(tr("File system:"), Local(entry.fileSystem));
                    SetValue(tr("Owner:"), Local(entry.owner) + " (" + tr("group") + " " +
                                               Local(entry.group) + ")");
                    SetValue(tr("Permissions:"), QString("%1 (%2)")
                                                     .arg(Local(entry.permissions))
                                                     .arg(entry.mode, 4, 8, QChar('0')));
                    if (entry.created) {
                        SetValue(tr("Created:"), TimeText(*entry.created));
                    }
                    SetValue(tr("Modified:"), TimeText(entry.modified));
                    SetValue(tr("Accessed:"), TimeText(entry.accessed));
                    SetValue(tr("Changed:"), TimeText(entry.changed));
                } else {
                    linuxfs::EntryProperties all;
                    all.state = RowState(false, size, onDisk);
                    SetValue(tr("Compression:"), StateText(all));
                }
                std::int64_t unreadable = 0;
                for (const auto& each : entries) {
                    unreadable += each.unreadable;
                }
                if (unreadable > 0) {
                    SetValue(tr("Not readable:"), tr("%1 entries (not counted)").arg(unreadable));
                }
                complete_ = true;
            },
            Qt::QueuedConnection);
    });
}

PropertiesDialog::~PropertiesDialog() {
    stop_ = true;
    measure_.join();
}

void PropertiesDialog::SetValue(const QString& label, const QString& value) {
    for (int row = 0; row < form_->rowCount(); ++row) {
        auto* name =
            qobject_cast<QLabel*>(form_->itemAt(row, QFormLayout::LabelRole)
                                      ? form_->itemAt(row, QFormLayout::LabelRole)->widget()
                                      : nullptr);
        if (name && name->text() == label) {
            qobject_cast<QLabel*>(form_->itemAt(row, QFormLayout::FieldRole)->widget())
                ->setText(value);
            return;
        }
    }
    auto* field = MakeOwned<QLabel>(value, this);
    field->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form_->addRow(MakeOwned<QLabel>(label, this), field);
}

QString PropertiesDialog::Value(const QString& label) const {
    for (int row = 0; row < form_->rowCount(); ++row) {
        const auto* name = form_->itemAt(row, QFormLayout::LabelRole);
        const auto* field = form_->itemAt(row, QFormLayout::FieldRole);
        const auto* nameLabel = name ? qobject_cast<QLabel*>(name->widget()) : nullptr;
        if (nameLabel && nameLabel->text() == label && field) {
            return qobject_cast<QLabel*>(field->widget())->text();
        }
    }
    return {};
}

void ShowProperties(QWidget* parent, std::shared_ptr<FileSystem> fs, const QStringList& paths) {
    if (paths.isEmpty() || FileManagerService::ShowItemProperties(paths)) {
        return;
    }
    auto* dialog = MakeOwned<PropertiesDialog>(std::move(fs), paths, parent);
    dialog->show();
}

void ShowInFileManager(
    const QStringList& paths,
    std::function<void(const QString& folder, const std::string& reason)> onFailure) {
    if (paths.isEmpty() || FileManagerService::ShowItems(paths)) {
        return;
    }
    // Without the file manager's service, the folder opens in the desktop's folder viewer.
    const QString folder = QFileInfo(paths.first()).absolutePath();
    OpenWithDesktop(folder, [folder, onFailure](const std::string& reason) {
        if (onFailure) {
            onFailure(folder, reason);
        }
    });
}

}  // namespace packmeter::qt
