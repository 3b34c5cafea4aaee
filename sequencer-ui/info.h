#pragma once
// Info, the about dialog: a banner, the description text, three contact
// rows and "OK". It has no parent widget, so that it stays usable while the
// main window is disabled behind it (the opener makes the main window its
// transient parent for the window manager); it deletes itself when closed,
// however it is closed, so that every opening starts from its state at
// creation. It closes by "OK", its close box or the platform's close key,
// not by Escape, and takes the keyboard focus when shown.

#include <QDialog>

class ClickLabel;
class QLabel;
class QPushButton;

class Info : public QDialog
{
    Q_OBJECT
public:
    explicit Info(QWidget *parent = nullptr);

    // The text the dialog's load puts into Label1: five lines, CR LF between.
    static QString descriptionText();

    ClickLabel *Picture1; // title banner
    QLabel *Label1;       // description
    QLabel *Label2, *Label4, *Label5, *Label6, *Label7;
    ClickLabel *Label3;   // a double-click shows the portrait
    QPushButton *Command1; // "OK"
    QLabel *Picture2;      // portrait, hidden until Label3 is double-clicked

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
