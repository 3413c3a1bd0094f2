#pragma once

#include <cstdint>

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QRegularExpression>
#include <QSet>
#include <QSize>
#include <QString>
#include <memory>
#include <mutex>
#include <vector>

#include "core/fs/filesystem.hpp"

namespace packmeter::qt {

// The process's one list of small icons, from the desktop's icon theme: the folder icon, and
// for a file the icon of its MIME type. Scans ask for indexes on their own threads; the icons
// themselves are made on the UI thread, the first time a row shows one.
class SystemIconList final : public IconSource {
  public:
    // The list of this process: made when first needed, kept while anyone holds it.
    static std::shared_ptr<SystemIconList> Shared();

    // Any thread.
    int IconIndex(const std::string& folder, std::string_view name, bool isFolder) override;
    int FolderIndex();
    // The index for a theme icon name, with a more generic name to fall back on.
    int IndexOf(const QString& iconName, const QString& genericName);
    int Count() const;
    QString IconName(int index) const;

    // UI thread only. A null icon for an index not in the list.
    QIcon Icon(int index);

    SystemIconList();

  private:
    struct Names {
        QString icon;
        QString generic;
    };

    int FileIconIndex(const QString& fileName);
    // Whether a glob of the MIME database looks at more of the name than its suffixes.
    bool NameMatters(const QString& fileName) const;

    mutable std::mutex lock_;
    std::vector<Names> names_;
    QHash<QString, int> indexes_;
    // The icon of every name that only its suffixes type, by the suffixes (from the first '.').
    QHash<QString, int> bySuffix_;
    QSet<QString> literalNames_;
    QRegularExpression otherGlobs_;
    std::vector<QIcon> icons_;  // UI thread only
};

// Which of the system's icon lists: small or large icons.
enum class ImageListSize : std::uint8_t { kSmall = 0, kLarge = 1 };
// The names of the form descriptions.
using TQelImageListSize = ImageListSize;
inline constexpr ImageListSize si_small = ImageListSize::kSmall;
inline constexpr ImageListSize si_large = ImageListSize::kLarge;

// The image list that a list's rows draw their icons from: the process's icon list, shared,
// or a copy of the icons it held when the copy was taken.
class TQelSystemImageList : public QObject {
    Q_OBJECT

  public:
    explicit TQelSystemImageList(QObject* owner = nullptr);

    bool ShareImages() const { return shareImages_; }
    void SetShareImages(bool share);
    ImageListSize Size() const { return size_; }
    void SetSize(ImageListSize size);
    QSize IconSize() const;

    QIcon Icon(int index) const;
    // The process's list, for the scans.
    const std::shared_ptr<SystemIconList>& Source() const { return shared_; }

  private:
    void RefreshSystemList();

    std::shared_ptr<SystemIconList> shared_ = SystemIconList::Shared();
    std::vector<QIcon> copy_;
    bool shareImages_ = true;
    ImageListSize size_ = ImageListSize::kSmall;
};

// Makes the desktop's icon theme the one icons come from, with Adwaita where the desktop names
// none and for every icon the desktop's theme lacks.
void UseDesktopIconTheme();

// The program's own icon for its windows: the installed one from the icon theme (every size the
// theme has), else the pictures built into the program (16 and 32 pixels), so that task bars
// and window switchers show it also when the program runs uninstalled.
QIcon ApplicationIcon();

}  // namespace packmeter::qt
