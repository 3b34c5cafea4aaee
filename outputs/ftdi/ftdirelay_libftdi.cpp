// FtdiCalls through libftdi1 (and libusb beneath it) on Linux, and the
// kind's functions over them. The list of boards is read from sysfs and
// usbfs's permissions: listing opens no device and sends no request.
//
// Each search and each open board has a libftdi context of its own, and so
// a libusb context of its own: a new context lists the devices present now,
// also where no udev daemon tells a long-lived one of new devices.

#include "ftdirelay.h"

#include "ftdikind.h"
#include "portbackend.h"

#include <ftdi.h>
#include <libusb.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <utility>

namespace portio {

namespace {

constexpr int VendorId = 0x0403;
constexpr int ProductId = 0x6001;
// libftdi's timeouts for every transfer, in ms (its default is 5 s).
constexpr int TimeoutMs = 1000;

ftdi_context *newContext()
{
    ftdi_context *ftdi = ftdi_new();
    if (ftdi) {
        ftdi->usb_read_timeout = TimeoutMs;
        ftdi->usb_write_timeout = TimeoutMs;
    }
    return ftdi;
}

// "BUS-PORT.PORT...", as the kernel names the device in /sys/bus/usb/devices.
std::string locationOf(libusb_device *device)
{
    std::uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, static_cast<int>(sizeof ports));
    std::string text = std::to_string(libusb_get_bus_number(device)) + "-";
    for (int i = 0; i < count; ++i)
        text += (i ? "." : "") + std::to_string(ports[i]);
    return count > 0 ? text : text + "0";
}

// A string the kernel keeps for the device in sysfs, readable by everyone
// and read without a request to the device; false where there is none.
bool systemString(const std::string &location, const char *name, std::string &value)
{
    std::ifstream file("/sys/bus/usb/devices/" + location + "/" + name);
    return file && std::getline(file, value);
}

// Whether the device's usbfs node exists but this user may not open it for
// reading and writing (libusb would fail with LIBUSB_ERROR_ACCESS).
bool accessDenied(libusb_device *device)
{
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(device)),
                  unsigned(libusb_get_device_address(device)));
    return ::access(node, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

struct Found
{
    ftdi_context *ftdi = nullptr;
    ftdi_device_list *list = nullptr;

    Found() : ftdi(newContext())
    {
        if (ftdi && ftdi_usb_find_all(ftdi, &list, VendorId, ProductId) < 0)
            list = nullptr;
    }
    ~Found()
    {
        if (list)
            ftdi_list_free(&list);
        if (ftdi)
            ftdi_free(ftdi);
    }
    // The context, no longer freed here; the device list is.
    ftdi_context *release()
    {
        if (list)
            ftdi_list_free(&list);
        return std::exchange(ftdi, nullptr);
    }
    Found(const Found &) = delete;
    Found &operator=(const Found &) = delete;
};

struct Board
{
    ftdi_context *ftdi;
    bool claimed;
};

class LibFtdiCalls final : public FtdiCalls
{
public:
    std::vector<Device> enumerate() override
    {
        std::vector<Device> devices;
        Found found;
        for (ftdi_device_list *entry = found.list; entry; entry = entry->next) {
            Device device;
            device.location = locationOf(entry->dev);
            std::string vendor;
            if (!systemString(device.location, "idVendor", vendor))
                continue; // gone since the list was made
            systemString(device.location, "serial", device.serial);
            systemString(device.location, "product", device.product);
            device.denied = accessDenied(entry->dev);
            devices.push_back(device);
        }
        return devices;
    }

    Handle open(const std::string &location, Access access, std::string &error, bool &denied) override
    {
        denied = false;
        // The board keeps the context its device was found in: a libusb
        // handle lives in the context of its device.
        Found found;
        libusb_device *device = nullptr;
        for (ftdi_device_list *entry = found.list; entry && !device; entry = entry->next)
            if (locationOf(entry->dev) == location)
                device = entry->dev;
        if (!found.ftdi || !device) {
            error = found.ftdi ? "the board is gone" : "libftdi cannot start";
            return nullptr;
        }
        // libusb tells a missing permission apart; libftdi's open does not.
        libusb_device_handle *handle = nullptr;
        const int opened = libusb_open(device, &handle);
        if (opened < 0) {
            denied = opened == LIBUSB_ERROR_ACCESS;
            error = libusb_strerror(static_cast<libusb_error>(opened));
            return nullptr;
        }
        if (access == Access::Watch) {
            ftdi_set_usbdev(found.ftdi, handle);
            return new Board {found.release(), false};
        }
        libusb_close(handle);
        const int result = ftdi_usb_open_dev(found.ftdi, device);
        if (result < 0) {
            error = result == -5 ? "the board is in use by another program" : ftdi_get_error_string(found.ftdi);
            denied = result == -8;
            return nullptr;
        }
        return new Board {found.release(), true};
    }

    int setBitmode(Handle device, std::uint8_t mask, std::uint8_t mode) override
    {
        return ftdi_set_bitmode(board(device)->ftdi, mask, mode);
    }

    int writeData(Handle device, const std::uint8_t *data, int size) override
    {
        return ftdi_write_data(board(device)->ftdi, data, size);
    }

    int readPins(Handle device, std::uint8_t &pins) override
    {
        return ftdi_read_pins(board(device)->ftdi, &pins);
    }

    void close(Handle device) override
    {
        Board *open = board(device);
        if (!open)
            return;
        if (open->claimed)
            ftdi_usb_close(open->ftdi);
        ftdi_free(open->ftdi); // closes a watching handle too
        delete open;
    }

    std::string lastError(Handle device) override
    {
        const char *text = board(device) ? ftdi_get_error_string(board(device)->ftdi) : nullptr;
        return text ? text : "unknown error";
    }

private:
    static Board *board(Handle device) { return static_cast<Board *>(device); }
};

LibFtdiCalls &systemFtdiCalls()
{
    static LibFtdiCalls calls;
    return calls;
}

} // namespace

void listFtdiOutputs(std::vector<OutputEntry> &entries)
{
    listFtdiRelays(systemFtdiCalls(), entries);
}

std::optional<std::string> identifyFtdiOutput(const OutputSpec &spec, std::string &whyNot)
{
    return identifyFtdiRelay(systemFtdiCalls(), spec, whyNot);
}

std::unique_ptr<PortBackend> openFtdiOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openFtdiRelay(systemFtdiCalls(), spec, role, whyNot);
}

} // namespace portio
