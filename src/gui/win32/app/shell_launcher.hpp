#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "core/app/main_form_logic.hpp"

namespace packmeter::win32 {

// Launches through the shell: a second instance of this program, or a document in the program
// associated with it.
class ShellLauncher final : public Launcher {
  public:
    void StartInstance(const std::string& folder) override;
    std::string OpenDocument(const std::string& path) override;
};

// The arguments after the program's own name in `commandLine`, as the shell splits them, with
// a folder's trailing separator before its closing quote (`"D:\My Data\"`) kept as the
// separator.
std::vector<std::string> CommandLineArguments(const wchar_t* commandLine);

// The path of the running program.
std::wstring ProgramPath();

// The services of the window on Windows.
MainFormServices WindowsServices();

}  // namespace packmeter::win32
