#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace packmeter {

// The shell's special folders, as a folder picker's root.
enum TQelShellFolder : std::uint8_t {
    SF_FILESYSTEMFOLDER,
    SF_BITBUCKET,
    SF_CONTROLS,
    SF_DESKTOP,
    SF_DESKTOPDIRECTORY,
    SF_DRIVES,
    SF_FONTS,
    SF_NETHOOD,
    SF_NETWORK,
    SF_PERSONAL,
    SF_PRINTERS,
    SF_PROGRAMS,
    SF_RECENT,
    SF_SENDTO,
    SF_STARTMENU,
    SF_STARTUP,
    SF_TEMPLATES,
    SF_FAVORITES,
    SF_COMMON_STARTMENU,
    SF_COMMON_STARTUP,
    SF_COMMON_DESKTOPDIRECTORY,
    SF_APPDATA,
    SF_PRINTHOOD,
    SF_COMMON_FAVORITES,
    SF_INTERNET_CACHE,
    SF_COOKIES,
    SF_HISTORY,
    SF_COMMON_PROGRAMS,
    SF_ALTSTARTUP,
    SF_COMMON_APPDATA,
    SF_COMMON_DOCUMENTS,
    SF_INTERNET,
    SF_LOCAL_APPDATA,
    SF_MYPICTURES,
    SF_PROGRAM_FILES,
    SF_SYSTEM,
    SF_PROGRAM_FILES_COMMON
};

// The folder picker's options, combined as a set of bits.
enum TQelBrowseFlag : std::uint8_t {
    bfNewDialogStyle,      // resizable, with the newer controls (making a new folder)
    bfFileSystemOnly,      // only file-system folders can be confirmed
    bfBrowseIncludeFiles,  // files are listed too
    bfEditBox,             // an edit field for typing a name
};

class TQelBrowseFlags {
  public:
    constexpr TQelBrowseFlags() = default;
    constexpr TQelBrowseFlags(std::initializer_list<TQelBrowseFlag> flags) {
        for (const auto flag : flags) {
            bits_ |= Bit(flag);
        }
    }
    constexpr bool Has(TQelBrowseFlag flag) const { return (bits_ & Bit(flag)) != 0; }
    constexpr bool operator==(const TQelBrowseFlags&) const = default;

  private:
    static constexpr std::uint8_t Bit(TQelBrowseFlag flag) {
        return static_cast<std::uint8_t>(1u << flag);
    }
    std::uint8_t bits_ = 0;
};

// A chosen folder as the picker hands it back: without a trailing separator, except for a root
// ("/", "C:\").
std::string ChosenFolderPath(std::string path);

}  // namespace packmeter
