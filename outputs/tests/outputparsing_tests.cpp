// How outputs are named: every kind's SPEC, parsed and formatted through the
// table of kinds, and every fault refused with a reason.

#include "outputs.h"

#include <gtest/gtest.h>

using namespace portio;

TEST(OutputSpec, parsesAndFormatsEveryKindAndRefusesEveryFault)
{
    struct Case
    {
        const char *text;
        const char *canonical; // null: refused
        const char *error;     // part of the reason when refused
    };
    const Case cases[] = {
        {"lpt1", "lpt1", nullptr},
        {"LPT1", "lpt1", nullptr},
        {"register:/tmp/a b:c", "register:/tmp/a b:c", nullptr},
        {"register:/tmp/R\xc3\xa4ume", "register:/tmp/R\xc3\xa4ume", nullptr},
        {"hidrelay", "hidrelay", nullptr},
        {"HidRelay:ABCDE", "hidrelay:ABCDE", nullptr},
        {"serial:/dev/ttyUSB0", "serial:/dev/ttyUSB0,lcus", nullptr},
        {"serial:COM3,ICSE", "serial:COM3,icse", nullptr},
        {"gpio:gpiochip0:17,27,22", "gpio:gpiochip0:17,27,22", nullptr},
        {"gpio:/dev/gpiochip1:0,1,2,3,4,5,6,7,Active-Low", "gpio:/dev/gpiochip1:0,1,2,3,4,5,6,7,active-low", nullptr},
        {"sacn:1", "sacn:1", nullptr},
        {"sacn:7/1", "sacn:7", nullptr},
        {"sacn:63999/505@node.local", "sacn:63999/505@node.local", nullptr},
        {"artnet:0", "artnet:0", nullptr},
        {"ARTNET:32767/2@127.0.0.1", "artnet:32767/2@127.0.0.1", nullptr},

        {"", nullptr, "unknown output"},
        {"lpt2", nullptr, "unknown output \"lpt2\""},
        {"lpt1:x", nullptr, "lpt1 takes no arguments"},
        {"register", nullptr, "register needs a file"},
        {"register:", nullptr, "register needs a file"},
        {"register:/tmp/a\nb", nullptr, "control character"},
        {"register:/tmp/\x1b[31mred", nullptr, "control character"},
        {"Register:/tmp/\x7f", nullptr, "control character"},
        {"gpio:chip\xc2\x85:1", nullptr, "control character"}, // a C1 control in UTF-8
        {"hidrelay:", nullptr, "1 to 16 printable"},
        {"hidrelay:12345678901234567", nullptr, "1 to 16 printable"},
        {"hidrelay:AB CD", nullptr, "1 to 16 printable"},
        {"serial", nullptr, "serial needs a port"},
        {"serial:,lcus", nullptr, "serial needs a port"},
        {"serial:a,lcus,icse", nullptr, "serial needs a port"},
        {"serial:a,modbus", nullptr, "unknown serial protocol \"modbus\""},
        {"serial:/dev/tty\r", nullptr, "control character"},
        {"gpio:17", nullptr, "gpio needs a chip"},
        {"gpio::17", nullptr, "gpio needs a chip"},
        {"gpio:c:active-low", nullptr, "one to eight"},
        {"gpio:c:0,1,2,3,4,5,6,7,8", nullptr, "one to eight"},
        {"gpio:c:", nullptr, "\"\" is no number"},
        {"gpio:c:1,x", nullptr, "\"x\" is no number"},
        {"gpio:c:65536", nullptr, "is no number from 0 to 65535"},
        {"gpio:c:-1", nullptr, "is no number"},
        {"gpio:c:4,4", nullptr, "line 4 is named twice"},
        {"gpio:chip\n:4", nullptr, "control character"},
        {"sacn:", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:0", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:64000", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:+1", nullptr, "universe must be"},
        {"sacn:1x", nullptr, "universe must be"},
        {"artnet:32768", nullptr, "universe must be a number from 0 to 32767"},
        {"sacn:1/0", nullptr, "first slot must be a number from 1 to 505"},
        {"sacn:1/506", nullptr, "first slot"},
        {"artnet:1/2/3", nullptr, "first slot"},
        {"sacn:1@", nullptr, "host after @"},
        {"artnet:1@a b", nullptr, "host after @"},
        {"sacn:1@::1", nullptr, "IPv6"},
        {"artnet:1@[fe80::1]", nullptr, "IPv6"},
    };
    for (const Case &c : cases) {
        std::string error;
        const std::optional<OutputSpec> parsed = parseOutputSpec(c.text, error);
        if (!c.canonical) {
            EXPECT_FALSE(parsed) << c.text;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " said: " << error;
            continue;
        }
        ASSERT_TRUE(parsed) << c.text << ": " << error;
        EXPECT_EQ(formatOutputSpec(*parsed), c.canonical) << c.text;
        const std::optional<OutputSpec> again = parseOutputSpec(formatOutputSpec(*parsed), error);
        EXPECT_TRUE(again && *again == *parsed) << c.text << " does not survive its own text";
    }
}
