#include "dialogfont.h"
#include "patternfile.h"
#include "patternfolder.h"
#include "programm.h"
#include "termination.h"

#include "precisetimers.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>

int main(int argc, char *argv[])
{
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    QApplication::setApplicationName("blinkwerk");
    QApplication::setApplicationVersion("2.10");
    QApplication::setFont(blinkwerk::dialogFont());
    QApplication::setWindowIcon(QIcon(":/blinkwerk/icon.png"));
    // Beside the program while the user may write there, else the user's
    // data folder; a folder that cannot be created is said once here, and
    // each save into it reports its own failure.
    const patterns::PatternFolder patternFolder = patterns::patternFolderFor(
        patterns::pathFromUtf8(QCoreApplication::applicationDirPath().toStdString()));
    if (patternFolder.createError)
        std::fprintf(stderr, "Patterns: cannot create %s: %s\n", patterns::utf8FromPath(patternFolder.folder).c_str(),
                     patternFolder.createError.message().c_str());
    Programm window(patternFolder.folder);
    blinkwerk::closeOnTerminationRequest(&window);
    window.show();
    return QApplication::exec();
}
