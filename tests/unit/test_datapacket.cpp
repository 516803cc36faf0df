#include <gtest/gtest.h>

#include "platform/clientdataset.h"
#include "tempdir.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {
    {"Key", FieldType::AutoInc},    {"Count", FieldType::Integer}, {"Lots", FieldType::Float},
    {"Money", FieldType::Currency}, {"At", FieldType::DateTime},   {"Flag", FieldType::Boolean},
};

std::vector<std::string> Dump(ClientDataSet& ds) {
    std::vector<std::string> rows;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        std::string r;
        for (auto& f : ds.Fields()) r += (f->IsNull() ? std::string("null") : f->AsString()) + "|";
        rows.push_back(r);
    }
    return rows;
}

std::string Packet(const std::string& fields, const std::string& params, const std::string& rows) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA><FIELDS>" +
           fields + "</FIELDS><PARAMS " + params + "/></METADATA><ROWDATA>" + rows +
           "</ROWDATA></DATAPACKET>";
}

const std::string kFields =
    "<FIELD attrname=\"Key\" fieldtype=\"i4\" readonly=\"true\" SUBTYPE=\"Autoinc\"/>"
    "<FIELD attrname=\"Count\" fieldtype=\"i4\"/><FIELD attrname=\"Lots\" fieldtype=\"r8\"/>"
    "<FIELD attrname=\"Money\" fieldtype=\"r8\" SUBTYPE=\"Money\"/>"
    "<FIELD attrname=\"At\" fieldtype=\"dateTime\"/><FIELD attrname=\"Flag\" fieldtype=\"boolean\"/>";

} // namespace

TEST(DataPacket, RoundTripKeepsOrderValuesAndNulls) {
    test::TempDir dir;
    ClientDataSet ds;
    ds.CreateDataSet(kDefs);
    const double values[] = {1.23456, -0.1, 1e-5, 123456789.125, 0.0};
    for (int i = 0; i < 5; ++i) {
        ds.Append();
        if (i != 1) ds.FieldByName("Count").SetAsInteger(i == 4 ? -2147483647 - 1 : i * 1000);
        if (i != 2) ds.FieldByName("Lots").SetAsFloat(values[i]);
        if (i != 3) ds.FieldByName("Money").SetAsCurrency(-values[i]);
        if (i != 4) ds.FieldByName("At").SetAsDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 58, 999 - i));
        if (i != 0) ds.FieldByName("Flag").SetAsBoolean(i % 2 == 0);
        ds.Post();
    }
    ds.First();
    ds.Delete(); // key 1 gone; the counter stays ahead
    const auto before = Dump(ds);
    const std::string path = dir.File("list.xml");
    ds.SaveToFile(path);

    ClientDataSet back;
    back.LoadFromFile(path);
    EXPECT_EQ(Dump(back), before);
    // every value exactly, date-times to the millisecond
    ds.First();
    for (back.First(); !back.Eof(); back.Next(), ds.Next()) {
        for (const char* f : {"Lots", "Money", "Count"})
            EXPECT_EQ(back.FieldByName(f).AsFloat(), ds.FieldByName(f).AsFloat()) << f;
        EXPECT_NEAR(back.FieldByName("At").AsDateTime(), ds.FieldByName("At").AsDateTime(), 1e-9);
    }
    ASSERT_EQ(back.FieldDefs().size(), kDefs.size());
    for (size_t i = 0; i < kDefs.size(); ++i) {
        EXPECT_EQ(back.FieldDefs()[i].name, kDefs[i].name);
        EXPECT_EQ(back.FieldDefs()[i].type, kDefs[i].type);
    }
    back.Append();
    back.Post();
    EXPECT_EQ(back.FieldByName("Key").AsInteger(), 6);
}

TEST(DataPacket, ReadsTheEstablishedLayoutWithRowStatesAndAChangeLog) {
    // Rows: 1 and 2 original, 3 modifies 1, 4 inserted, 5 deletes 2, 6 inserted then deleted.
    const std::string rows =
        "<ROW RowState=\"1\" Key=\"1\" Count=\"10\" Lots=\"0.5\" At=\"20240115T08:30:05\" Flag=\"TRUE\"/>"
        "<ROW Key=\"2\" Count=\"20\" Money=\"-3.25\"/>"
        "<ROW RowState=\"8\" Count=\"11\" Money=\"1.5\"/>"
        "<ROW RowState=\"4\" Key=\"3\" Count=\"30\" At=\"20240116T09:00:00250\" Flag=\"false\"/>"
        "<ROW RowState=\"2\" Key=\"2\"/>"
        "<ROW RowState=\"4\" Key=\"4\" Count=\"40\"/>"
        "<ROW RowState=\"2\" Key=\"4\"/>";
    // lower-case names and types, mixed-case attribute names
    std::string fields = kFields;
    fields.replace(fields.find("fieldtype=\"i4\"/>"), 16, "FIELDTYPE=\"I4\"/>");
    fields.replace(fields.find("dateTime"), 8, "datetime");
    const std::string data =
        Packet(fields, "CHANGE_LOG=\"3 1 8 4 0 4 5 2 2 6 0 4 7 6 2\" AUTOINCVALUE=\"9\"", rows);
    ClientDataSet ds;
    ds.LoadFromString(data);
    const auto dump = Dump(ds);
    ASSERT_EQ(dump.size(), 2u);
    EXPECT_EQ(dump[0], "1|11|0,5|1,5|15.01.2024 08:30:05|True|");
    ds.First();
    EXPECT_NEAR(ds.FieldByName("At").AsDateTime(), EncodeDateTime(2024, 1, 15, 8, 30, 5, 0), 1e-9);
    ds.Next();
    EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 3);
    EXPECT_NEAR(ds.FieldByName("At").AsDateTime(), EncodeDateTime(2024, 1, 16, 9, 0, 0, 250), 1e-9);
    EXPECT_FALSE(ds.FieldByName("Flag").AsBoolean());
    EXPECT_FALSE(ds.FieldByName("Flag").IsNull());
    ds.Append();
    ds.Post();
    EXPECT_EQ(ds.FieldByName("Key").AsInteger(), 9); // the stored key counter

    // Without a change log the row states alone: a modification follows its original.
    ClientDataSet b;
    b.LoadFromString(Packet(kFields, "",
                            "<ROW RowState=\"1\" Key=\"1\" Count=\"1\"/><ROW RowState=\"8\" Count=\"2\"/>"
                            "<ROW RowState=\"2\" Key=\"2\"/><ROW RowState=\"4\" Key=\"3\"/>"));
    EXPECT_EQ(Dump(b), (std::vector<std::string>{"1|2|null|null|null|null|", "3|null|null|null|null|null|"}));
}

TEST(DataPacket, BadInputFailsCleanly) {
    const std::string good = Packet(kFields, "", "<ROW Key=\"1\" Count=\"1\"/>");
    struct Case {
        const char* what;
        std::string data;
    };
    const Case cases[] = {
        {"empty", ""},
        {"not XML", "hello"},
        {"truncated", good.substr(0, good.size() / 2)},
        {"other root", "<ROOT/>"},
        {"no fields", "<DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>"},
        {"unknown type", Packet("<FIELD attrname=\"X\" fieldtype=\"string\" WIDTH=\"20\"/>", "", "")},
        {"duplicate field", Packet(kFields + "<FIELD attrname=\"count\" fieldtype=\"i4\"/>", "", "")},
        {"integer too big", Packet(kFields, "", "<ROW Key=\"1\" Count=\"2147483648\"/>")},
        {"integer text", Packet(kFields, "", "<ROW Key=\"1\" Count=\"1.5\"/>")},
        {"real absurd", Packet(kFields, "", "<ROW Key=\"1\" Lots=\"1e999\"/>")},
        {"real nan", Packet(kFields, "", "<ROW Key=\"1\" Lots=\"nan\"/>")},
        {"real with comma", Packet(kFields, "", "<ROW Key=\"1\" Lots=\"1,5\"/>")},
        {"date month 13", Packet(kFields, "", "<ROW Key=\"1\" At=\"20241301T00:00:00\"/>")},
        {"date 30 February", Packet(kFields, "", "<ROW Key=\"1\" At=\"20240230T00:00:00\"/>")},
        {"date hour 24", Packet(kFields, "", "<ROW Key=\"1\" At=\"20240101T24:00:00\"/>")},
        {"date garbage", Packet(kFields, "", "<ROW Key=\"1\" At=\"yesterday\"/>")},
        {"boolean", Packet(kFields, "", "<ROW Key=\"1\" Flag=\"yes\"/>")},
        {"duplicate key", Packet(kFields, "", "<ROW Key=\"1\"/><ROW Key=\"1\"/>")},
        {"change log range", Packet(kFields, "CHANGE_LOG=\"5 1 8\"", "<ROW Key=\"1\"/>")},
        {"change log text", Packet(kFields, "CHANGE_LOG=\"1 x 4\"", "<ROW Key=\"1\"/>")},
        {"key counter absurd", Packet(kFields, "AUTOINCVALUE=\"99999999999\"", "")},
    };
    for (const Case& c : cases) {
        ClientDataSet ds;
        EXPECT_THROW(ds.LoadFromString(c.data), DataSetError) << c.what;
        EXPECT_FALSE(ds.Active()) << c.what;
    }
    ClientDataSet ds;
    EXPECT_THROW(ds.LoadFromFile("/nonexistent/dir/list.xml"), DataSetError);
    ds.LoadFromString(good);
    EXPECT_EQ(ds.RecordCount(), 1);
}

TEST(DataPacket, DateTimeText) {
    EXPECT_EQ(PacketDateTime(EncodeDateTime(2024, 1, 15, 8, 30, 5, 7)), "20240115T08:30:05007");
    TDateTime t = 0;
    ASSERT_TRUE(ParsePacketDateTime("20240229T23:59:59999", t));
    EXPECT_NEAR(t, EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), 1e-9);
    EXPECT_FALSE(ParsePacketDateTime("20230229T00:00:00", t));
    EXPECT_FALSE(ParsePacketDateTime("20240101T00:00:0", t));
}
