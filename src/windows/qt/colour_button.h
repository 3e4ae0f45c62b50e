#pragma once
// A button that shows one stored colour (0x00BBGGRR) and lets the user pick
// another in the colour chooser; the settings forms read it back.
#include <cstdint>

class QPushButton;
class QWidget;

namespace qm::windows::qt {

QPushButton* ColourButton(QWidget* parent, uint32_t bgr);
uint32_t ButtonColour(const QPushButton& button);

}  // namespace qm::windows::qt
