#pragma once
// What the page is told of the player: one JSON object, the whole state,
// sent by GET /api/state, after each command and through the WebSocket.
//
//   version           grows with every change (steps included); a page
//                     shows a state only when it is newer than the one shown
//   protected         whether a password guards the page
//   lamps             the byte last output, bit k for lamp k + 1
//   follow            null, or {"source": "sacn:1", "sender": "..."} while
//                     the player follows a universe; then nothing below
//   running, progress the transport and the step last output (1 to 20)
//   firstStep, lastStep, stepTimePosition (-1: none), stepTimes, intervalMs
//   cells             8 rows (channel 1 first) of 20 values: 0 off, 1 on,
//                     2 greyed
//   pattern, patterns the file last loaded or saved ("" for none), the list
//
// Names from the file system that are not UTF-8 come out with U+FFFD.

#include "player.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <string>

namespace player {

struct FollowView
{
    std::string source;
    std::string sender;
    std::uint8_t lamps = 0;
    std::uint64_t changes = 0; // counted by the page: added to the version
};

QByteArray stateJson(const Player::State &state, const std::optional<FollowView> &follow, bool passwordSet);

} // namespace player
