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
    if (command == QLatin1String("keygen"))
        return runKeygen(args);
    if (command == QLatin1String("sign"))
        return runSign(args);
    QTextStream(stderr) << "usage: hotspot-package create DIR --version TEXT [--image PARTITION=FILE ...]\n"
                           "       hotspot-package verify [--keys DIR] DIR\n"
                           "       hotspot-package install [--allow-missing] [--keys DIR] PKGDIR [BUNDLE]\n"
                           "       hotspot-package keygen DIR\n"
                           "       hotspot-package sign PKGDIR --key KEY\n";
    return 2;
}
