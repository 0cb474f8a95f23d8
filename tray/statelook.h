#pragma once
// How each agent state looks in the notification area: the icon's colour
// and the words of the status line and tooltip.

#include "agent/agentconfig.h"

#include <QColor>
#include <QIcon>
#include <QString>

namespace vek::agent {

struct StateLook {
    QColor colour;
    QString text;
};

// States outside the enumeration read as grey "Unknown".
StateLook stateLook(AgentState state);

// A filled circle with a darker rim on a transparent 64 by 64 square.
QIcon drawStateIcon(const QColor &colour);

}  // namespace vek::agent
