#include "core/exceptlog/data_block.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/exceptlog/fault_modules_list.hpp"

namespace packmeter {
namespace {

namespace fs = std::filesystem;

class TempFile {
  public:
    explicit TempFile(const std::string& bytes)
        : path_(fs::temp_directory_path() /
                ("faultlog-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + ".bin")) {
        std::ofstream(path_, std::ios::binary) << bytes;
    }
    ~TempFile() { fs::remove(path_); }
    const fs::path& Path() const { return path_; }

  private:
    fs::path path_;
};

class Image : public FaultModuleImage {
  public:
    Image(std::uintptr_t handle, std::string file, std::optional<std::string> resource)
        : handle_(handle), file_(std::move(file)), resource_(std::move(resource)) {}
    std::uintptr_t Handle() const override { return handle_; }
    std::string FileName() const override { return file_; }
    FaultModuleKind Kind() const override { return FaultModuleKind::kExecutable; }
    std::vector<TFaultFunctionInfo> Functions() const override {
        return {{"b", 0x2000, 0x10}, {"a", 0x1000, 0x20}};
    }
    std::optional<std::string> ResourceBlock() const override { return resource_; }

  private:
    std::uintptr_t handle_;
    std::string file_;
    std::optional<std::string> resource_;
};

struct Configured : TFaultModuleOptions {
    Configured() {
        MaxLoggedErrors = 7;
        FilterClassNames = {"std::bad_alloc"};
        FilterMessages = {""};
    }
};

TEST(DataBlock, BothPlacementsReadTheSameBlock) {
    const Configured options;
    const std::array<std::uint8_t, 8> kept{1, 2, 3, 4, 5, 6, 7, 8};
    const std::string resource = WriteResourceDataBlock(options, "DEBUG", kept);
    EXPECT_EQ(resource.substr(0, 6), std::string("\x10\xAB\x0F\0\xA8\x01", 6));  // magic, 424

    TFaultModuleInfo fromResource;
    ASSERT_EQ(ReadResourceDataBlock(resource, fromResource), DataBlockRead::kLoaded);

    // Appended after a program's bytes, the block ends the file with its length and the magic.
    const std::string appended = WriteAppendedDataBlock(options, "DEBUG", kept);
    EXPECT_EQ(appended.substr(appended.size() - 4), resource.substr(0, 4));
    const TempFile file(std::string(5000, 'x') + appended);
    TFaultModuleInfo fromFile;
    ASSERT_EQ(ReadAppendedDataBlock(file.Path(), fromFile), DataBlockRead::kLoaded);

    for (const auto* m : {&fromResource, &fromFile}) {
        EXPECT_EQ(m->Version, 424);
        EXPECT_EQ(m->Reserved, kept);
        EXPECT_EQ(m->DebugInfo, "DEBUG");
        EXPECT_EQ(m->Options->MaxLoggedErrors, 7);
        EXPECT_EQ(m->Options->FilterClassNames, options.FilterClassNames);
    }
}

TEST(DataBlock, AbsentWrongOrDamagedBlocks) {
    const std::string good = WriteResourceDataBlock(Configured(), "");
    std::string wrongMagic = good;
    wrongMagic[0] = '\x11';
    const struct {
        std::string resource;
        DataBlockRead read;
    } cases[] = {
        {std::string(8, '\0'), DataBlockRead::kAbsent},  // the placeholder of a plain build
        {"", DataBlockRead::kAbsent},
        {wrongMagic, DataBlockRead::kAbsent},
        {good.substr(0, good.size() - 1), DataBlockRead::kDamaged},
        {good, DataBlockRead::kLoaded},
    };
    for (const auto& c : cases) {
        TFaultModuleInfo m;
        EXPECT_EQ(ReadResourceDataBlock(c.resource, m), c.read) << c.resource.size();
        EXPECT_EQ(m.DebugInfo.has_value(), c.read == DataBlockRead::kLoaded);
    }

    std::string appended = WriteAppendedDataBlock(Configured(), "");
    const std::string magic = appended.substr(appended.size() - 4);
    std::string tooLong = appended;
    tooLong[tooLong.size() - 6] = '\x7F';  // a length past the file's start
    const struct {
        std::string file;
        DataBlockRead read;
    } files[] = {
        {"plain program", DataBlockRead::kAbsent},
        {"", DataBlockRead::kAbsent},
        {appended + "x", DataBlockRead::kAbsent},
        {std::string("\x7F\0\0\0", 4) + magic, DataBlockRead::kDamaged},
        {tooLong, DataBlockRead::kDamaged},
    };
    for (const auto& c : files) {
        const TempFile file(c.file);
        TFaultModuleInfo m;
        EXPECT_EQ(ReadAppendedDataBlock(file.Path(), m), c.read) << c.file.size();
        EXPECT_FALSE(m.Options);
    }
    TFaultModuleInfo m;
    EXPECT_EQ(ReadAppendedDataBlock("/no/such/file", m), DataBlockRead::kAbsent);
}

TEST(FaultModulesList, RegistersEachModuleOnceFromItsBlock) {
    const TempFile plain("no block here");
    const TempFile appended("program" + WriteAppendedDataBlock(Configured(), "appended"));
    TFaultModulesList list;

    // The resource wins; without a valid one the file's end is read; without either the
    // module keeps its defaults and has no debug information.
    const auto* a = list.Register(
        Image(1, appended.Path().string(), WriteResourceDataBlock(Configured(), "resource")));
    const auto* b = list.Register(Image(2, appended.Path().string(), std::string(8, '\0')));
    const auto* c = list.Register(Image(3, plain.Path().string(), std::nullopt));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->DebugInfo, "resource");
    EXPECT_EQ(b->DebugInfo, "appended");
    EXPECT_FALSE(c->DebugInfo);
    EXPECT_EQ(c->Options->MaxLoggedErrors, 32);
    EXPECT_EQ(c->Options->ModuleFileName, plain.Path().string());
    EXPECT_EQ(c->Kind, FaultModuleKind::kExecutable);
    EXPECT_EQ(c->Version, kFaultDataVersion);

    EXPECT_EQ(list.Register(Image(1, "other", std::nullopt)), a);
    EXPECT_EQ(list.Find(2), b);
    EXPECT_EQ(list.Find(4), nullptr);
    EXPECT_EQ(list.Register(Image(4, "", std::nullopt)), nullptr);

    std::string error;
    const TempFile damaged(std::string("\x7F\0\0\0\x10\xAB\x0F\0", 8));
    EXPECT_TRUE(list.Register(Image(5, damaged.Path().string(), std::nullopt), &error));
    EXPECT_NE(error.find("ends early"), std::string::npos);

    // Functions are found by the range they cover.
    EXPECT_EQ(a->Functions.Find(0x1000)->Name, "a");
    EXPECT_EQ(a->Functions.Find(0x101F)->Name, "a");
    EXPECT_EQ(a->Functions.Find(0x1020), nullptr);
    EXPECT_EQ(a->Functions.Find(0x0FFF), nullptr);
    EXPECT_EQ(a->Functions.Find(0x200F)->Name, "b");
}

}  // namespace
}  // namespace packmeter
