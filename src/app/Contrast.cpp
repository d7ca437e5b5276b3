#include "Contrast.h"

#include <cmath>

namespace vocalith::Contrast {

namespace {

double channel(double value) {
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& color) {
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
           0.0722 * channel(color.blueF());
}

} // namespace

double ratio(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readableTint(const QColor& tint, const QColor& background, double minimumRatio) {
    // Toward black on a light background, toward white on a dark one; the end of
    // that road always reaches the ratio.
    const bool darken = luminance(background) > 0.18;
    QColor color = tint.toHsl();
    for (int step = 0; step < 100 && ratio(color, background) < minimumRatio; ++step) {
        const double lightness = color.lightnessF() + (darken ? -0.02 : 0.02);
        color.setHslF(color.hslHueF(), color.hslSaturationF(), std::clamp(lightness, 0.0, 1.0));
    }
    return color.toRgb();
}

QColor wash(const QColor& tint, const QColor& background) {
    constexpr double amount = 0.12;
    return QColor::fromRgbF(float(background.redF() * (1 - amount) + tint.redF() * amount),
                            float(background.greenF() * (1 - amount) + tint.greenF() * amount),
                            float(background.blueF() * (1 - amount) + tint.blueF() * amount));
}

} // namespace vocalith::Contrast
