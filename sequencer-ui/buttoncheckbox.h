#pragma once
// A check box drawn as a push button: raised when off, pressed when on, and
// pressed with a hatched, greyed face for the third state (value 2), which
// only a loaded pattern sets. Its whole face takes clicks. A click turns on
// into off and off or greyed into on.

#include <QCheckBox>

class ButtonCheckBox : public QCheckBox
{
    Q_OBJECT
public:
    explicit ButtonCheckBox(QWidget *parent = nullptr);

    // 0 off, 1 on, 2 greyed, as the pattern holds it.
    int value() const;
    void setValue(int value);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
    void nextCheckState() override;
};
