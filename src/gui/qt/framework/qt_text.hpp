#pragma once

// The core's texts (UTF-8 bytes) as the window's strings.

#include <QString>

#include <string_view>

namespace packmeter::qt {

inline QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace packmeter::qt
