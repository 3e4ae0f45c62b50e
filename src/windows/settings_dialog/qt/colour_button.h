#pragma once
// A button that shows one stored colour (0x00BBGGRR) and lets the user pick
// another in the colour chooser; the settings forms read it back.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QPushButton;
class QString;
class QWidget;

namespace qm::core {
struct FieldDef;
}

namespace qm::windows::qt {

QPushButton* ColourButton(QWidget* parent, uint32_t bgr);
uint32_t ButtonColour(const QPushButton& button);

// A colour field (one or more colours) as a row of such buttons, named
// "colour0", "colour1", ...; `read` gives the field's text as they hold it now.
// Where `captions` says what a colour is for (a severity, the grid), the
// button has that text beside it.
struct ColourRow {
    QWidget* box = nullptr;  // owned by the parent
    std::vector<QPushButton*> buttons;
    std::function<std::string()> read;
};
ColourRow MakeColourRow(QWidget* parent, const core::FieldDef& field, const void* record,
                        const std::vector<QString>& captions = {});

}  // namespace qm::windows::qt
