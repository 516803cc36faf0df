#pragma once
#include <QWidget>

#include "desk/core/controls.h"
