#pragma once

#include <memory>

#include "core/fs/filesystem.hpp"

namespace packmeter {

// Icons from the shell's system image list (small icons), as Explorer shows them. May be asked
// from any thread; each thread that asks gets COM set up for it.
std::shared_ptr<IconSource> MakeShellIconSource();

}  // namespace packmeter
