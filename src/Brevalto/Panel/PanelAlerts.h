#pragma once

#include <QString>

class QWidget;

namespace brevalto {

// The confirmations that panel views raise. The app asks with a message box above the panel;
// tests answer from a script.
class PanelAlerts {
public:
    virtual ~PanelAlerts() = default;
    // Asks a yes-or-no question whose "yes" destroys something: a titled alert without a message,
    // with "Cancel" first and the destructive button second. True when the destructive button
    // was chosen.
    virtual bool confirmDestructive(const QString& title, const QString& destructiveTitle) = 0;
};

// Asks with a QMessageBox raised above the notch panel.
class MessageBoxPanelAlerts final : public PanelAlerts {
public:
    explicit MessageBoxPanelAlerts(QWidget* parent = nullptr) : parent_(parent) {}
    bool confirmDestructive(const QString& title, const QString& destructiveTitle) override;

private:
    QWidget* parent_;
};

}  // namespace brevalto
