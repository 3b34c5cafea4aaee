#include "outputkind.h"

#include <algorithm>

namespace portio {

OutputRegistry::OutputRegistry(std::vector<const OutputKind *> kinds)
    : m_kinds(std::move(kinds))
{
}

const OutputKind *OutputRegistry::find(std::string_view name) const
{
    const std::string wanted = spectext::lower(name);
    const auto row = std::find_if(m_kinds.begin(), m_kinds.end(), [&](const OutputKind *k) { return k->name == wanted; });
    return row == m_kinds.end() ? nullptr : *row;
}

std::optional<OutputSpec> OutputRegistry::parse(std::string_view text, std::string &error) const
{
    const auto colon = text.find(':');
    const OutputKind *kind = find(text.substr(0, colon));
    if (!kind) {
        error = "unknown output \"" + std::string(text.substr(0, colon)) + "\" (" + names() + ")";
        return std::nullopt;
    }
    OutputSpec spec;
    spec.kind = std::string(kind->name);
    if (!kind->parse(colon == std::string_view::npos ? std::string_view{} : text.substr(colon), spec, error))
        return std::nullopt;
    return spec;
}

std::string OutputRegistry::format(const OutputSpec &spec) const
{
    const OutputKind *kind = find(spec.kind);
    return kind ? std::string(kind->name) + kind->format(spec) : spec.kind;
}

std::vector<OutputEntry> OutputRegistry::list() const
{
    std::vector<OutputEntry> entries;
    for (const OutputKind *kind : m_kinds)
        if (kind->list)
            kind->list(entries);
    return entries;
}

std::string OutputRegistry::names() const
{
    std::string text;
    for (const OutputKind *kind : m_kinds) {
        if (!text.empty())
            text += ", ";
        text += std::string(kind->name) + (kind->syntax.size() > kind->name.size() && kind->syntax[kind->name.size()] == ':' ? ":" : "");
    }
    return text;
}

} // namespace portio
