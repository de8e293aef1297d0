#include "startup.h"

int main(int argc, char *argv[])
{
    return Startup::runEditor(argc, argv, QStringLiteral("qrc:/main.qml"));
}
