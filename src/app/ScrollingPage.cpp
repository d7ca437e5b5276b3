#include "ScrollingPage.h"

#include <QScrollArea>
#include <QVBoxLayout>

namespace vocalith {

QVBoxLayout* scrollingPage(QWidget* tab) {
    auto* outer = new QVBoxLayout(tab);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(tab);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFocusPolicy(Qt::NoFocus); // it scrolls to the focused control by itself
    auto* page = new QWidget(scroll);
    scroll->setWidget(page);
    outer->addWidget(scroll);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);
    return layout;
}

} // namespace vocalith
