#pragma once
// The order grid's model is the data grid's model over the display cursor.
#include "components/DataSetModel.h"

namespace quorvel {
using OrderListModel = DataSetModel;
} // namespace quorvel
