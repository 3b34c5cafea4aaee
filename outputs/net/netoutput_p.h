#pragma once
// Inside the network outputs: the pieces the sender, the listener and the
// opener share. Needs Qt Network.

#include "netoutput.h"

#include <QHostAddress>
#include <QList>

#include <cstdint>
#include <memory>
#include <string>

namespace portio {

struct OutputSpec;

// The sACN multicast group of a universe: 239.255.hi.lo.
QHostAddress sacnGroup(int universe);

// The UDP port the protocol uses in this process.
std::uint16_t netPort(NetProtocol protocol);

// One kind of fault of one output: said once on standard error when it
// starts (or changes), once when it ends.
class FaultNotice
{
public:
    explicit FaultNotice(std::string source) : m_source(std::move(source)) {}
    // fault empty: no fault (any more); then recovered is said if there was one.
    void report(const std::string &fault, const std::string &recovered);
    bool active() const { return !m_fault.empty(); }

private:
    std::string m_source;
    std::string m_fault;
};

// A host name looked up on a thread of its own, so that nobody waits for a
// resolver longer than they choose to. The thread may outlive the object.
class HostLookup
{
public:
    explicit HostLookup(std::string host);
    // Waits up to timeoutMs for the answer; true when there is one.
    bool wait(int timeoutMs);
    // The IPv4 addresses found (empty: unknown host), once the answer is in.
    QList<QHostAddress> addresses() const;
    std::string error() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
};

std::unique_ptr<PortBackend> makeNetSender(NetProtocol protocol, const OutputSpec &spec, const QByteArray &cid);
std::unique_ptr<PortBackend> makeNetListener(NetProtocol protocol, const OutputSpec &spec);

} // namespace portio
