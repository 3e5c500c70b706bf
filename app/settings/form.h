// The grouped form the settings are drawn in: titled sections of labelled rows, pickers whose
// options carry the stored values, switches and caption notes.
#pragma once

#include <QList>
#include <QString>
#include <QVariant>

#include <utility>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLayout;
class QWidget;

namespace tessel {

class TextLabel;

namespace Form {

using Options = QList<std::pair<QString, QVariant>>;

// A titled section appended to `page`; its rows go into the returned layout.
QFormLayout* section(QLayout* page, const QString& title, const QString& objectName);
// A picker row labelled `label`; each option shows its text and stores its value.
QComboBox* picker(QFormLayout* form, const QString& label, const Options& options,
                  const QString& objectName);
// A switch row spanning the form.
QCheckBox* toggle(QFormLayout* form, const QString& label, const QString& objectName);
// A button row at its natural width, under the fields when `underFields`, else from the left.
void button(QFormLayout* form, QWidget* button, bool underFields = false);
// A wrapped text in the caption font and the secondary colour.
TextLabel* note(const QString& text, const QString& objectName);
// Selects the option storing `value`, or no option at all when none does.
void select(QComboBox* picker, const QVariant& value);

} // namespace Form
} // namespace tessel
