#pragma once
// The desk's settings that live outside the controls: read from config.ini at start-up (and
// the connection timeout whenever its box changes), held by the desk and read by its parts.
#include "desk/core/crossspreads.h"

namespace quorvel {

struct DeskSettings : QuoteLimits {
    // The highest valid EA ID: ten for each of the "Tables", 200 at most.
    int maxIDs = 0;
    int autoSaveMinutes = 3;
    // "Reset AT" gives the auto trade this many credits.
    int maxAutoTrades = 0;
    int autoTradeInterval = 0;
    // The pause of an EA pair after a trigger, in milliseconds.
    int combinationPauseMS = 0;
    // Close triggers of an EA pair within one closing window, and the window's length.
    int simultaneousClosing = 0;
    double closingPauseSeconds = 0.0;
};

} // namespace quorvel
