// Orderlist.xml: whatever the packet reader takes must save and load back equal, through a
// cursor of its own and through the desk's order-list cursors; whatever it refuses is refused
// with its own error, and the desk then keeps the file under another name.
#include <string>

#include "desk/core/orderlist.h"
#include "fuzz/support.h"
#include "fuzz/targets.h"
#include "platform/files.h"

namespace quorvel::fuzz {

namespace {

// Reads every field of every record, as value and as shown text.
void ReadAll(ClientDataSet& ds) {
    for (ds.First(); !ds.Eof(); ds.Next())
        for (const auto& f : ds.Fields()) {
            (void)f->Value();
            (void)f->AsString();
            (void)f->DisplayText();
        }
}

struct OrderListRig {
    Scratch scratch{"orderlist"};
    DeskRig rig{scratch, 1};
};

} // namespace

int FuzzOrderList(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);

    // A cursor of its own: every column of the packet.
    std::string saved;
    int records = 0;
    {
        ClientDataSet ds;
        bool loaded = false;
        try {
            ds.LoadFromString(input);
            loaded = true;
        } catch (const DataSetError&) {
            Check(!ds.Active(), "a packet that failed to load left the cursor open");
        }
        if (loaded) {
            records = ds.RecordCount();
            ReadAll(ds);
            saved = ds.SaveToString();
            ClientDataSet back;
            try {
                back.LoadFromString(saved);
            } catch (const DataSetError&) {
                Check(false, "a saved packet does not load back");
            }
            Check(back.RecordCount() == records, "the reloaded packet has another record count");
            Check(back.FieldDefs().size() == ds.FieldDefs().size(), "the reloaded packet has other fields");
            Check(back.SaveToString() == saved, "the reloaded packet saves differently");
        }
    }

    // The desk's cursors, through the file.
    static OrderListRig* r = new OrderListRig; // lives to the end of the process
    Desk& desk = *r->rig.desk;
    r->rig.view.Reset();
    r->scratch.Clear("config.ini");
    r->scratch.Write("Orderlist.xml", input);
    desk.orders.CloseOrderList();
    desk.orders.OpenOrderList();
    const bool shownFailure = !r->rig.view.messageBoxes.empty();
    Check(shownFailure == r->rig.view.terminated, "a failed load must say so and end");
    if (shownFailure) {
        // Set aside: the name is free for the empty list, and the bytes are kept.
        Check(!FileExists(r->scratch.File("Orderlist.xml")),
              "the file that failed to load is still in place");
        Check(desk.orders.m_CDSOrderliste.Active() && desk.orders.m_CDSOrderliste.IsEmpty(),
              "the desk has no empty list");
    } else {
        Check(!saved.empty(), "the desk took a packet its reader refuses");
        Check(desk.orders.m_CDSOrderliste.RecordCount() == records,
              "the desk's list has another record count");
        ReadAll(desk.orders.m_CDSOrderlisteAnzeige);
        for (int id : {0, 1, 2, records, records + 1}) {
            (void)desk.orders.GetCounterOrderID(id);
            (void)desk.orders.GetOrderStatusByID(id);
            (void)desk.orders.LookupOrderPoints(id, "Kurs");
        }
        desk.orders.SaveOrderList();
        const auto written = ReadWholeFile(r->scratch.File("Orderlist.xml"));
        Check(written.has_value() && *written == saved, "the desk saved its list differently");
    }
    return 0;
}

} // namespace quorvel::fuzz
