#include "gui/speedbutton.h"

#include <QAbstractButton>
#include <QToolButton>
#include <QPalette>
#include <QVariant>

namespace marlix {

void SetHint(QWidget* w, const QString& hint)
{
    const qsizetype bar = hint.indexOf(u'|');
    w->setToolTip(bar < 0 ? hint : hint.left(bar));
    w->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
}

void SetLitSwitch(QAbstractButton* b, bool on)
{
    if (b->isCheckable()) {
        if (b->isChecked() != on)
            b->setChecked(on);
    } else if (b->isDown() != on) {
        b->setDown(on);
    }
    // The colour last given is remembered on the button: reading the palette resolves
    // the window's activation, too dear for every tick of every switch.
    const QVariant given = b->property("litColour");
    if (given.isValid() && given.toBool() == on)
        return;
    b->setProperty("litColour", on);
    const QColor text = on ? QColor(255, 0, 0) : QColor(0, 0, 0);
    // Active and inactive only: a disabled switch keeps the style's grey text.
    const QPalette& now = b->palette();
    if (now.color(QPalette::Active, QPalette::ButtonText) != text ||
        now.color(QPalette::Inactive, QPalette::ButtonText) != text) {
        QPalette p = now;
        p.setColor(QPalette::Active, QPalette::ButtonText, text);
        p.setColor(QPalette::Inactive, QPalette::ButtonText, text);
        b->setPalette(p);
    }
}

void SetEnabledSwitch(QWidget* w, bool on)
{
    if (w->isEnabled() != on)
        w->setEnabled(on);
}

QToolButton* MakeSpeedButton(QWidget* parent, const QString& name, const QString& text, const QString& hint, bool toggle)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(text);
    b->setCheckable(toggle);
    SetHint(b, hint);
    return b;
}

} // namespace marlix
