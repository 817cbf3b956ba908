#pragma once

#include <QLineEdit>

#include <functional>
#include <optional>

namespace brevalto {

// A number field that shows (to three decimals) and reads decimals in the widget's locale and
// follows its changes.
// Every edit that reads as a number the field accepts is reported at once; text that does not read
// changes nothing. When an acceptance rule is set, a refused value is not reported and the field
// shows the last accepted one again once editing ends.
class DecimalField : public QLineEdit {
    Q_OBJECT
public:
    DecimalField(const QString& objectName, double value, QWidget* parent = nullptr);

    double value() const { return value_; }
    // Shows the value (nothing is reported).
    void setValue(double value);
    void setAcceptance(std::function<bool(double)> accepts) { accepts_ = std::move(accepts); }
    // The text as a number in the widget's locale.
    static std::optional<double> read(const QString& text, const QLocale& locale);

signals:
    void valueEdited(double value);

protected:
    void changeEvent(QEvent* event) override;

private:
    void display(double value);

    double value_;
    std::function<bool(double)> accepts_;
};

}  // namespace brevalto
