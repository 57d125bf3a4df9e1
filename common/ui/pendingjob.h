#pragma once

#include <QString>

class QWidget;

namespace varno::ui {

// Shows on a control that its job runs: disabled, the tool tip saying what
// it waits for, a busy cursor over it. Off gives back the control as it was
// (its own tool tip). The user-interface thread only.
void showPending(QWidget *control, bool pending, const QString &toolTip = QString());

} // namespace varno::ui
