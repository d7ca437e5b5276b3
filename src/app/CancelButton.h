#pragma once

class QPushButton;
class QWidget;

namespace vocalith {

// The Cancel button of a running job, as tall as the button that started it, with
// Escape as its shortcut. Only a visible one answers Escape, so each tab has its own.
QPushButton* cancelButton(int height, QWidget* parent);

} // namespace vocalith
