#include "app/applicationidentity.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    vek::app::ApplyApplicationIdentity(application);
    QTextStream(stdout) << application.applicationName() << ' ' << application.applicationVersion()
                        << '\n';
    return 0;
}
