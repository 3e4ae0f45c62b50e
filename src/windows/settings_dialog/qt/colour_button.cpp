#include "windows/settings_dialog/qt/colour_button.h"

#include <QColorDialog>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVariant>

#include "windows/qt/colors.h"
#include "windows/settings_dialog/field_values.h"

namespace qm::windows::qt {

namespace {

constexpr size_t kColoursPerLine = 5;

uint32_t ToBgr(const QColor& c) { return uint32_t(c.red()) | uint32_t(c.green()) << 8 | uint32_t(c.blue()) << 16; }

void Paint(QPushButton& button, uint32_t bgr) {
    button.setProperty("bgr", QVariant::fromValue<uint>(bgr));
    button.setStyleSheet(QString("background-color: %1").arg(ToQColor(bgr).name()));
    button.setText(ToQColor(bgr).name());
}

}  // namespace

QPushButton* ColourButton(QWidget* parent, uint32_t bgr) {
    auto* button = new QPushButton(parent);  // owned by the parent
    Paint(*button, bgr);
    QObject::connect(button, &QPushButton::clicked, button, [button] {
        const QColor chosen = QColorDialog::getColor(ToQColor(ButtonColour(*button)), button);
        if (chosen.isValid()) Paint(*button, ToBgr(chosen));
    });
    return button;
}

uint32_t ButtonColour(const QPushButton& button) { return button.property("bgr").toUInt(); }

ColourRow MakeColourRow(QWidget* parent, const core::FieldDef& field, const void* record,
                        const std::vector<QString>& captions) {
    ColourRow row;
    row.box = new QWidget(parent);
    const std::vector<uint32_t> colours = ColoursOf(field, record);
    const bool named = !captions.empty();
    // Named colours stand in a grid of caption and button, five to a column,
    // so that a scheme of ten stays readable; plain ones go five to a line, so
    // a long run never pushes the page wider than the dialog.
    auto* grid = new QGridLayout(row.box);
    grid->setContentsMargins(0, 0, 0, 0);
    for (size_t i = 0; i < colours.size(); ++i) {
        QPushButton* button = ColourButton(row.box, colours[i]);
        button->setObjectName(QString("colour%1").arg(i));
        if (named) {
            const QString caption = i < captions.size() ? captions[i] : QString();
            auto* label = new QLabel(caption, row.box);
            label->setBuddy(button);
            button->setToolTip(caption);
            button->setAccessibleName(caption);
            grid->addWidget(label, int(i % kColoursPerLine), int(i / kColoursPerLine) * 2);
            grid->addWidget(button, int(i % kColoursPerLine), int(i / kColoursPerLine) * 2 + 1);
        } else {
            grid->addWidget(button, int(i / kColoursPerLine), int(i % kColoursPerLine));
        }
        row.buttons.push_back(button);
    }
    row.read = [&field, buttons = row.buttons] {
        std::vector<uint32_t> now;
        for (const QPushButton* b : buttons) now.push_back(ButtonColour(*b));
        return ColoursText(field, now);
    };
    return row;
}

}  // namespace qm::windows::qt
