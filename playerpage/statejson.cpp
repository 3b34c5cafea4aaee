#include "statejson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace player {

namespace {

QJsonArray texts(const std::vector<std::string> &list)
{
    QJsonArray array;
    for (const std::string &text : list)
        array.append(QString::fromStdString(text));
    return array;
}

} // namespace

QByteArray stateJson(const Player::State &state, const std::optional<FollowView> &follow, bool passwordSet)
{
    QJsonObject object;
    // A double holds every version below 2^53: years of steps at 20 a second.
    object["version"] = double(state.version + (follow ? follow->changes : 0));
    object["protected"] = passwordSet;
    if (follow) {
        object["lamps"] = follow->lamps;
        object["follow"] = QJsonObject {{"source", QString::fromStdString(follow->source)},
                                        {"sender", QString::fromStdString(follow->sender)}};
        return QJsonDocument(object).toJson(QJsonDocument::Compact);
    }
    object["lamps"] = state.lamps;
    object["follow"] = QJsonValue::Null;
    object["running"] = state.running;
    object["progress"] = state.progress;
    object["firstStep"] = state.firstStep;
    object["lastStep"] = state.lastStep;
    object["stepTimePosition"] = state.stepTimePosition;
    object["stepTimes"] = texts(Player::stepTimes());
    object["intervalMs"] = state.intervalMs;
    QJsonArray rows;
    for (const auto &channel : state.cells) {
        QJsonArray row;
        for (const std::int16_t value : channel)
            row.append(value);
        rows.append(row);
    }
    object["cells"] = rows;
    object["pattern"] = QString::fromStdString(state.pattern);
    object["patterns"] = texts(state.patterns);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace player
