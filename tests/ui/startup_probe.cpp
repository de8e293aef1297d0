#include "startup.h"

#include <QUrl>

// Runs the editor's start-up with the document given as the only argument.
int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    const QString url = QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])).toString();
    return Startup::runEditor(argc, argv, url);
}
