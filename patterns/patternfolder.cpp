// The choice of the pattern folder, the same on every platform; the
// platform files answer whether a folder is writable, where the data folder
// and the install folders are, and how the data folder is created.

#include "patternfolder.h"

namespace fs = std::filesystem;

namespace patterns {

bool isInstalledIn(const fs::path &programFolder, const InstallFolders &places)
{
    if (programFolder.empty())
        return false;
    fs::path candidate = programFolder.lexically_normal();
    for (;;) {
        for (const fs::path &folder : places.folders)
            if (isSameFolder(candidate, folder))
                return true;
        if (!places.withSubfolders)
            return false;
        fs::path parent = candidate.parent_path();
        if (parent.empty() || parent == candidate)
            return false;
        candidate = std::move(parent);
    }
}

PatternFolder choosePatternFolder(const fs::path &programFolder, const fs::path &dataFolder, bool installed)
{
    if (!installed && canCreateFilesIn(programFolder))
        return {programFolder, true};
    return {dataFolder, false};
}

PatternFolder patternFolderFor(const fs::path &programFolder)
{
    return choosePatternFolder(programFolder, userDataFolder(), isInstalledIn(programFolder, installFolders()));
}

std::error_code preparePatternFolder(const PatternFolder &folder)
{
    if (folder.beside)
        return {};
    return createDataFolder(folder.folder);
}

} // namespace patterns
