#include "windows/qt/colour_button.h"

#include <QColorDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVariant>

#include "windows/qt/colors.h"
#include "windows/qt/field_values.h"

namespace qm::windows::qt {

namespace {

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

ColourRow MakeColourRow(QWidget* parent, const core::FieldDef& field, const void* record) {
    ColourRow row;
    row.box = new QWidget(parent);
    auto* line = new QHBoxLayout(row.box);
    line->setContentsMargins(0, 0, 0, 0);
    const std::vector<uint32_t> colours = ColoursOf(field, record);
    for (size_t i = 0; i < colours.size(); ++i) {
        QPushButton* button = ColourButton(row.box, colours[i]);
        button->setObjectName(QString("colour%1").arg(i));
        line->addWidget(button);
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
