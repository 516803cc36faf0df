#pragma once
// Reading a whole cursor in a test without moving it for good.
#include <string>
#include <vector>

#include "platform/clientdataset.h"

namespace quorvel::test {

// The integer values of `field`, record by record in the cursor's order; the cursor ends on the
// record it stood on.
inline std::vector<int> Walk(ClientDataSet& ds, const std::string& field) {
    std::vector<int> out;
    const Bookmark b = ds.GetBookmark();
    for (ds.First(); !ds.Eof(); ds.Next()) out.push_back(ds.FieldByName(field).AsInteger());
    ds.GotoBookmark(b);
    return out;
}

} // namespace quorvel::test
