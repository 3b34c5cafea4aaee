// POSIX: a name is one path component without "/" or NUL; an entry whose
// name starts with "." is hidden.

#include "filerules.h"

#include <cerrno>

namespace patterns::filerules {

std::optional<std::string> nameRefusal(std::string_view typedName)
{
    // "\" is refused too: it separates folders on Windows, where the same
    // pattern folder may be copied to.
    if (typedName.find_first_of("/\\") != std::string_view::npos)
        return "Er darf kein \"/\" und kein \"\\\" enthalten, denn diese Zeichen trennen Ordner.";
    if (typedName.find('\0') != std::string_view::npos)
        return "Er darf kein Nullzeichen enthalten.";
    // Also covers "." and "..".
    if (!typedName.empty() && typedName.front() == '.')
        return "Ein Name, der mit \".\" beginnt, ergibt eine versteckte Datei, die die Dateiliste nicht "
               "zeigt.";
    return std::nullopt;
}

bool isHiddenEntry(const std::filesystem::path &, std::string_view name)
{
    return !name.empty() && name.front() == '.';
}

std::optional<std::string> platformReason(int error)
{
    if (error == EDQUOT)
        return "Der Speicherplatz, der diesem Benutzer zusteht, ist aufgebraucht.";
    return std::nullopt;
}

} // namespace patterns::filerules
