// A bare Qt tray program showing the agent's green icon and nothing else:
// the floor against which the idle agent is measured (tools/bench.sh idle).

#include "tray/statelook.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QSystemTrayIcon icon(vek::agent::drawStateIcon(QColor(22, 163, 74)));
    icon.setToolTip("Printing is ready");
    icon.show();
    return application.exec();
}
