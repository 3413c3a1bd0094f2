#include "tests/support/fake_filesystem.hpp"

#include <algorithm>

#include "core/utils/text.hpp"

namespace packmeter::testing {

namespace {

std::unique_ptr<FakeNode> MakeNode(FakeNode::Kind kind, std::string name) {
    auto node = std::make_unique<FakeNode>();
    node->kind = kind;
    node->name = std::move(name);
    return node;
}

}  // namespace

FakeNode& FakeNode::Folder(std::string childName, std::uint32_t attributes) {
    children.push_back(MakeNode(Kind::kFolder, std::move(childName)));
    children.back()->attributes = attributes | attr::kDirectory;
    return *children.back();
}

FakeNode& FakeNode::File(std::string childName, std::int64_t fileSize, std::int64_t fileOnDisk,
                         std::uint32_t fileAttributes) {
    children.push_back(MakeNode(Kind::kFile, std::move(childName)));
    children.back()->size = fileSize;
    children.back()->onDisk = fileOnDisk;
    children.back()->attributes = fileAttributes;
    return *this;
}

FakeNode& FakeNode::Link(std::string childName, bool toFolder) {
    children.push_back(MakeNode(Kind::kLink, std::move(childName)));
    children.back()->linkToFolder = toFolder;
    children.back()->attributes = attr::kReparsePoint;
    return *this;
}

FakeNode& FakeNode::MountPoint(std::string childName) {
    children.push_back(MakeNode(Kind::kMountPoint, std::move(childName)));
    children.back()->attributes = attr::kDirectory;
    return *this;
}

FakeNode& FakeNode::Special(std::string childName) {
    children.push_back(MakeNode(Kind::kSpecial, std::move(childName)));
    return *this;
}

FakeNode* FakeNode::Child(const std::string& childName) {
    for (auto& child : children) {
        if (child->name == childName) {
            return child.get();
        }
    }
    return nullptr;
}

class FakeFolder final : public packmeter::Folder {
  public:
    FakeFolder(FakeFileSystem& fs, FakeNode& node, std::string path)
        : fs_(fs), node_(node), path_(std::move(path)) {}

    bool List(ListDetail, const EntryVisitor& visit) override {
        fs_.listings++;
        if (node_.unreadable) {
            return false;
        }
        for (const auto& child : node_.children) {
            if (fs_.onEntry) {
                fs_.onEntry(path_ + child->name);
            }
            Entry entry;
            entry.name = child->name;
            entry.attributes = child->attributes;
            switch (child->kind) {
                case FakeNode::Kind::kFolder:
                    entry.folder = entry.enterable = true;
                    break;
                case FakeNode::Kind::kMountPoint:
                    entry.folder = true;
                    break;
                case FakeNode::Kind::kLink:
                    entry.folder = child->linkToFolder;
                    break;
                case FakeNode::Kind::kFile:
                    entry.regular = true;
                    entry.size = child->size;
                    entry.onDisk = child->onDisk < 0 ? child->size : child->onDisk;
                    entry.links = child->links;
                    entry.fileId = child->fileId;
                    break;
                case FakeNode::Kind::kSpecial:
                    break;
            }
            if (!visit(entry)) {
                break;
            }
        }
        return true;
    }

    std::unique_ptr<packmeter::Folder> OpenSubfolder(std::string_view name) override {
        FakeNode* child = node_.Child(std::string(name));
        if (!child || child->kind != FakeNode::Kind::kFolder || child->unreadable) {
            return nullptr;
        }
        return std::make_unique<FakeFolder>(fs_, *child, path_ + child->name + kPathSeparator);
    }

    bool SetCompression(bool decompress) override { return Switch(node_, path_, decompress); }

    std::string LastFailure() const override { return failure_; }

    bool SetFileCompression(std::string_view name, bool decompress) override {
        FakeNode* child = node_.Child(std::string(name));
        if (!child || child->kind != FakeNode::Kind::kFile) {
            failure_ = child ? "not a regular file" : "no such file or folder";
            return false;
        }
        return Switch(*child, path_ + child->name, decompress);
    }

    std::unique_ptr<FileReader> OpenFile(std::string_view name) override {
        FakeNode* child = node_.Child(std::string(name));
        if (!child || child->kind != FakeNode::Kind::kFile || child->unreadable) {
            return nullptr;
        }
        return std::make_unique<FakeReader>(fs_, *child, path_ + child->name);
    }

  private:
    class FakeReader final : public FileReader {
      public:
        FakeReader(FakeFileSystem& fs, const FakeNode& node, std::string path)
            : fs_(fs), node_(node), path_(std::move(path)) {}
        std::int64_t Read(std::int64_t offset, std::uint8_t* buffer, std::int64_t size) override {
            {
                const std::lock_guard lock(fs_.lock_);
                fs_.reads.push_back(path_ + "@" + std::to_string(offset));
            }
            const std::int64_t got = std::clamp<std::int64_t>(node_.size - offset, 0, size);
            std::fill(buffer, buffer + got, static_cast<std::uint8_t>(node_.name.at(0)));
            return got;
        }
        std::int64_t NextHole(std::int64_t) override { return node_.size; }

      private:
        FakeFileSystem& fs_;
        const FakeNode& node_;
        std::string path_;
    };

    bool Switch(FakeNode& node, const std::string& path, bool decompress) {
        failure_.clear();
        if (node.failSwitch) {
            failure_ = "refused by the test";
            return false;
        }
        fs_.switches.push_back((decompress ? "-" : "+") + path);
        if (decompress) {
            node.attributes &= ~attr::kCompressed;
        } else {
            node.attributes |= attr::kCompressed;
        }
        return true;
    }

    FakeFileSystem& fs_;
    FakeNode& node_;
    std::string path_;
    std::string failure_;
};

FakeFileSystem::FakeFileSystem() : root_(MakeNode(FakeNode::Kind::kFolder, "")) {
    root_->attributes = attr::kDirectory;
}

FakeNode* FakeFileSystem::Find(const std::string& path) {
    if (path.empty() || path.front() != kPathSeparator) {
        return nullptr;
    }
    FakeNode* node = root_.get();
    std::size_t at = 1;
    while (at < path.size()) {
        auto end = path.find(kPathSeparator, at);
        if (end == std::string::npos) {
            end = path.size();
        }
        node = node->Child(path.substr(at, end - at));
        if (!node) {
            return nullptr;
        }
        at = end + 1;
    }
    return node;
}

std::unique_ptr<packmeter::Folder> FakeFileSystem::OpenFolder(const std::string& path) {
    FakeNode* node = Find(path);
    if (!node || node->kind != FakeNode::Kind::kFolder || node->unreadable) {
        return nullptr;
    }
    return std::make_unique<FakeFolder>(*this, *node, IncludeTrailingChar(path));
}

VolumeInfo FakeFileSystem::GetVolumeInfo(const std::string&) {
    return volume;
}

}  // namespace packmeter::testing

namespace packmeter::testing {

std::string P(std::string path) {
    for (char& c : path) {
        if (c == '/') {
            c = kPathSeparator;
        }
    }
    return path;
}

void BuildSwitchTree(FakeFileSystem& fs) {
    auto& w = fs.Root().Folder("w");
    w.File("f1", 10);
    auto& sub = w.Folder("sub");
    sub.File("g1", 10);
    sub.Folder("inner").File("h1", 10);
    w.File("f2", 10);
    w.Folder(".git").File("k", 1);
    w.Link("to-file", false);
    w.Link("to-folder", true);
    w.Special("fifo");
}

}  // namespace packmeter::testing
