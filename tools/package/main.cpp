// hotspot-package: builds (and checks) the firmware package that travels in the bundle.

#include "Commands.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("hotspot-package"));
    QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("create"))
        return runCreate(args);
    if (command == QLatin1String("verify"))
        return runVerify(args);
    if (command == QLatin1String("install"))
        return runInstall(args);
    QTextStream(stderr) << "usage: hotspot-package create DIR --version TEXT [--image PARTITION=FILE ...]\n"
                           "       hotspot-package verify DIR\n"
                           "       hotspot-package install [--allow-missing] PKGDIR [BUNDLE]\n";
    return 2;
}
