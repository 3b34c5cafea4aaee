#pragma once
// An FTDI bit-bang relay board emulated as a USB gadget: configfs makes a
// device 0403:6001 (bcdDevice 0x0600, an FT245R) with one FunctionFS
// function, bound to the first UDC (dummy_hcd's, whose host side is on the
// same machine), and this object serves it from threads of its own:
//
//   ep0       the vendor requests libftdi and ftdi_sio send: reset, baud
//             rate, data and flow settings, latency timer (set and get),
//             set bitmode, read pins, poll modem status, read EEPROM (all
//             zero); any other request is stalled
//   bulk OUT  in bit-bang mode each byte sets the output pins
//   bulk IN   the two modem-status bytes (0x01 0x60) whenever the host reads
//
// The pins: outputs (the bitmode's mask) hold the last byte written in
// bit-bang mode, the others the levels the board's circuit gives them
// (0 unless set). Plugged in again, the chip starts out of bit-bang mode.
// Needs root, configfs, libcomposite, usb_f_fs and a UDC: CTest runs it in
// tools/kernel-vm.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace portio::fakes {

class FtdiBoard
{
public:
    // serial empty: a board without a serial string.
    explicit FtdiBoard(std::string serial, std::string product = "FT245R USB FIFO");
    ~FtdiBoard();

    // Plugs the board in (the first time the gadget is made) and waits until
    // the host has its device node; pulls it out and waits until the host
    // has let go of it.
    bool plugIn(std::string &error);
    void pullOut();
    // A board that stops answering: no request answered, nothing read from
    // OUT, nothing sent on IN; false resumes.
    void hang(bool hung);
    // The chip leaves bit-bang mode without leaving the bus (a reset).
    void leaveBitbang();
    void setInputs(std::uint8_t levels) { m_inputs = levels; }

    std::uint8_t pins() const;
    bool bitbang() const { return m_bitbang; }
    // The bytes received on OUT since the last call.
    std::vector<std::uint8_t> takeWrites();
    // Waits up to timeout for the pins to hold value.
    bool waitForPins(std::uint8_t value, std::chrono::milliseconds timeout) const;
    // The host's name of the device's port ("1-1"), empty while out.
    std::string location() const;

private:
    bool makeGadget(std::string &error);
    void removeGadget();
    void startThreads();
    void stopThreads();
    void serveControl();
    void serveOut();
    void serveIn();
    void setup(const void *request);
    // Waits until every thread has parked (hung) or ended (stopping).
    void nudgeUntil(const std::atomic<int> &count, int wanted);

    std::string m_serial;
    std::string m_product;
    std::string m_gadget;  // the configfs folder
    std::string m_mount;   // the FunctionFS mount
    std::string m_udc;
    int m_ep0 = -1;
    int m_in = -1;
    int m_out = -1;
    bool m_made = false;
    bool m_plugged = false;
    std::vector<std::thread> m_threads;
    std::atomic<bool> m_stop {false};
    std::atomic<bool> m_hung {false};
    std::atomic<int> m_parked {0};
    std::atomic<int> m_ended {0};
    std::atomic<bool> m_bitbang {false};
    std::atomic<std::uint8_t> m_mask {0};
    std::atomic<std::uint8_t> m_latch {0};
    std::atomic<std::uint8_t> m_inputs {0};
    std::atomic<std::uint8_t> m_latency {16};
    std::mutex m_mutex;
    std::vector<std::uint8_t> m_writes;
};

} // namespace portio::fakes
