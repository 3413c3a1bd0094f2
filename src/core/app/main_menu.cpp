#include "core/app/main_menu.hpp"

#include "core/utils/text.hpp"

namespace packmeter {

const std::vector<MenuSetup>& MenuBarLayout() {
    static const std::vector<MenuSetup> layout = {
        {"&File",
         {MenuCommand::kScan, MenuCommand::kRefresh, kSeparator, MenuCommand::kPrint, kSeparator,
          MenuCommand::kExit}},
        {"&Edit", {MenuCommand::kCopy}},
        {"&Help", {MenuCommand::kReadme, kSeparator, MenuCommand::kAbout}},
    };
    return layout;
}

std::string_view MenuKeyText(MenuCommand command, bool quitKey) {
    switch (command) {
        case MenuCommand::kRefresh:
            return "F5";
        case MenuCommand::kExit:
            return quitKey ? "Ctrl+Q" : "";
        default:
            return "";
    }
}

std::string MenuEntryText(MenuCommand command, bool quitKey) {
    std::string text = CommandSetup(command).caption;
    const std::string_view key = MenuKeyText(command, quitKey);
    if (!key.empty()) {
        text += '\t';
        text += key;
    }
    return text;
}

std::string_view ShortHint(std::string_view hint) {
    return hint.substr(0, hint.find('|'));
}

std::string_view LongHint(std::string_view hint) {
    const auto bar = hint.find('|');
    return bar == std::string_view::npos ? hint : hint.substr(bar + 1);
}

const CommandPicture& FallbackPicture(MenuCommand command) {
    static const std::array<CommandPicture, kMenuCommandCount> pictures = {{
        // Exit: a door with an arrow leaving it.
        {"................", "..kkkkkkkk......", "..kwwwwwwk......", "..kwwwwwwk......",
         "..kwwwwwwk...r..", "..kwwwwwwk...rr.", "..kwwwkwwkrrrrrr", "..kwwwwwwkrrrrrr",
         "..kwwwwwwk...rr.", "..kwwwwwwk...r..", "..kwwwwwwk......", "..kwwwwwwk......",
         "..kwwwwwwk......", "..kkkkkkkk......", "................", "................"},
        // Scan: an opened folder.
        {"................", "................", ".kkkk...........", "kyyyyk..........",
         "kyyyyykkkkkkk...", "kyyyyyyyyyyyk...", "kyyykkkkkkkkkkk.", "kyykooooooooook.",
         "kyykoooooooook..", "kykooooooooook..", "kykooooooooook..", "kkooooooooook...",
         "kkkkkkkkkkkkk...", "................", "................", "................"},
        // Refresh: two green arrows in a circle.
        {"................", "......GGGG......", "....GG....GG.G..", "...G........GG..",
         "..G........GGG..", "..G.............", ".G..............", ".G..............",
         "..............G.", "..............G.", ".............G..", "..GGG.......G...",
         "..GG........G...", "..G.GG....GG....", "......GGGG......", "................"},
        // Print: a printer with a sheet.
        {"................", "....kkkkkkkk....", "....kwwwwwwk....", "....kwkkkkwk....",
         "....kwwwwwwk....", ".kkkkkkkkkkkkkk.", "kggggggggggggggk", "kggggggggggggGgk",
         "kggggggggggggggk", "kkkkkkkkkkkkkkkk", "kgggkwwwwwwkgggk", "kkkkkwkkkkwkkkkk",
         "....kwwwwwwk....", "....kkkkkkkk....", "................", "................"},
        // Copy: two sheets, one before the other.
        {"................", "kkkkkkkk........", "kwwwwwwk........", "kwkkkkwk........",
         "kwwwwwwk........", "kwkkkkkkkkkkk...", "kwwwwkwwwwwwk...", "kwkkkkwkkkkwkk..",
         "kwwwwkwwwwwwkwk.", "kkkkkkwkkkkkkkkk", ".....kwwwwwwwwwk", ".....kwkkkkkkkwk",
         ".....kwwwwwwwwwk", ".....kwkkkkkkkwk", ".....kwwwwwwwwwk", ".....kkkkkkkkkkk"},
        // Readme: a page of text.
        {"..kkkkkkkkk.....", "..kwwwwwwwkk....", "..kwwwwwwwkwk...", "..kwbbbbbwkkkk..",
         "..kwwwwwwwwwwk..", "..kwbbbbbbbbwk..", "..kwwwwwwwwwwk..", "..kwbbbbbbbbwk..",
         "..kwwwwwwwwwwk..", "..kwbbbbbbbbwk..", "..kwwwwwwwwwwk..", "..kwbbbbbbwwwk..",
         "..kwwwwwwwwwwk..", "..kwwwwwwwwwwk..", "..kkkkkkkkkkkk..", "................"},
        // About: an "i" in a blue disc.
        {"................", ".....bbbbbb.....", "...bbbbbbbbbb...", "..bbbbbwwbbbbb..",
         "..bbbbbwwbbbbb..", ".bbbbbbbbbbbbbb.", ".bbbbbwwwbbbbbb.", ".bbbbbbwwbbbbbb.",
         ".bbbbbbwwbbbbbb.", ".bbbbbbwwbbbbbb.", ".bbbbbbwwbbbbbb.", "..bbbbwwwwbbbb..",
         "..bbbbbbbbbbbb..", "...bbbbbbbbbb...", ".....bbbbbb.....", "................"},
    }};
    return pictures[static_cast<std::size_t>(command)];
}

const std::vector<PictureColour>& PictureColours() {
    static const std::vector<PictureColour> colours = {
        {'k', 0, 0, 0},      {'w', 255, 255, 255}, {'g', 192, 192, 192}, {'y', 255, 208, 64},
        {'o', 240, 176, 32}, {'G', 0, 150, 0},     {'b', 32, 80, 200},   {'r', 200, 0, 0},
    };
    return colours;
}

std::vector<std::string> ReadmeCandidates(const std::string& programFolder, bool installedLayout) {
    const std::string folder = IncludeTrailingChar(programFolder);
    std::vector<std::string> out = {folder + kReadmeFileName};
    if (installedLayout) {
        out.push_back(folder + "../share/doc/packmeter/" + kReadmeFileName);
    }
    return out;
}

}  // namespace packmeter
