#pragma once

class QMessageBox;

namespace brevalto {

// Runs the alert modally, drawn above the notch panel (which itself stays above other windows):
// the alert stays on top too and is raised once its modal loop runs. Returns exec()'s result.
int runModalAbovePanel(QMessageBox& alert);

}  // namespace brevalto
