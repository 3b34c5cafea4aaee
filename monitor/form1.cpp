#include "form1.h"

Form1::Form1(QWidget *parent)
    : QWidget(parent)
{
    setObjectName("Form1");
    setWindowTitle("Relais Simulation");
    setFixedSize(287, 114);
}
