// qvtp: packs a folder into a test package, unpacks one as the program
// installs it, and checks a package's manifest against its files.

#include "Qvtp.h"
#include "platform/AppSetup.h"

#include <QCoreApplication>

#include <iostream>

int main(int argc, char *argv[])
{
    // libarchive converts entry names only under a UTF-8 locale.
    platform::ensureUtf8Locale();
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return qvtp::run(args, std::cout, std::cerr);
}
