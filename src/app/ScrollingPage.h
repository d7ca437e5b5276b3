#pragma once

class QVBoxLayout;
class QWidget;

namespace vocalith {

// Fills a tab with a frameless vertical scroll area and returns the layout of the page
// inside it, so the tab's content scrolls at the window's smallest size instead of
// being squeezed.
QVBoxLayout* scrollingPage(QWidget* tab);

} // namespace vocalith
