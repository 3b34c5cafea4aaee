#include "commands.h"

#include "steptime.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <vector>

namespace player {

namespace {

struct Field
{
    const char *name;
    enum Type { Whole, Text } type;
    int min = 0; // Whole: the range
    int max = 0;
    int Command::*whole = nullptr;
};

struct Route
{
    std::string_view path;
    Command::Kind kind;
    std::vector<Field> fields;
};

const std::vector<Route> &routes()
{
    static const int lastPosition = int(sequencer::StepTimeTable.size()) - 1;
    static const std::vector<Route> table = {
        {"/api/start", Command::Kind::Start, {}},
        {"/api/stop", Command::Kind::Stop, {}},
        {"/api/cell", Command::Kind::Cell,
         {{"channel", Field::Whole, 1, 8, &Command::channel}, {"step", Field::Whole, 1, 20, &Command::step}}},
        {"/api/first", Command::Kind::FirstStep, {{"step", Field::Whole, 1, 20, &Command::step}}},
        {"/api/last", Command::Kind::LastStep, {{"step", Field::Whole, 1, 20, &Command::step}}},
        {"/api/step-time", Command::Kind::StepTime,
         {{"position", Field::Whole, 0, lastPosition, &Command::position}}},
        {"/api/load", Command::Kind::Load, {{"name", Field::Text}}},
        {"/api/save", Command::Kind::Save, {{"name", Field::Text}}},
        {"/api/login", Command::Kind::Login, {{"password", Field::Text}}},
    };
    return table;
}

Refusal refusal(std::string text)
{
    return {400, std::move(text)};
}

// A field's name as a refusal quotes it: at most 40 characters.
std::string quoted(const QString &name)
{
    const QString shown = name.size() > 40 ? name.left(40) + QStringLiteral("…") : name;
    return "„" + shown.toStdString() + "“";
}

} // namespace

std::optional<Command::Kind> commandAt(std::string_view path)
{
    for (const Route &route : routes())
        if (route.path == path)
            return route.kind;
    return std::nullopt;
}

std::variant<Command, Refusal> decodeCommand(Command::Kind kind, std::string_view body)
{
    const Route *route = nullptr;
    for (const Route &candidate : routes())
        if (candidate.kind == kind)
            route = &candidate;
    Command command;
    command.kind = kind;

    QJsonObject object;
    if (!(body.empty() && route->fields.empty())) {
        QJsonParseError error {};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray(body.data(), qsizetype(body.size())), &error);
        if (error.error != QJsonParseError::NoError)
            return refusal("Die Anfrage ist kein gültiges JSON.");
        if (!document.isObject())
            return refusal("Die Anfrage muss ein JSON-Objekt sein.");
        object = document.object();
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const bool known = std::any_of(route->fields.begin(), route->fields.end(),
                                       [&](const Field &field) { return it.key() == QLatin1String(field.name); });
        if (!known)
            return refusal("Das Feld " + quoted(it.key()) + " gibt es hier nicht.");
    }
    for (const Field &field : route->fields) {
        const QString name = QString::fromLatin1(field.name);
        const QJsonValue value = object.value(name);
        if (value.isUndefined())
            return refusal("Das Feld " + quoted(name) + " fehlt.");
        if (field.type == Field::Text) {
            if (!value.isString())
                return refusal("Das Feld " + quoted(name) + " muss ein Text sein.");
            std::string text = value.toString().toStdString();
            if (text.size() > MaxTextBytes)
                return refusal("Das Feld " + quoted(name) + " ist zu lang (höchstens "
                               + std::to_string(MaxTextBytes) + " Bytes).");
            command.text = std::move(text);
            continue;
        }
        const double number = value.isDouble() ? value.toDouble() : NAN;
        if (!std::isfinite(number) || number != std::floor(number))
            return refusal("Das Feld " + quoted(name) + " muss eine ganze Zahl sein.");
        if (number < field.min || number > field.max)
            return refusal("Das Feld " + quoted(name) + " muss zwischen " + std::to_string(field.min) + " und "
                           + std::to_string(field.max) + " liegen.");
        command.*field.whole = int(number);
    }
    return command;
}

} // namespace player
