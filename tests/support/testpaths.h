#pragma once
// The desk's state files, all inside one temporary directory.
#include "desk/core/desk.h"
#include "tempdir.h"

namespace quorvel::test {

inline DeskPaths PathsIn(const TempDir& dir) {
    return DeskPaths::In(dir.Path().string(), dir.Path().string());
}

} // namespace quorvel::test
