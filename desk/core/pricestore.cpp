#include "desk/core/pricestore.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace quorvel {

namespace {
int Lo(int id) {
    return std::max(id, 1);
}
int Hi(int id) {
    return std::min(id, kMaxEAs);
}

template <class T> void PutArray(std::string& out, const EAArray<T>& a) {
    for (int id = 1; id <= kMaxEAs; ++id) {
        unsigned char b[sizeof(T)];
        std::memcpy(b, &a[id], sizeof(T)); // the machine is little-endian, as the file is
        out.append(reinterpret_cast<const char*>(b), sizeof(T));
    }
}

template <class T> void GetArray(std::string_view& in, EAArray<T>& a) {
    for (int id = 1; id <= kMaxEAs && in.size() >= sizeof(T); ++id) {
        std::memcpy(&a[id], in.data(), sizeof(T));
        in.remove_prefix(sizeof(T));
    }
    // A partial entry at the end is not applied.
    if (in.size() < sizeof(T)) in = {};
}
} // namespace

static_assert(std::endian::native == std::endian::little, "Data.dat is written in host order");

void PriceStore::ResetQuotes(int iIDStart, int iIDEnd) {
    for (int id = Lo(iIDStart); id <= Hi(iIDEnd); ++id) {
        Accounts[id] = kNoAccount;
        Time[id] = kNoTime;
        Bid[id] = kNoPoints;
        Ask[id] = kNoPoints;
        Spread[id] = kNoPoints;
    }
}

void PriceStore::ResetMin(int iIDStart, int iIDEnd) {
    for (int id = Lo(iIDStart); id <= Hi(iIDEnd); ++id) {
        Min[id] = kNoPoints;
        MinAsk[id] = kNoPoints;
        MinBid[id] = kNoPoints;
        TimeMin[id] = kNoTime;
    }
}

std::string PriceStore::Serialize() const {
    std::string out;
    out.reserve(kDataDatSize);
    PutArray(out, Accounts);
    PutArray(out, Spread);
    PutArray(out, Time);
    PutArray(out, Bid);
    PutArray(out, Ask);
    PutArray(out, Min);
    PutArray(out, TimeMin);
    PutArray(out, MinBid);
    PutArray(out, MinAsk);
    return out;
}

void PriceStore::Deserialize(std::string_view in) {
    GetArray(in, Accounts);
    GetArray(in, Spread);
    GetArray(in, Time);
    GetArray(in, Bid);
    GetArray(in, Ask);
    GetArray(in, Min);
    GetArray(in, TimeMin);
    GetArray(in, MinBid);
    GetArray(in, MinAsk);
}

} // namespace quorvel
