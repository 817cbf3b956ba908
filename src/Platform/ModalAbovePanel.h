#pragma once

class QDialog;
class QFileDialog;

namespace brevalto {

// Runs the alert or dialog modally, drawn above the notch panel and our other floating windows
// (which themselves stay above other windows): it stays on top too and is raised once its modal
// loop runs. Returns exec()'s result.
int runModalAbovePanel(QDialog& alert);
// The same for a file dialog, which is then drawn by Qt itself: a dialog of the desktop's own
// would open under our windows.
int runModalAbovePanel(QFileDialog& dialog);

}  // namespace brevalto
