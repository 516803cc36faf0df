#pragma once
// The desk's state files, all inside one temporary directory.
#include "desk/core/desk.h"
#include "tempdir.h"

namespace quorvel::test {

inline DeskPaths PathsIn(const TempDir& dir) {
    DeskPaths p;
    p.configIni = dir.File("config.ini");
    p.dataDat = dir.File("Data.dat");
    p.orderList = dir.File("Orderlist.xml");
    p.notifications = dir.File("Notifications.txt");
    return p;
}

} // namespace quorvel::test
