#pragma once
// EA messages handed straight to a desk core, as the link would hand them.
#include "desk/core/desk.h"

namespace quorvel::test {

inline int32_t SendTo(Desk& desk, int32_t msg, int32_t wparam, int32_t lparam = 0) {
    TMessage m{msg, wparam, lparam, 0};
    desk.Dispatch(m);
    return m.Result;
}

// One complete quote of EA `id`: bid, ask, data complete.
inline void QuoteTo(Desk& desk, int id, int32_t bid, int32_t ask) {
    SendTo(desk, EAMsg::NewDataBid, id, bid);
    SendTo(desk, EAMsg::NewDataAsk, id, ask);
    SendTo(desk, EAMsg::DataComplete, id);
}

} // namespace quorvel::test
