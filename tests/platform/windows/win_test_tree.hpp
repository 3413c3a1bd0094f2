#pragma once

// A scratch folder for tests on the real file system, made and removed through the wide Win32
// calls on "\\?\" paths (so it copes with deep paths and any name), plus what the tests need to
// know about the machine they run on.

#include <windows.h>

#include <cstdint>
#include <string>

namespace packmeter::testing {

class WinTestTree {
  public:
    // A new empty folder in the temporary folder.
    WinTestTree();
    ~WinTestTree();
    WinTestTree(const WinTestTree&) = delete;
    WinTestTree& operator=(const WinTestTree&) = delete;

    // The folder in everyday form with a trailing backslash (UTF-8), and in "\\?\" form.
    const std::string& Root() const { return root_; }
    const std::wstring& LongRoot() const { return longRoot_; }

    // `relative` below the root, backslash-separated. Folders are made with their parents.
    void Folder(const std::wstring& relative);
    // A file of `size` bytes of a repeating pattern.
    void File(const std::wstring& relative, std::int64_t size);
    // A file of `size` bytes that occupies almost nothing: its length is set, no data written.
    void Sparse(const std::wstring& relative, std::int64_t size);
    std::wstring Long(const std::wstring& relative) const { return longRoot_ + relative; }
    // The attributes of an entry, INVALID_FILE_ATTRIBUTES when it is missing.
    DWORD Attributes(const std::wstring& relative) const;
    // The content of a file (for files small enough to read whole).
    std::string Read(const std::wstring& relative) const;

  private:
    std::string root_;
    std::wstring longRoot_;
};

// Wine runs the tests in CI; a few of its answers differ from Windows on purpose (no NTFS
// compression at all), and the tests that check them say so.
bool RunningUnderWine();

// A folder made on the host side holding a link to a folder (see the tests' CMakeLists), or empty.
std::string LinkFixture();

}  // namespace packmeter::testing
