#pragma once
// Lets the user edit a queue's driver settings, the way the system offers:
// the driver's own settings dialog where drivers have one, otherwise an
// options sheet built from what the queue says it supports.

#include <QByteArray>
#include <QString>

class QWidget;

namespace vek::printing::ui {

// The edited settings block, starting from seed (empty: the driver's
// defaults). Empty when the user cancelled or the driver failed.
QByteArray EditDriverSettings(QWidget *owner, const QString &systemName, const QByteArray &seed);

}  // namespace vek::printing::ui
