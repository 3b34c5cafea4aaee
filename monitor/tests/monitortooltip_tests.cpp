// Form1's tooltip: which output the monitor shows, and what the output says
// of itself, kept up to date while the window runs.

#include "form1.h"

#include <QTest>

#include <gtest/gtest.h>

TEST(Form1, toolTipNamesTheOutputAndFollowsItsStatus)
{
    std::string status;
    Form1 form;
    form.describeOutput = [] { return std::string("sacn:1"); };
    form.outputStatus = [&status] { return status; };
    struct Step
    {
        const char *status;
        const char *secondLine;
    };
    const Step steps[] = {
        {"", "zeigt den Zustand des Ausgangs selbst"},
        {"kein Sender", "kein Sender"},
        {"zeigt, was Blinkwerk zuletzt gesendet hat", "zeigt, was Blinkwerk zuletzt gesendet hat"},
    };
    for (const Step &step : steps) {
        status = step.status;
        const QString expected = QStringLiteral("Ausgang: sacn:1\n") + QString::fromUtf8(step.secondLine);
        // Refreshed by the window itself, within a few of its 250 ms rounds.
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.toolTip() == expected; }, 5000))
            << form.toolTip().toStdString();
    }
}
