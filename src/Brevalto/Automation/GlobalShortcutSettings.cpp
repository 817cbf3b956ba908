#include "Automation/GlobalShortcutSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace brevalto {

namespace {

constexpr std::uint32_t kCommandShift = 768;
constexpr int kPickerWidth = 90;
constexpr int kRowSpacing = 5;

QFont scaled(QFont font, double factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

}  // namespace

const std::array<GlobalShortcutSettings::Modifier, 4>& GlobalShortcutSettings::modifiers() {
    static const std::array<Modifier, 4> list = {{{"Super", 0x100}, {"Ctrl", 0x1000}, {"Alt", 0x800}, {"Shift", 0x200}}};
    return list;
}

GlobalShortcutSettings::GlobalShortcutSettings(GlobalShortcuts& shortcuts, QWidget* parent)
    : QWidget(parent), shortcuts_(shortcuts) {
    setObjectName(QStringLiteral("settings-shortcuts"));
    auto* layout = new QVBoxLayout(this);

    auto* section = new QGroupBox(QStringLiteral("Global shortcuts"), this);
    section->setFont(scaled(section->font(), 0.92));  // the small control size
    auto* form = new QFormLayout(section);
    for (const auto action : kAllShortcutActions) {
        const QString name = title(action);
        auto* row = new QWidget(section);
        row->setObjectName(QString::fromUtf8(rawValue(action).data(), static_cast<qsizetype>(rawValue(action).size())));
        auto* stack = new QVBoxLayout(row);
        stack->setContentsMargins(0, 0, 0, 0);
        stack->setSpacing(kRowSpacing);
        auto* line = new QHBoxLayout;
        line->setAlignment(Qt::AlignVCenter);

        Row controls;
        controls.key = new QComboBox(row);
        controls.key->setObjectName(QStringLiteral("key"));
        controls.key->setFixedWidth(kPickerWidth);
        controls.key->setAccessibleName(QStringLiteral("Key for ") + name);
        for (const auto& key : GlobalShortcuts::keyTable()) controls.key->addItem(QString::fromUtf8(key.title), key.keyCode);
        connect(controls.key, &QComboBox::activated, this, [this, action](int index) { pickKey(action, index); });
        line->addWidget(controls.key);

        for (std::size_t i = 0; i < modifiers().size(); ++i) {
            const Modifier modifier = modifiers()[i];
            auto* box = new QCheckBox(QString::fromUtf8(modifier.word), row);
            box->setObjectName(QString::fromUtf8(modifier.word));
            box->setAccessibleName(QString::fromUtf8(modifier.word) + QStringLiteral(" for ") + name);
            connect(box, &QCheckBox::clicked, this,
                    [this, action, bit = modifier.bit](bool on) { toggleModifier(action, bit, on); });
            controls.modifiers[i] = box;
            line->addWidget(box);
        }
        line->addStretch(1);
        stack->addLayout(line);

        controls.message = new QLabel(row);
        controls.message->setObjectName(QStringLiteral("message"));
        controls.message->setWordWrap(true);
        controls.message->setFont(scaled(controls.message->font(), 0.85));  // the caption font
        QPalette red = controls.message->palette();
        red.setColor(QPalette::WindowText, QColor(Qt::red));
        controls.message->setPalette(red);
        stack->addWidget(controls.message);

        rows_[action] = controls;
        form->addRow(name, row);
    }
    layout->addWidget(section);

    auto* footnote = new QLabel(QStringLiteral("Keys use US physical-key labels. Region defaults to Ctrl-Super-Shift-2. "
                                               "The desktop's screenshot shortcuts are not changed."),
                                this);
    footnote->setObjectName(QStringLiteral("footnote"));
    footnote->setWordWrap(true);
    footnote->setFont(scaled(footnote->font(), 0.85));
    footnote->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(footnote);
    layout->addStretch(1);

    connect(&shortcuts_, &GlobalShortcuts::bindingsChanged, this, &GlobalShortcutSettings::refresh);
    connect(&shortcuts_, &GlobalShortcuts::messagesChanged, this, &GlobalShortcutSettings::refresh);
    refresh();
}

void GlobalShortcutSettings::refresh() {
    for (auto& [action, row] : rows_) {
        const auto found = shortcuts_.bindings().find(action);
        const bool bound = found != shortcuts_.bindings().end();
        {
            const QSignalBlocker blocker(row.key);
            const int index = row.key->findData(QVariant::fromValue(static_cast<int>(bound ? found->second.keyCode : -1)));
            // A stored key outside the table shows no choice.
            row.key->setCurrentIndex(index);
        }
        for (std::size_t i = 0; i < modifiers().size(); ++i) {
            const QSignalBlocker blocker(row.modifiers[i]);
            row.modifiers[i]->setChecked(bound && (found->second.modifiers & modifiers()[i].bit) != 0);
        }
        const auto message = shortcuts_.messages().find(action);
        const bool shown = message != shortcuts_.messages().end();
        row.message->setText(shown ? message->second : QString());
        row.message->setVisible(shown);
    }
}

void GlobalShortcutSettings::pickKey(ShortcutAction action, int index) {
    const int keyCode = rows_.at(action).key->itemData(index).toInt();
    const auto found = shortcuts_.bindings().find(action);
    shortcuts_.setBinding(action, keyCode, found != shortcuts_.bindings().end() ? found->second.modifiers : kCommandShift);
    refresh();  // a refused pick shows the old key again
}

void GlobalShortcutSettings::toggleModifier(ShortcutAction action, std::uint32_t bit, bool on) {
    const auto found = shortcuts_.bindings().find(action);
    if (found != shortcuts_.bindings().end()) {
        const ShortcutBinding binding = found->second;
        shortcuts_.setBinding(action, binding.keyCode, on ? binding.modifiers | bit : binding.modifiers & ~bit);
    }
    refresh();
}

}  // namespace brevalto
