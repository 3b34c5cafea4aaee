#include "info.h"

#include "clicklabel.h"
#include "dialogfont.h"
#include "programm.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>

namespace {

template<typename Widget>
Widget *place(Widget *widget, const char *name, int x, int y)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->move(x, y);
    return widget;
}

QLabel *rowLabel(QWidget *parent, const char *name, const QString &text, int x, int y)
{
    auto *label = place(new QLabel(text, parent), name, x, y);
    label->adjustSize();
    label->resize(label->width(), 13);
    return label;
}

} // namespace

Info::Info(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName("Info");
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(" ");
    // The title bar shows no text; a screen reader still names the dialog.
    setAccessibleName(QString::fromUtf8("Über BlinkwerkV2.1"));
    setWindowIcon(QIcon(":/blinkwerk/icon.png"));
    setFont(blinkwerk::dialogFont());
    QPalette background = palette();
    background.setColor(QPalette::Window, Programm::systemColour11());
    setPalette(background);
    setAutoFillBackground(true);
    setGeometry(268, 240, 369, 270);
    setFixedSize(369, 270);

    Picture1 = place(new ClickLabel(this), "Picture1", 8, 0);
    Picture1->setPixmap(QPixmap(":/blinkwerk/banner.png"));
    Picture1->resize(360, 70);
    Picture1->setAccessibleName(QStringLiteral("BlinkwerkV2.1"));

    Label1 = place(new QLabel(this), "Label1", 8, 88);
    Label1->setWordWrap(false);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label1->resize(3, 13);

    Label2 = rowLabel(this, "Label2", QStringLiteral("Autor:"), 8, 176);
    Label3 = place(new ClickLabel(QStringLiteral("Das Blinkwerk-Team"), this), "Label3", 80, 176);
    Label3->adjustSize();
    Label3->resize(Label3->width(), 13);
    Label4 = rowLabel(this, "Label4", QStringLiteral("E-Mail:"), 8, 192);
    Label5 = rowLabel(this, "Label5", QStringLiteral("team@blinkwerk.example"), 80, 192);
    Label6 = rowLabel(this, "Label6", QStringLiteral("Web:"), 8, 208);
    Label7 = rowLabel(this, "Label7", QStringLiteral("www.blinkwerk.example"), 80, 208);

    Command1 = place(new QPushButton(QStringLiteral("OK"), this), "Command1", 8, 240);
    Command1->resize(65, 25);
    Command1->setDefault(true);

    Picture2 = place(new QLabel(this), "Picture2", 208, 168);
    Picture2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Picture2->setLineWidth(2);
    Picture2->setPixmap(QPixmap(":/blinkwerk/portrait.png"));
    Picture2->resize(64, 94);
    Picture2->setAccessibleName(QString::fromUtf8("Porträt"));
    Picture2->hide();

    connect(Command1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Label3, &ClickLabel::doubleClicked, Picture2, &QWidget::show);

    // The dialog's load.
    Label1->setText(descriptionText());
    Label1->adjustSize();
}

QString Info::descriptionText()
{
    const QString q = QStringLiteral("\"");
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Mit ") + q + QStringLiteral("BlinkwerkV2.1") + q
           + QString::fromUtf8(" können Sie ganz einfach Ihre LPT-Relaiskarte steuern.") + crlf
           + QString::fromUtf8("Regeln Sie bis zu 8 Leuchtmitteln (Glühbirnen, LED's etc.) gleichzeitig!") + crlf
           + crlf + QStringLiteral("Haben Sie weitere fragen zu ") + q + QStringLiteral("BlinkwerkV2.1") + q
           + QStringLiteral(", oder fanden Sie einen Bug?") + crlf + QStringLiteral("Lassen Sie es mich bitte wissen!");
}

void Info::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The dialog takes the keyboard at once, also where no window manager
    // hands it over, so that Enter or Space right after opening clicks "OK".
    activateWindow();
    Command1->setFocus(Qt::OtherFocusReason);
}

void Info::keyPressEvent(QKeyEvent *event)
{
    // "OK", the close box and the platform's close key close the dialog;
    // Escape, which a QDialog takes as a rejection, does not.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
