// The serial backend on Windows through a real COM port, with an emulated
// board behind it (under wine: serialboard_run links the COM port to a
// pseudo-terminal and keeps a file holding the board's relays). Skipped when
// no board is set up.
#include "outputkind.h"
#include "portbackend.h"
#include "portbackend.h"
#include "serialrelay.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

int boardRelays(const QString &stateFile)
{
    QFile file(stateFile);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int relays = file.readAll().trimmed().toInt(&ok);
    return ok ? relays : -1;
}

TEST(SerialRelayCom, TwentyStepsStopAndClose)
{
    const char *port = std::getenv("BLINKWERK_SERIAL_PORT");
    const char *protocol = std::getenv("BLINKWERK_SERIAL_PROTOCOL");
    const char *state = std::getenv("BLINKWERK_SERIAL_STATE");
    if (!port || !protocol || !state)
        GTEST_SKIP() << "no emulated board (run through serialboard_run)";
    const QString stateFile = QString::fromLocal8Bit(state);
    std::string error;
    const auto spec = portio::OutputRegistry({&portio::serialRelayKind}).parse(std::string("serial:") + port + "," + protocol, error);
    ASSERT_TRUE(spec) << error;
    std::string why;
    auto backend = portio::openSerialRelayOutput(*spec, portio::OutputRole::Sequencer, why);
    ASSERT_TRUE(backend) << why;

    const std::uint8_t steps[20] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xFF, 0x00,
                                    0xAA, 0x55, 0x0F, 0xF0, 0x81, 0x42, 0x24, 0x18, 0x3C, 0xC3};
    for (std::uint8_t byte : steps) {
        backend->out32(portio::Lpt1DataPort, byte);
        ASSERT_TRUE(waitFor([&] { return boardRelays(stateFile) == byte; }))
            << "board holds " << boardRelays(stateFile) << ", wanted " << int(byte);
    }
    backend->out32(portio::Lpt1DataPort, 0);
    EXPECT_TRUE(waitFor([&] { return boardRelays(stateFile) == 0; })) << "Stop's 0";
    backend->out32(portio::Lpt1DataPort, 0x3C);
    ASSERT_TRUE(waitFor([&] { return boardRelays(stateFile) == 0x3C; }));
    backend.reset();
    EXPECT_TRUE(waitFor([&] { return boardRelays(stateFile) == 0; }, 3000)) << "the 0 at the end";
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
