#include "common/ui/pendingjob.h"

#include "common/uithread.h"

#include <QVariant>
#include <QWidget>

namespace varno::ui {

namespace {
constexpr const char *kOwnToolTip = "varnoOwnToolTip";
} // namespace

void showPending(QWidget *control, bool pending, const QString &toolTip)
{
    VARNO_ASSERT_UI_THREAD();
    if (!control)
        return;
    const QVariant own = control->property(kOwnToolTip);
    if (pending) {
        if (!own.isValid())
            control->setProperty(kOwnToolTip, control->toolTip());
        control->setToolTip(toolTip);
        control->setCursor(Qt::BusyCursor);
        control->setEnabled(false);
        return;
    }
    if (own.isValid()) {
        control->setToolTip(own.toString());
        control->setProperty(kOwnToolTip, QVariant());
    }
    control->unsetCursor();
    control->setEnabled(true);
}

} // namespace varno::ui
