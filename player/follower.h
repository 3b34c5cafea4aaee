#pragma once
// A node of a show on many boxes: the byte comes from a network universe
// (sacn: or artnet:) instead of a pattern, and goes to this box's output.
//
// What it holds: an output session of the monitor's role on the universe,
// which listens by the listener's rules (the source of the highest priority,
// the sequence, "kein Sender" once nothing came for 2.5 s, when the byte
// shown is 0). Every change of that byte is written at once through LptOut
// to the program's own output, from the listener's thread (the output
// session takes it without waiting). It binds at construction and never
// blocks afterwards. changed() comes on the follower's thread.

#include "outputsession.h"

#include <QObject>

#include <atomic>
#include <string>

namespace player {

class Follower : public QObject
{
    Q_OBJECT
public:
    // network: a sacn: or artnet: output (checked by the program).
    explicit Follower(const portio::OutputSpec &network, QObject *parent = nullptr);
    ~Follower() override;

    // The universe it listens to, as a SPEC.
    std::string source() const;
    std::uint8_t lamps() const;
    // What the listener says of its sender: "Sender: NAME", "kein Sender",
    // "kein Empfang".
    std::string sender() const;

signals:
    void changed();

private:
    void received();

    portio::OutputSession m_listener;
    std::atomic<bool> m_changePending {false};
};

} // namespace player
