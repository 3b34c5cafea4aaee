#include "childprocess.h"

#include <map>
#include <string_view>

namespace testsupport {

namespace {

constexpr std::string_view ChildOption = "--blinkwerk-test-child=";

std::map<std::string, std::function<int()>> &bodies()
{
    static std::map<std::string, std::function<int()>> registered;
    return registered;
}

} // namespace

ChildBody::ChildBody(std::string name, std::function<int()> body)
{
    bodies().emplace(std::move(name), std::move(body));
}

std::optional<int> runAsChildIfAsked(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, ChildOption.size()) != ChildOption)
            continue;
        const auto found = bodies().find(std::string(arg.substr(ChildOption.size())));
        return found == bodies().end() ? 127 : found->second();
    }
    return std::nullopt;
}

std::string childArgument(const std::string &name)
{
    return std::string(ChildOption) + name;
}

} // namespace testsupport
