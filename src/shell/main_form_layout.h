// The window's controls as designed: kind, place, size, text, hint and input rule of each, and
// the two timers.
#pragma once

#include <QString>

class QLineEdit;

namespace gateway {

class TMainForm;

// Creates every control of `form` in its designed state, in the keyboard focus order.
void BuildMainFormControls(TMainForm& form);

// What an edit accepts from the operator: characters matching `allowed` (a regular expression
// character class), at most `max_length` of them. Texts set by the program are taken whole.
void SetInputRule(QLineEdit& edit, const QString& allowed, int max_length);

}  // namespace gateway
