#pragma once

#include <QFrame>

namespace vocalith {

// A frame outlined by a dashed rounded rectangle: the drop zones of both tabs.
class DashedFrame final : public QFrame {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DashedFrame)

public:
    DashedFrame(int radius, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_radius;
};

} // namespace vocalith
