#pragma once

// A scratch folder for tests on the real file system, made and removed through the wide Win32
// calls on "\\?\" paths, so that it copes with deep paths and any name.

#include <windows.h>

#include <cstdint>
#include <string>

namespace packmeter::testing {

class WinTestTree {
  public:
    WinTestTree();  // a new empty folder in the temporary folder
    ~WinTestTree();
    WinTestTree(const WinTestTree&) = delete;
    WinTestTree& operator=(const WinTestTree&) = delete;

    // The folder in everyday form (UTF-8) with a trailing backslash.
    const std::string& Root() const { return root_; }
    std::wstring Long(const std::wstring& relative) const { return longRoot_ + relative; }

    // Makes the folder `relative` (backslash-separated) with its parents.
    void Folder(const std::wstring& relative);
    // A file of `size` bytes; a sparse one has its length set and no data written.
    void File(const std::wstring& relative, std::int64_t size, bool sparse = false);
    DWORD Attributes(const std::wstring& relative) const;
    std::string Read(const std::wstring& relative) const;

  private:
    std::string root_;
    std::wstring longRoot_;
};

// Wine runs the tests in CI; where its answers differ from Windows (it has no NTFS compression),
// the tests say so.
bool RunningUnderWine();

}  // namespace packmeter::testing
