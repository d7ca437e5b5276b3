#pragma once

#include <QColor>

namespace vocalith::Contrast {

// The WCAG contrast ratio of two opaque colours, from 1 to 21.
double ratio(const QColor& a, const QColor& b);

// The tint made darker or lighter, whichever the background needs, until text in
// it reaches the ratio on that background (4.5:1 is WCAG AA for normal text).
QColor readableTint(const QColor& tint, const QColor& background, double minimumRatio = 4.5);

// A faint wash of the tint over the background, for a banner.
QColor wash(const QColor& tint, const QColor& background);

} // namespace vocalith::Contrast
