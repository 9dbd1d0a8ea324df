#pragma once
// The agent's icon for its windows and the notification area: the same picture as the
// desktop entry's packaging/perimo.svg (a screen with a trend line on a stand), drawn here so
// no image plugin is needed.
#include <QIcon>

namespace perimo {

QIcon AgentIcon();

}  // namespace perimo
