#include "statelook.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace vek::agent {

namespace {
QString Text(const char *text)
{
    return QCoreApplication::translate("vek::agent::AgentTray", text);
}
}  // namespace

StateLook stateLook(AgentState state)
{
    switch (state) {
    case AgentState::NotConfigured:
    case AgentState::NotEnrolled:
        return { QColor(217, 119, 6), Text("Not set up yet") };
    case AgentState::Connecting:
        return { QColor(100, 116, 139), Text("Connecting…") };
    case AgentState::Ready:
        return { QColor(22, 163, 74), Text("Printing is ready") };
    case AgentState::Printing:
        return { QColor(37, 99, 235), Text("Printing…") };
    case AgentState::SignedOut:
        return { QColor(220, 38, 38), Text("This workstation was signed out") };
    case AgentState::Unreachable:
        return { QColor(220, 38, 38), Text("Cannot reach the clinic") };
    }
    return { QColor(100, 116, 139), Text("Unknown") };
}

QIcon drawStateIcon(const QColor &colour)
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(colour);
    painter.setPen(QPen(colour.darker(140), 4, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawEllipse(QRect(8, 8, 48, 48));
    painter.end();
    return QIcon(QPixmap::fromImage(image));
}

}  // namespace vek::agent
