#include "windows/qt/colour_button.h"

#include <QColorDialog>
#include <QPushButton>
#include <QVariant>

#include "windows/qt/colors.h"

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

}  // namespace qm::windows::qt
