#include "desk/core/forgotten.h"
