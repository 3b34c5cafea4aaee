#pragma once
// A label that reports clicks and double-clicks: the picture boxes and the
// contact label that react to the mouse.

#include <QLabel>

class ClickLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();
    void doubleClicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
