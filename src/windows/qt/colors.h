#pragma once
// Colours are kept as the settings store them, 0x00BBGGRR.
#include <cstdint>

#include <QColor>

namespace qm::windows::qt {

inline QColor ToQColor(uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace qm::windows::qt
