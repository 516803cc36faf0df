#pragma once
// The temporary folder, for the end-to-end tests that include it from here.
#include "tests/support/tempdir.h"
