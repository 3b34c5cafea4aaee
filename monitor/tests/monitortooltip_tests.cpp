// Form1's tooltip: which output the monitor shows, and what the output says
// of itself, kept up to date while the window runs.

#include "form1.h"

#include "portbackend.h"
#include "portio.h"

#include <QTest>

#include <gtest/gtest.h>

namespace {

class StatusPort final : public portio::PortBackend
{
public:
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
    std::string status() const override { return text; }
    std::string text;
};

} // namespace

TEST(Form1, toolTipNamesTheOutputAndFollowsItsStatus)
{
    StatusPort port;
    const portio::ScopedPortBackend scope(port, "sacn:1");
    Form1 form;
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
        port.text = step.status;
        const QString expected = QStringLiteral("Ausgang: sacn:1\n") + QString::fromUtf8(step.secondLine);
        // Refreshed by the window itself, within a few of its 250 ms rounds.
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.toolTip() == expected; }, 5000))
            << form.toolTip().toStdString();
    }
}
