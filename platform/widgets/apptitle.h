#pragma once
// The application title: it titles every message box of the desk.
#include <QString>

namespace quorvel {

QString ApplicationTitle();

} // namespace quorvel
