#include "gui/qt/shell/system_image_list.hpp"

#include <QFile>
#include <QMimeDatabase>

namespace packmeter::qt {

namespace {

constexpr const char* kFolderIcon = "folder";
constexpr const char* kFileIcon = "text-x-generic";
constexpr const char* kFallbackTheme = "Adwaita";

}  // namespace

std::shared_ptr<SystemIconList> SystemIconList::Shared() {
    static std::mutex lock;
    static std::weak_ptr<SystemIconList> current;
    std::lock_guard guard(lock);
    auto list = current.lock();
    if (!list) {
        list = std::make_shared<SystemIconList>();
        current = list;
    }
    return list;
}

SystemIconList::SystemIconList() {
    // Almost every glob of the MIME database is "*.suffix"; the few others (literal names such
    // as "Makefile", prefixes such as "README*", endings such as "*~") are kept aside.
    QStringList others;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
        for (const QString& glob : type.globPatterns()) {
            static const QRegularExpression kWild("[*?\\[]");
            const bool suffixOnly = glob.startsWith("*.") && !glob.mid(2).contains(kWild);
            if (suffixOnly) {
                continue;
            }
            if (glob.contains(kWild)) {
                others << QRegularExpression::wildcardToRegularExpression(
                    glob, QRegularExpression::UnanchoredWildcardConversion);
            } else {
                literalNames_.insert(glob.toLower());
            }
        }
    }
    otherGlobs_.setPattern("^(?:" + others.join('|') + ")$");
    otherGlobs_.setPatternOptions(QRegularExpression::CaseInsensitiveOption);
    otherGlobs_.optimize();
}

int SystemIconList::IconIndex(const std::string&, std::string_view name, bool isFolder) {
    if (isFolder) {
        return FolderIndex();
    }
    return FileIconIndex(QFile::decodeName(QByteArray(name.data(), qsizetype(name.size()))));
}

bool SystemIconList::NameMatters(const QString& fileName) const {
    return literalNames_.contains(fileName.toLower()) ||
           (otherGlobs_.isValid() && otherGlobs_.match(fileName).hasMatch());
}

int SystemIconList::FileIconIndex(const QString& fileName) {
    // By the name alone: reading every file's first bytes would cost more than the walk. A
    // lookup costs 5 to 50 µs, so names that only their suffixes type share one lookup,
    // made on a stand-in name with the same suffixes.
    const auto dot = fileName.indexOf('.');
    const QString suffixes = dot < 0 ? QString() : fileName.mid(dot);
    const QString standIn = "x" + suffixes;
    const bool shared = !NameMatters(fileName) && !NameMatters(standIn);
    if (shared) {
        std::lock_guard guard(lock_);
        const auto found = bySuffix_.constFind(suffixes);
        if (found != bySuffix_.constEnd()) {
            return found.value();
        }
    }
    const QMimeType type =
        QMimeDatabase().mimeTypeForFile(shared ? standIn : fileName, QMimeDatabase::MatchExtension);
    const int index = IndexOf(type.iconName(), type.genericIconName());
    if (shared) {
        std::lock_guard guard(lock_);
        bySuffix_.insert(suffixes, index);
    }
    return index;
}

int SystemIconList::FolderIndex() {
    return IndexOf(kFolderIcon, kFolderIcon);
}

int SystemIconList::IndexOf(const QString& iconName, const QString& genericName) {
    std::lock_guard guard(lock_);
    const auto found = indexes_.constFind(iconName);
    if (found != indexes_.constEnd()) {
        return found.value();
    }
    const int index = int(names_.size());
    names_.push_back({iconName, genericName});
    indexes_.insert(iconName, index);
    return index;
}

int SystemIconList::Count() const {
    std::lock_guard guard(lock_);
    return int(names_.size());
}

QString SystemIconList::IconName(int index) const {
    std::lock_guard guard(lock_);
    return index >= 0 && std::size_t(index) < names_.size() ? names_[std::size_t(index)].icon
                                                            : QString();
}

QIcon SystemIconList::Icon(int index) {
    if (index < 0) {
        return {};
    }
    if (std::size_t(index) < icons_.size() && !icons_[std::size_t(index)].isNull()) {
        return icons_[std::size_t(index)];
    }
    Names names;
    {
        std::lock_guard guard(lock_);
        if (std::size_t(index) >= names_.size()) {
            return {};
        }
        names = names_[std::size_t(index)];
    }
    if (icons_.size() <= std::size_t(index)) {
        icons_.resize(std::size_t(index) + 1);
    }
    QIcon icon = QIcon::fromTheme(names.icon, QIcon::fromTheme(names.generic));
    if (icon.isNull()) {
        icon = QIcon::fromTheme(kFileIcon);
    }
    icons_[std::size_t(index)] = icon;
    return icon;
}

TQelSystemImageList::TQelSystemImageList(QObject* owner) : QObject(owner) {
    RefreshSystemList();
}

void TQelSystemImageList::SetShareImages(bool share) {
    copy_.clear();
    shareImages_ = share;
    RefreshSystemList();
}

void TQelSystemImageList::SetSize(ImageListSize size) {
    size_ = size;
    RefreshSystemList();
}

QSize TQelSystemImageList::IconSize() const {
    return size_ == ImageListSize::kLarge ? QSize(32, 32) : QSize(16, 16);
}

QIcon TQelSystemImageList::Icon(int index) const {
    if (shareImages_) {
        return shared_->Icon(index);
    }
    return index >= 0 && std::size_t(index) < copy_.size() ? copy_[std::size_t(index)] : QIcon();
}

void TQelSystemImageList::RefreshSystemList() {
    if (shareImages_) {
        return;
    }
    copy_.clear();
    for (int i = 0; i < shared_->Count(); ++i) {
        // An independent copy of each picture at the list's size.
        const QIcon icon = shared_->Icon(i);
        copy_.push_back(QIcon(icon.pixmap(IconSize())));
    }
}

void UseDesktopIconTheme() {
    QStringList paths = QIcon::themeSearchPaths();
    if (!paths.contains("/usr/share/icons")) {
        paths.append("/usr/share/icons");
        QIcon::setThemeSearchPaths(paths);
    }
    const QString desktop = QIcon::themeName();
    if (desktop.isEmpty() || desktop == "hicolor") {
        QIcon::setThemeName(kFallbackTheme);
    }
    QIcon::setFallbackThemeName(kFallbackTheme);
}

QIcon ApplicationIcon() {
    return QIcon::fromTheme(QStringLiteral("packmeter"), QIcon(QStringLiteral(":/packmeter.ico")));
}

}  // namespace packmeter::qt
