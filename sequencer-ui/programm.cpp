#include "programm.h"

#include <QCloseEvent>
#include <QShowEvent>

Programm::Programm(QWidget *parent)
    : QWidget(parent)
{
    setObjectName("Programm");
    setWindowTitle("BlinkwerkV2.1");
    setFixedSize(438, 462);
}

void Programm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_loaded)
        return;
    m_loaded = true;
    m_engine.startUp();
}

Programm::~Programm() = default;

void Programm::closeEvent(QCloseEvent *event)
{
    if (!m_shutDown) {
        m_shutDown = true;
        m_engine.shutDown();
    }
    event->accept();
}
