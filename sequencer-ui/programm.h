#pragma once
// The main window of blinkwerk.

#include "sequencer.h"

#include <QWidget>

class Programm : public QWidget
{
    Q_OBJECT
public:
    explicit Programm(QWidget *parent = nullptr);
    ~Programm() override;

    sequencer::Sequencer &engine() { return m_engine; }

protected:
    // The window's load runs once, when it is first shown: it clears the
    // port, points the file list at its folder and picks the first step time
    // and correction. Before that the window is in its state at creation.
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    sequencer::Sequencer m_engine;
    bool m_loaded = false;
    bool m_shutDown = false;
};
