#include "DashedFrame.h"

#include <QPainter>

namespace vocalith {

DashedFrame::DashedFrame(int radius, QWidget* parent)
    : QFrame(parent)
    , m_radius(radius) {
}

void DashedFrame::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor colour = palette().color(QPalette::PlaceholderText);
    colour.setAlphaF(0.6);
    QPen pen(colour, 2);
    pen.setDashPattern({4, 2}); // 8 on, 4 off at width 2
    painter.setPen(pen);
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), m_radius, m_radius);
}

} // namespace vocalith
