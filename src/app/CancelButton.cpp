#include "CancelButton.h"

#include <QPushButton>

namespace vocalith {

QPushButton* cancelButton(int height, QWidget* parent) {
    auto* button = new QPushButton(QStringLiteral("Cancel"), parent);
    button->setMinimumHeight(height);
    button->setAccessibleName(button->text());
    button->setShortcut(Qt::Key_Escape);
    button->setToolTip(QStringLiteral("Cancel (Esc)"));
    return button;
}

} // namespace vocalith
