// The choice of the pattern folder, the same on every platform; the
// platform files answer whether a folder is writable, where the data folder
// is and how it is created.

#include "patternfolder.h"

namespace patterns {

PatternFolder choosePatternFolder(const std::filesystem::path &programFolder,
                                  const std::filesystem::path &dataFolder)
{
    if (canCreateFilesIn(programFolder))
        return {programFolder, true, {}};
    if (dataFolder.empty())
        return {programFolder, false, std::make_error_code(std::errc::no_such_file_or_directory)};
    return {dataFolder, false, createDataFolder(dataFolder)};
}

PatternFolder patternFolderFor(const std::filesystem::path &programFolder)
{
    return choosePatternFolder(programFolder, userDataFolder());
}

} // namespace patterns
