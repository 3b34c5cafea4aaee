#pragma once
// Relay modules on GPIO lines (a relay HAT on a Raspberry Pi, or any board
// whose kernel exposes its GPIO lines), through the kernel's GPIO character
// device (/dev/gpiochipN, uapi v2 ioctls of <linux/gpio.h>). Linux only: on
// other platforms the opener says so and the lister finds nothing.
//
// Contract of the backend that openGpioRelayOutput returns (spec
// gpio:CHIP:L1,...[,active-low]; CHIP is "gpiochipN", taken as /dev/gpiochipN,
// or a path):
// - Holds: one line request for all the lines named, consumer "blinkwerk",
//   as outputs (with active-low: GPIO_V2_LINE_FLAG_ACTIVE_LOW, so that off
//   is the logical 0 on every module). The chip's own descriptor is closed
//   once the lines are requested.
// - Binds: at creation, with the lines driven off in the request itself. A
//   chip that cannot be opened (missing, no permission: the group or udev
//   rule is named), a line the chip lacks and lines another program or
//   driver holds (named with their holders) make the creation fail with a
//   reason. Role Monitor is refused: lines this program holds cannot be read
//   by another one, so the monitor reads what the sequencer mirrors.
// - Writes: channel k (bit k of the byte) drives the k-th line given; bits
//   beyond the lines given are ignored. A byte whose lines differ from what
//   the lines hold is one GPIO_V2_LINE_SET_VALUES_IOCTL (mask: all lines);
//   an unchanged one makes no system call. inp32 answers the byte last
//   written with out32, whether or not it reached the lines.
// - A set that fails is said once; the newest byte is kept and tried again
//   from service(), at most once per retryInterval; while it fails, out32
//   makes no system call. A chip that went away (ENODEV) is requested anew on
//   such a try, which also finds it when it is back. Its success is said once.
// - At destruction the lines are driven off (a few tries) and the request is
//   deliberately NOT released: released lines fall back to their default,
//   and on an active-low module that switches every relay on. The
//   descriptor closes when the process ends (the kernel then releases the
//   lines). It is kept for the process: opening the same chip and lines
//   again takes the request over instead of failing on its own lines;
//   opening lines of that chip that overlap a kept request otherwise first
//   releases that request.
// - Nothing waits beyond the ioctls themselves, which return at once on a
//   chip in the processor and within the bus's own bounds on an expander.

#include "outputkind.h"
#include "portbackend.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio {

// Opens the output spec names (spec.kind is Gpio) for role; null and a reason
// for the user in whyNot when it cannot.
std::unique_ptr<PortBackend> openGpioRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);
// Appends one entry per GPIO chip found now. The lines of the relays cannot
// be known, so an entry's spec is "gpio:gpiochipN:" for the user to complete
// (it does not parse as it stands); its description says so.
void listGpioRelayOutputs(std::vector<OutputEntry> &entries);
// The chip and lines spec names, the same however the chip is named and
// whatever the order of the lines ("gpio:254:0:5,6,13" by the chip's device
// number); nothing with the reason when there is no such chip. Opens nothing.
std::optional<std::string> identifyGpioRelayOutput(const OutputSpec &spec, std::string &whyNot);
// The canonical SPEC of a GPIO output: "gpio:gpiochip0:17,27,active-low".
std::string gpioSpecText(const OutputSpec &spec);

// The kind: gpio:CHIP:L1,...,L8[,active-low].
extern const OutputKind gpioRelayKind;

// The system calls the backend makes, so that tests can put a model of the
// kernel behind it. Each behaves like the system call of the same name: -1
// and errno on failure.
class GpioCalls
{
public:
    virtual ~GpioCalls() = default;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;

    // The requests kept after their backends were destroyed (see above),
    // with the calls that made them, so that a model has its own.
    struct KeptRequest
    {
        std::string chip; // the device path
        std::vector<unsigned> lines;
        bool activeLow = false;
        int fd = -1;
    };
    std::vector<KeptRequest> keptRequests;
};

// The real system calls.
GpioCalls &systemGpioCalls();

struct GpioOptions
{
    std::chrono::milliseconds retryInterval{1000};
    int finalWriteAttempts = 3;
    // Receives each message as one line; null: notice(formatOutputSpec(spec), ...).
    std::function<void(const std::string &)> say;
};

// The same through calls; the lister looks for gpiochip* in devDir.
std::unique_ptr<PortBackend> openGpioRelayOutput(GpioCalls &calls, const GpioOptions &options,
                                                 const OutputSpec &spec, OutputRole role, std::string &whyNot);
void listGpioRelayOutputs(GpioCalls &calls, const std::string &devDir, std::vector<OutputEntry> &entries);

} // namespace portio
