#pragma once

#include <windows.h>

#include "core/app/estimate_result.hpp"

namespace packmeter::win32 {

// The result of "Estimate saving..." over `owner`: the method, each entry with its size, what
// it takes now, the forecast and the saving, the totals, and the question whether to compress
// the entries now. True when the user chose to compress.
bool ShowEstimateResult(HWND owner, const EstimateResult& result, const NumberFormat& format);

// The message text of that dialog.
std::string EstimateResultText(const EstimateResult& result, const NumberFormat& format);

}  // namespace packmeter::win32
