// The program icon, drawn at 32 x 32 and 16 x 16 in 16 colours.
#pragma once

#include <QIcon>

QIcon LoadPanelIcon();
