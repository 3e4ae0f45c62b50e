#include "windows/qt/program_font.h"

#include <cstdlib>

namespace qm::windows::qt {

QFont FontOf(const core::FontDescription& description, int32_t height) {
    QFont font(QString::fromStdString(description.faceName.empty() ? "Calibri" : description.faceName));
    const int pixels = height == 0 ? std::abs(description.height) : std::abs(height);
    font.setPixelSize(std::max(6, pixels));
    if (description.weight >= 600) font.setBold(true);
    font.setItalic(description.italic != 0);
    font.setUnderline(description.underline != 0);
    font.setStrikeOut(description.strikeOut != 0);
    return font;
}

}  // namespace qm::windows::qt
