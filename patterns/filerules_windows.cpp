// Windows: a file name may hold none of \ / : * ? " < > | nor a control
// character (":" would name an alternate data stream of another file), and
// its part before the first dot, trailing blanks ignored, may not be a
// device name such as CON or LPT1. An entry is hidden when it carries the
// hidden or the system attribute.

#include "filerules.h"

#include <windows.h>

#include <array>

namespace patterns::filerules {

namespace {

char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiUpper(a[i]) != asciiUpper(b[i]))
            return false;
    return true;
}

// The device names in upper case; "\xC2\xB9" to "\xC2\xB3" are the
// superscript digits one to three, which Windows treats like 1 to 3.
bool isDeviceName(std::string_view base)
{
    static constexpr std::array<std::string_view, 4> plain = {"CON", "PRN", "AUX", "NUL"};
    for (std::string_view device : plain)
        if (equalsIgnoringAsciiCase(base, device))
            return true;
    for (std::string_view prefix : {std::string_view("COM"), std::string_view("LPT")}) {
        if (base.size() < 4 || !equalsIgnoringAsciiCase(base.substr(0, 3), prefix))
            continue;
        const std::string_view number = base.substr(3);
        if (number.size() == 1 && number[0] >= '0' && number[0] <= '9')
            return true;
        if (number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3")
            return true;
    }
    return false;
}

} // namespace

std::optional<std::string> nameRefusal(std::string_view typedName)
{
    for (char c : typedName)
        if (static_cast<unsigned char>(c) < 0x20)
            return "Er darf keine Steuerzeichen enthalten.";
    if (typedName.find_first_of("\\/:*?\"<>|") != std::string_view::npos)
        return "Er darf keines der Zeichen \\ / : * ? \" < > | enthalten; Windows erlaubt sie in "
               "Dateinamen nicht.";
    // The saved name always carries ".bw2", so the device test looks at the
    // part before the first dot of the typed name, as Windows does.
    std::string_view base = typedName.substr(0, typedName.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    if (isDeviceName(base)) {
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
        // a literal + std::string + literal here.
        std::string refusal = "\"";
        refusal += base;
        refusal += "\" ist unter Windows der Name eines Geräts und kann keine Datei benennen, auch nicht mit "
                   "einer Endung.";
        return refusal;
    }
    return std::nullopt;
}

bool isHiddenEntry(const std::filesystem::path &path, std::string_view)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES
           && (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
}

std::optional<std::string> platformReason(int)
{
    return std::nullopt;
}

} // namespace patterns::filerules
