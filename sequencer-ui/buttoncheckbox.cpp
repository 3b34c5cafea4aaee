#include "buttoncheckbox.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

ButtonCheckBox::ButtonCheckBox(QWidget *parent)
    : QCheckBox(parent)
{
    setTristate(true);
    setFocusPolicy(Qt::StrongFocus);
}

int ButtonCheckBox::value() const
{
    switch (checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
    }
}

void ButtonCheckBox::setValue(int value)
{
    setCheckState(value == 1 ? Qt::Checked : value == 2 ? Qt::PartiallyChecked : Qt::Unchecked);
}

QSize ButtonCheckBox::sizeHint() const
{
    return {17, 17};
}

bool ButtonCheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void ButtonCheckBox::nextCheckState()
{
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

void ButtonCheckBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    const int state = value();
    if (state != 0 || isDown())
        option.state |= QStyle::State_Sunken | QStyle::State_On;
    else
        option.state |= QStyle::State_Raised;
    if (state == 2)
        option.palette.setColor(QPalette::ButtonText, palette().color(QPalette::Disabled, QPalette::ButtonText));
    painter.drawControl(QStyle::CE_PushButtonBevel, option);
    // Styles draw a pressed button only a shade darker; a lit channel must
    // stand out in a grid of 160, so the face of an "on" cell is shaded.
    if (state == 1) {
        QColor shade = palette().color(QPalette::Mid);
        shade.setAlpha(text().isEmpty() ? 200 : 90);
        painter.fillRect(rect().adjusted(2, 2, -2, -2), shade);
    }
    if (state == 2) {
        // The greyed face: a fine hatch over the pressed button.
        QColor hatch = palette().color(QPalette::Dark);
        hatch.setAlpha(150);
        painter.fillRect(rect().adjusted(3, 3, -3, -3), QBrush(hatch, Qt::Dense5Pattern));
    }
    if (!option.text.isEmpty())
        painter.drawControl(QStyle::CE_PushButtonLabel, option);
}
