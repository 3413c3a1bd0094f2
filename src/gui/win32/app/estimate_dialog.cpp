#include "gui/win32/app/estimate_dialog.hpp"

#include "platform/windows/utils/win_path.hpp"

namespace packmeter::win32 {

std::string EstimateResultText(const EstimateResult& result, const NumberFormat& format) {
    std::string text = EstimateHeading(result) + ".\n\n";
    std::vector<EstimateLine> lines = EstimateLines(result, format);
    lines.push_back(EstimateTotalLine(result, format));
    // One entry a line: "name: size, now ..., forecast ..., saving ...".
    for (const EstimateLine& line : lines) {
        text += line.cells[0] + ":  " + line.cells[1] + ",  " + kEstimateColumnCaptions[2] + " " +
                line.cells[2] + ",  " + kEstimateColumnCaptions[3] + " " + line.cells[3] + ",  " +
                kEstimateColumnCaptions[4] + " " + line.cells[4] + "\n";
    }
    text += "\n" + EstimateSummary(result, format) + "\n\nCompress these entries now?";
    return text;
}

bool ShowEstimateResult(HWND owner, const EstimateResult& result, const NumberFormat& format) {
    const std::wstring text = win::ToWide(EstimateResultText(result, format));
    return ::MessageBoxW(owner, text.c_str(), win::ToWide(kEstimateTitle).c_str(),
                         MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

}  // namespace packmeter::win32
