#include "windows/qt/icon_set.h"

#include <array>
#include <cstdio>
#include <memory>

#include <QIconEngine>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QString>

namespace qm::windows::qt {

namespace {

enum class Shape { Tile, Disc, Triangle, Diamond };

struct IconLook {
    Shape shape;
    QRgb fill;
    QRgb ink;
    const char* glyph;  // UTF-8
};

// Severities are told apart by colour, shape and their own digit together,
// so they read at a glance even for colour-blind users.
IconLook LookOf(int number) {
    switch (number) {
        case 0: return {Shape::Tile, 0xFF1F5F8B, 0xFFFFFFFF, "Q"};
        case 1: return {Shape::Tile, 0xFF2E7D32, 0xFFFFFFFF, "Q"};
        case 8: return {Shape::Tile, 0xFFEF6C00, 0xFFFFFFFF, "Q"};
        case 11: return {Shape::Tile, 0xFF5E35B1, 0xFFFFFFFF, "S"};
        case 12: return {Shape::Tile, 0xFF1F5F8B, 0xFFFFFFFF, "\u2261"};
        case 14: return {Shape::Disc, 0xFF9E9E9E, 0xFFFFFFFF, "\u25A0"};
        case 15: return {Shape::Disc, 0xFF2E7D32, 0xFFFFFFFF, "\u2713"};
        case 16: return {Shape::Disc, 0xFF1E88E5, 0xFFFFFFFF, "\u25B6"};
        case 17: return {Shape::Disc, 0xFFF9A825, 0xFF000000, "\u2026"};
        case 20: return {Shape::Diamond, 0xFF6A0000, 0xFFFFFFFF, "0"};
        case 21: return {Shape::Diamond, 0xFFC62828, 0xFFFFFFFF, "1"};
        case 22: return {Shape::Triangle, 0xFFE53935, 0xFFFFFFFF, "2"};
        case 23: return {Shape::Triangle, 0xFFFB8C00, 0xFFFFFFFF, "3"};
        case 24: return {Shape::Triangle, 0xFFFDD835, 0xFF000000, "4"};
        case 25: return {Shape::Disc, 0xFF1E88E5, 0xFFFFFFFF, "5"};
        case 26: return {Shape::Disc, 0xFF43A047, 0xFFFFFFFF, "6"};
        case 27: return {Shape::Disc, 0xFF9E9E9E, 0xFFFFFFFF, "7"};
        case 28: return {Shape::Tile, 0xFF607D8B, 0xFFFFFFFF, "?"};
        case 30: return {Shape::Tile, 0xFF00897B, 0xFFFFFFFF, "M"};
        case 31: return {Shape::Tile, 0xFF3949AB, 0xFFFFFFFF, "\u21C5"};
        case 32: return {Shape::Tile, 0xFF6D4C41, 0xFFFFFFFF, "B"};
        case 33: return {Shape::Tile, 0xFF546E7A, 0xFFFFFFFF, "\u23F1"};
        case 53: return {Shape::Tile, 0xFF00838F, 0xFFFFFFFF, "\u223F"};
        default: break;
    }
    // The rest of the numbers: quiet tiles with their number, so a reference
    // to an unexpected number still shows something recognisable.
    return {Shape::Tile, 0xFF78909C, 0xFFFFFFFF, nullptr};
}

}  // namespace

QImage DrawBuiltinIcon(int number, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const IconLook look = LookOf(number);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF box(0.5, 0.5, s - 1, s - 1);
    painter.setPen(QPen(QColor(0, 0, 0, 140), s >= 24 ? 1.5 : 1.0));
    painter.setBrush(QColor::fromRgba(look.fill));
    QRectF textBox = box;
    switch (look.shape) {
        case Shape::Tile: painter.drawRoundedRect(box, s * 0.18, s * 0.18); break;
        case Shape::Disc: painter.drawEllipse(box); break;
        case Shape::Triangle: {
            QPainterPath path;
            path.moveTo(s / 2, 0.5);
            path.lineTo(s - 0.5, s - 0.5);
            path.lineTo(0.5, s - 0.5);
            path.closeSubpath();
            painter.drawPath(path);
            textBox = QRectF(0, s * 0.3, s, s * 0.7);
            break;
        }
        case Shape::Diamond: {
            QPainterPath path;
            path.moveTo(s / 2, 0.5);
            path.lineTo(s - 0.5, s / 2);
            path.lineTo(s / 2, s - 0.5);
            path.lineTo(0.5, s / 2);
            path.closeSubpath();
            painter.drawPath(path);
            break;
        }
    }
    const QString glyph = look.glyph ? QString::fromUtf8(look.glyph) : QString::number(number);
    QFont font("Carlito");
    font.setBold(true);
    const qreal share = glyph.size() > 1 ? 0.42 : (look.shape == Shape::Triangle ? 0.5 : 0.62);
    font.setPixelSize(std::max(6, static_cast<int>(s * share)));
    painter.setFont(font);
    painter.setPen(QColor::fromRgba(look.ink));
    painter.drawText(textBox, Qt::AlignCenter, glyph);
    return image;
}

bool WriteBuiltinIcons(const std::filesystem::path& folder) {
    for (int number = 0; number < kBuiltinIconCount; ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "icn%d.ico", number);
        // The ico writer takes one image; the largest reads well scaled down.
        const QString path = QString::fromStdString((folder / name).string());
        QImageWriter writer(path, "ico");
        if (!writer.write(DrawBuiltinIcon(number, 32))) return false;
    }
    return true;
}

namespace {

constexpr std::array<int, 4> kBuiltinSizes = {16, 24, 32, 48};

QIcon DrawnIcon(int number) {
    QIcon icon;
    for (int size : kBuiltinSizes) icon.addPixmap(QPixmap::fromImage(DrawBuiltinIcon(number, size)));
    return icon;
}

// A built-in icon drawn when it is first shown: most of the set is never
// shown in a session, and the whole set drawn at start-up kept about 2 MB
// resident. Once drawn it is the plain four-size icon, so sizes, scaling
// and the disabled look stay Qt's own.
class DrawnOnDemand final : public QIconEngine {
public:
    explicit DrawnOnDemand(int number) : number_(number) {}
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        Drawn().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Drawn().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return Drawn().actualSize(size, mode, state);
    }
    // As the drawn icon answers, without drawing it.
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override {
        QList<QSize> sizes;
        if (mode == QIcon::Normal && state == QIcon::Off)
            for (int size : kBuiltinSizes) sizes.append(QSize(size, size));
        return sizes;
    }
    QString key() const override { return QStringLiteral("qm-builtin"); }
    // QIcon takes ownership of the engine it is handed.
    QIconEngine* clone() const override { return std::make_unique<DrawnOnDemand>(*this).release(); }

private:
    const QIcon& Drawn() {
        if (drawn_.isNull()) drawn_ = DrawnIcon(number_);
        return drawn_;
    }

    int number_;
    QIcon drawn_;
};

QIcon BuiltinIcon(int number) { return QIcon(std::make_unique<DrawnOnDemand>(number).release()); }

}  // namespace

int IconSet::Load(const std::filesystem::path& folder) {
    icons_.clear();
    fromFiles_ = 0;
    for (int number = 0;; ++number) {
        char name[32];
        std::snprintf(name, sizeof name, "icn%d.ico", number);
        const QString path = QString::fromStdString((folder / name).string());
        QIcon icon(path);
        if (icon.isNull() || icon.availableSizes().isEmpty()) break;
        icons_.push_back(icon);
        ++fromFiles_;
    }
    for (int number = fromFiles_; number < kBuiltinIconCount; ++number) icons_.push_back(BuiltinIcon(number));
    return fromFiles_;
}


QIcon IconSet::Icon(int number) const {
    if (number < 0) return {};
    const size_t index = static_cast<size_t>(number);
    if (index < icons_.size()) return icons_[index];
    // Before any folder was read, every number is the built-in one.
    if (icons_.empty() && number < kBuiltinIconCount) {
        for (int n = 0; n < kBuiltinIconCount; ++n) icons_.push_back(BuiltinIcon(n));
        return icons_[index];
    }
    return {};
}

QIcon ProgramMainIcon() { return BuiltinIcon(0); }

IconSet& ProgramIcons() {
    static IconSet set;
    return set;
}

}  // namespace qm::windows::qt
