#pragma once
// Fonts from the settings' font description and a platform font height
// (negative: character height in pixels).
#include <QFont>

#include "core/core_settings.h"

namespace qm::windows::qt {

QFont FontOf(const core::FontDescription& description, int32_t height);

}  // namespace qm::windows::qt
