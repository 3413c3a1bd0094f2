#include "core/shell/shell_browser.hpp"

#include <utility>

namespace packmeter {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (UpperAscii(a[i]) != UpperAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Program items get identifiers above the shell's range, top-level items and their children
// numbered in menu order.
constexpr unsigned kFirstProgramCommand = kLastShellCommand + 1;

std::vector<MenuItem> MergedCopies(const PopupMenu* menu) {
    std::vector<MenuItem> copies;
    if (menu == nullptr) {
        return copies;
    }
    unsigned next = kFirstProgramCommand;
    for (const MenuItem& item : menu->Items) {
        MenuItem copy = item;
        copy.Command = next++;
        for (MenuItem& child : copy.Items) {
            child.Items.clear();
            child.Command = next++;
        }
        copies.push_back(std::move(copy));
    }
    return copies;
}

const MenuItem* FindCommand(const std::vector<MenuItem>& items, unsigned command) {
    for (const MenuItem& item : items) {
        if (item.Command == command) {
            return &item;
        }
        for (const MenuItem& child : item.Items) {
            if (child.Command == command) {
                return &child;
            }
        }
    }
    return nullptr;
}

// Runs a clean-up on every way out of a scope.
template <typename F>
class ScopeExit {
  public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    F f_;
};

}  // namespace

TShellBrowser::TShellBrowser(std::shared_ptr<ShellSpace> shell,
                             std::shared_ptr<ChangeWatcher> watcher, PostToOwner post)
    : shell_(std::move(shell)), watcher_(std::move(watcher)), post_(std::move(post)) {
    // The first binding asks the shell without an owner window, as a new component does.
    SetFolder("");
    showErrorMessages_ = true;
}

TShellBrowser::~TShellBrowser() = default;

void TShellBrowser::SetFolder(const std::string& path) {
    if (!path.empty() && folderObject_ && shell_->SamePath(path, folder_)) {
        return;
    }
    FolderBinding binding = shell_->BindFolder(path, showErrorMessages_);
    if (!binding.found) {
        throw EShellBrowserError(kCannotFindFolder + path);
    }
    if (!binding.folder) {
        throw EShellBrowserError(kCouldNotGetFolder);
    }
    Bind(std::move(binding.folder));
}

void TShellBrowser::Bind(std::shared_ptr<ShellFolder> folder) {
    folderObject_ = std::move(folder);
    cursor_.reset();
    SetObject(nullptr);
    folder_ = folderObject_->Path();
    if (dirMon_) {
        dirMon_->SetDirectory(folder_);
    }
}

void TShellBrowser::SetObject(ShellObjectPtr object) {
    object_ = std::move(object);
}

void TShellBrowser::SelectFolderAsObject() {
    if (!folderObject_) {
        return;
    }
    auto [parent, self] = folderObject_->AsObjectInParent();
    if (!parent) {
        return;
    }
    Bind(std::move(parent));
    SetObject(std::move(self));
}

std::string TShellBrowser::ObjectName() const {
    if (!folderObject_ || !object_) {
        return {};
    }
    return folderObject_->ObjectName(*object_);
}

void TShellBrowser::SetObjectName(const std::string& name) {
    if (name.empty()) {
        SetObject(nullptr);
        return;
    }
    std::string trimmed = name;
    if (shell_->HasSeparator(trimmed.substr(trimmed.size() - 1)) && !shell_->IsRootPath(trimmed)) {
        trimmed.pop_back();
    }
    if (shell_->IsRootPath(trimmed)) {
        SetFolder(trimmed);
        SelectFolderAsObject();
        return;
    }
    if (shell_->HasSeparator(trimmed)) {
        auto [directory, last] = shell_->SplitPath(trimmed);
        SetFolder(directory);
        SetObjectName(last);
        return;
    }
    if (!folderObject_) {
        throw EShellBrowserError("Error! Cannot find Object \"" + trimmed + "\" in Folder \"" +
                                 folder_ + "\"");
    }
    if (ShellObjectPtr object = folderObject_->ParseName(trimmed)) {
        SetObject(std::move(object));
        return;
    }
    cursor_.reset();
    while (NextObject()) {
        if (EqualIgnoringCase(DisplayName(), trimmed) || EqualIgnoringCase(ObjectName(), trimmed)) {
            cursor_.reset();
            return;
        }
    }
    throw EShellBrowserError("Error! Cannot find Object \"" + trimmed + "\" in Folder \"" +
                             folder_ + "\"");
}

std::string TShellBrowser::DisplayName() const {
    if (!folderObject_ || !object_) {
        return {};
    }
    std::string name = folderObject_->DisplayName(*object_);
    return name.empty() ? ObjectName() : name;
}

bool TShellBrowser::IsFolder() const {
    if (!folderObject_ || !object_) {
        return false;
    }
    // Attributes that cannot be read count as a folder, as the shell leaves the query bit set.
    const auto attributes = folderObject_->Attributes(*object_, kShellAttrFolder);
    return !attributes || (*attributes & kShellAttrFolder) != 0;
}

std::uint32_t TShellBrowser::ObjectAttributes(std::uint32_t mask) const {
    if (!folderObject_ || !object_) {
        return 0;
    }
    return folderObject_->Attributes(*object_, mask).value_or(0);
}

bool TShellBrowser::NextObject() {
    if (!folderObject_) {
        return false;
    }
    if (!cursor_) {
        cursor_ = folderObject_->Enumerate(showErrorMessages_);
        if (!cursor_) {
            return false;
        }
    }
    for (;;) {
        ShellObjectPtr object = cursor_->Next();
        if (!object) {
            cursor_.reset();
            return false;
        }
        SetObject(std::move(object));
        if (fileSystemOnly_ && !PassesFileSystemOnly()) {
            continue;
        }
        if (PassesFilter()) {
            return true;
        }
    }
}

bool TShellBrowser::PassesFileSystemOnly() const {
    if (ObjectAttributes(kShellAttrFileSystem | kShellAttrFileSysAncestor) &
        (kShellAttrFileSystem | kShellAttrFileSysAncestor)) {
        return true;
    }
    if (EqualIgnoringCase(ObjectName().substr(0, 7), "RECYCLE")) {
        return true;
    }
    const TQelShellFolder special = folderObject_->SpecialFolder(object_.get());
    return special == SF_DRIVES || special == SF_NETWORK ||
           folderObject_->SpecialFolder(nullptr) == SF_NETWORK;
}

bool TShellBrowser::PassesFilter() const {
    if (IsFolder()) {
        return true;
    }
    const std::string name = ObjectName();
    for (const std::string& pattern : patterns_) {
        if (WildcardMatch(name, pattern)) {
            return true;
        }
    }
    return false;
}

std::string TShellBrowser::Filter() const {
    std::string text;
    for (std::size_t i = 0; i < patterns_.size(); ++i) {
        if (i > 0) {
            text += ';';
        }
        text += patterns_[i];
    }
    return text;
}

void TShellBrowser::SetFilter(const std::string& filter) {
    patterns_.clear();
    std::string text = filter.empty() ? "*;" : filter;
    if (text.back() != ';') {
        text += ';';
    }
    std::size_t start = 0;
    for (std::size_t end = text.find(';'); end != std::string::npos; end = text.find(';', start)) {
        patterns_.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

bool TShellBrowser::WildcardMatch(std::string_view name, std::string_view pattern) {
    if (pattern == "*") {
        return true;
    }
    if (name.empty()) {
        return pattern.empty();
    }
    if (pattern.empty()) {
        return false;
    }
    if (pattern.front() == '*') {
        return WildcardMatch(name, pattern.substr(1)) || WildcardMatch(name.substr(1), pattern);
    }
    if (pattern.front() != '?' && UpperAscii(pattern.front()) != UpperAscii(name.front())) {
        return false;
    }
    return WildcardMatch(name.substr(1), pattern.substr(1));
}

void TShellBrowser::ShowContextMenu(ScreenPoint point, PopupMenu* menu, std::string& verb) {
    verb.clear();
    const std::vector<MenuItem> copies = MergedCopies(menu);

    // The names are taken out at once, so the list is empty on every way out.
    const std::vector<std::string> names = std::exchange(multiObjects_, {});
    std::vector<ShellObjectPtr> objects;
    std::string firstPath;
    if (!names.empty()) {
        const ShellObjectPtr saved = object_;
        ScopeExit restore([this, &saved] { SetObject(saved); });
        for (const std::string& name : names) {
            ShellObjectPtr object = folderObject_ ? folderObject_->ParseName(name) : nullptr;
            if (!object) {
                SetObjectName(name);
                object = object_;
            }
            objects.push_back(std::move(object));
        }
        firstPath = folder_ + names.front();
    } else if (object_) {
        objects.push_back(object_);
        firstPath = folder_ + ObjectName();
    }
    if (objects.empty() || !folderObject_) {
        return;
    }

    std::unique_ptr<ShellContextMenu> shellMenu =
        folderObject_->ContextMenu(objects, showErrorMessages_);
    if (!shellMenu || !shellMenu->Build(copies, static_cast<bool>(OnRename))) {
        return;
    }
    if (menu != nullptr && menu->OnPopup) {
        menu->OnPopup(*menu);
    }
    const unsigned command = shellMenu->Track(point);
    if (const MenuItem* item = FindCommand(copies, command)) {
        if (item->OnClick) {
            item->OnClick(*item);
        }
    } else if (command >= kFirstShellCommand && command <= kLastShellCommand) {
        verb = shellMenu->Verb(command);
        bool execute = true;
        if (OnContextMenuSelect) {
            OnContextMenuSelect(verb, execute);
        }
        if (!execute) {
            verb.clear();
        } else if (OnRename && EqualIgnoringCase(verb, "rename")) {
            OnRename(*this);
        } else if (!shellMenu->Invoke(command)) {
            verb.clear();
        }
    }
    shellMenu.reset();

    if (EqualIgnoringCase(verb, "delete") && shell_->ObjectExists(firstPath)) {
        verb.clear();
    }
}

void TShellBrowser::SetOnFileChange(Notify handler) {
    dirMon_.reset();
    onFileChange_ = std::move(handler);
    if (!onFileChange_ || !watcher_) {
        return;
    }
    dirMon_ = std::make_unique<TDirMon>(watcher_, post_);
    dirMon_->SetNotifyFilter({dmcFileName, dmcDirName});
    dirMon_->OnDirChange = [this](TDirMon&) {
        if (onFileChange_) {
            onFileChange_(*this);
        }
    };
    dirMon_->SetDirectory(folder_);
    if (!dirMon_->Monitoring()) {
        dirMon_->StartMonitoring();
    }
}

}  // namespace packmeter
