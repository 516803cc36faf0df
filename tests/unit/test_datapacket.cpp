#include <charconv>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

#include "platform/clientdataset.h"
#include "platform/datapacket.h"
#include "platform/files.h"
#include "tests/support/tempdir.h"

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
        {"foreign column named like a field",
         Packet(kFields + "<FIELD attrname=\"LOTS\" fieldtype=\"string\"/>", "", "")},
        {"foreign column twice", Packet(kFields + "<FIELD attrname=\"X\" fieldtype=\"string\"/>"
                                                  "<FIELD attrname=\"x\" fieldtype=\"i2\"/>",
                                        "", "")},
        {"foreign column without name", Packet(kFields + "<FIELD fieldtype=\"string\"/>", "", "")},
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

TEST(DataPacket, ColumnsOfOtherTypesArePassedOver) {
    // Byte columns, memos, other integer sizes and nested data among the fields, and their values in
    // the rows, beside values of the known fields.
    const std::string fields = "<FIELD attrname=\"Name\" fieldtype=\"bytes\" WIDTH=\"20\"/>" + kFields +
                               "<FIELD attrname=\"Note\" fieldtype=\"bin.hex\" SUBTYPE=\"Text\"/>"
                               "<FIELD attrname=\"Small\" fieldtype=\"i2\"/>"
                               "<FIELD attrname=\"Wide\" fieldtype=\"varbytes\" WIDTH=\"40\"/>"
                               "<FIELD attrname=\"Day\" fieldtype=\"date\"/>"
                               "<FIELD attrname=\"Sub\" fieldtype=\"nested\"><FIELDS>"
                               "<FIELD attrname=\"Inner\" fieldtype=\"i4\"/></FIELDS></FIELD>";
    const std::string rows =
        "<ROW Name=\"a;b\" Key=\"1\" Count=\"7\" Note=\"SGVsbG8=\" Small=\"x\" "
        "Wide=\"&lt;&quot;\" Day=\"garbage\" Lots=\"0.5\"><Sub><ROW Inner=\"1\"/></Sub></ROW>"
        "<ROW Key=\"2\" Flag=\"TRUE\" Name=\"\"/>";
    ClientDataSet ds;
    ds.LoadFromString(Packet(fields, "", rows));
    std::vector<std::string> names;
    for (const FieldDef& d : ds.FieldDefs()) names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Key", "Count", "Lots", "Money", "At", "Flag"}));
    EXPECT_EQ(Dump(ds), (std::vector<std::string>{"1|7|0,5|null|null|null|", "2|null|null|null|null|True|"}));
    // What the engine writes has the known columns only.
    ClientDataSet again;
    again.LoadFromString(ds.SaveToString());
    EXPECT_EQ(Dump(again), Dump(ds));
    EXPECT_EQ(ds.SaveToString().find("Name"), std::string::npos);

    // A cursor that holds a field of such a column refuses to open, as for any other type.
    ClientDataSet holder;
    holder.AddField("Key", FieldType::AutoInc);
    holder.AddField("note", FieldType::Integer);
    try {
        holder.LoadFromString(Packet(fields, "", rows));
        ADD_FAILURE() << "loaded";
    } catch (const DataSetError& e) {
        EXPECT_NE(std::string(e.what()).find("Type mismatch for field 'note'"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("bin.hex"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(holder.Active());
}

TEST(DataPacket, DateTimeText) {
    EXPECT_EQ(PacketDateTime(EncodeDateTime(2024, 1, 15, 8, 30, 5, 7)), "20240115T08:30:05007");
    TDateTime t = 0;
    ASSERT_TRUE(ParsePacketDateTime("20240229T23:59:59999", t));
    EXPECT_NEAR(t, EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), 1e-9);
    EXPECT_FALSE(ParsePacketDateTime("20230229T00:00:00", t));
    EXPECT_FALSE(ParsePacketDateTime("20240101T00:00:0", t));
}

namespace {

// A list with every field type, nulls, names that need escaping, negative numbers, extreme
// reals, date-times with milliseconds and a row longer than the writer's first guess.
ClientDataSet& ByteSample(ClientDataSet& ds) {
    const std::string longName(300, 'L');
    ds.CreateDataSet({{"Key", FieldType::AutoInc},
                      {"Count", FieldType::Integer},
                      {"Lots", FieldType::Float},
                      {"Money", FieldType::Currency},
                      {"At", FieldType::DateTime},
                      {"Flag", FieldType::Boolean},
                      {"A&B<\"q\">'", FieldType::Integer},
                      {longName, FieldType::Float}});
    struct Row {
        int32_t count;
        double lots, money, at;
        bool flag;
        uint32_t nulls; // bit k: field k+1 stays null
    };
    const Row rows[] = {
        {0, 0.0, 0.0, 0.0, false, 0},
        {-2147483647 - 1, -0.1, -1.25, EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), true, 0},
        {2147483647, 1e-5, 0.00012, EncodeDateTime(1, 1, 1, 0, 0, 0, 1), false, 0},
        {-1, 123456789.125, -0.0005, EncodeDateTime(9999, 12, 31, 23, 59, 59, 0), true, 0b1010101},
        {42, 5e-324, 1.7976931348623157e308, 45000.0 + 77 / 1000.0 + 0.0001, false, 0b0101010},
        {7, -1e21, 1e21, 45000.123456789, true, 0b1000001},
        {8, 1.0, 1.0, 1.0, true, 0b1111111},
        {5, 1.08123, 1000000.0, EncodeDateTime(2024, 1, 15, 8, 30, 5, 7), true, 0},
        {-300, 0.30000000000000004, -922337203685477.5807, -1.75, false, 0},
    };
    for (const Row& r : rows) {
        ds.Append();
        auto set = [&](int k, auto f) {
            if (!((r.nulls >> k) & 1u)) f(ds.Fields()[static_cast<size_t>(k + 1)]);
        };
        set(0, [&](auto& f) { f->SetAsInteger(r.count); });
        set(1, [&](auto& f) { f->SetAsFloat(r.lots); });
        set(2, [&](auto& f) { f->SetAsCurrency(r.money); });
        set(3, [&](auto& f) { f->SetAsDateTime(r.at); });
        set(4, [&](auto& f) { f->SetAsBoolean(r.flag); });
        set(5, [&](auto& f) { f->SetAsInteger(-r.count / 3); });
        set(6, [&](auto& f) { f->SetAsFloat(r.lots * -3); });
        ds.Post();
    }
    ds.First();
    ds.Next();
    ds.Delete(); // the key counter stays ahead of the keys left
    return ds;
}

// The packet of ByteSample as the writer has always written it; "@" stands for the long name.
std::string GoldenPacket() {
    std::string s =
        "<?xml version=\"1.0\" standalone=\"yes\"?>\n"
        "<DATAPACKET Version=\"2.0\"><METADATA><FIELDS><FIELD attrname=\"Key\" fieldtype=\"i4\" "
        "readonly=\"true\" SUBTYPE=\"Autoinc\"/>"
        "<FIELD attrname=\"Count\" fieldtype=\"i4\"/><FIELD attrname=\"Lots\" fieldtype=\"r8\"/>"
        "<FIELD attrname=\"Money\" fieldtype=\"r8\" SUBTYPE=\"Money\"/><FIELD attrname=\"At\" "
        "fieldtype=\"dateTime\"/>"
        "<FIELD attrname=\"Flag\" fieldtype=\"boolean\"/><FIELD attrname=\"A&amp;B&lt;&quot;q&quot;&gt;'\" "
        "fieldtype=\"i4\"/>"
        "<FIELD attrname=\"@\" fieldtype=\"r8\"/></FIELDS><PARAMS AUTOINCVALUE=\"10\"/>"
        "</METADATA><ROWDATA><ROW Key=\"1\" Count=\"0\" Lots=\"0\" Money=\"0\" At=\"18991230T00:00:00000\" "
        "Flag=\"FALSE\" A&amp;B&lt;&quot;q&quot;&gt;'=\"0\" @=\"-0\"/>"
        "<ROW Key=\"3\" Count=\"2147483647\" Lots=\"1e-05\" Money=\"0.00012\" At=\"00010101T00:00:00001\" "
        "Flag=\"FALSE\" A&amp;B&lt;&quot;q&quot;&gt;'=\"-715827882\" @=\"-3.0000000000000004e-05\"/>"
        "<ROW Key=\"4\" Lots=\"123456789.125\" At=\"99991231T23:59:59000\" "
        "A&amp;B&lt;&quot;q&quot;&gt;'=\"0\"/>"
        "<ROW Key=\"5\" Count=\"42\" Money=\"1.7976931348623157e+308\" Flag=\"FALSE\" @=\"-1.5e-323\"/>"
        "<ROW Key=\"6\" Lots=\"-1e+21\" Money=\"1e+21\" At=\"20230315T02:57:46667\" Flag=\"TRUE\" "
        "A&amp;B&lt;&quot;q&quot;&gt;'=\"-2\"/>"
        "<ROW Key=\"7\"/><ROW Key=\"8\" Count=\"5\" Lots=\"1.08123\" Money=\"1e+06\" "
        "At=\"20240115T08:30:05007\" Flag=\"TRUE\" A&amp;B&lt;&quot;q&quot;&gt;'=\"-1\" @=\"-3.24369\"/>"
        "<ROW Key=\"9\" Count=\"-300\" Lots=\"0.30000000000000004\" Money=\"-922337203685477.6\" "
        "At=\"18991228T06:00:00000\" Flag=\"FALSE\" A&amp;B&lt;&quot;q&quot;&gt;'=\"100\" "
        "@=\"-0.9000000000000001\"/>"
        "</ROWDATA></DATAPACKET>\n";
    for (size_t at; (at = s.find('@')) != std::string::npos;) s.replace(at, 1, std::string(300, 'L'));
    return s;
}

} // namespace

TEST(DataPacket, WritesExactlyTheEstablishedBytes) {
    ClientDataSet ds;
    const std::string text = ByteSample(ds).SaveToString();
    EXPECT_EQ(text, GoldenPacket());
    test::TempDir dir;
    ds.SaveToFile(dir.File("Orderlist.xml"));
    EXPECT_EQ(ReadWholeFile(dir.File("Orderlist.xml")).value_or(""), text);

    // Without a key field there is no key counter; an empty list has empty row data.
    ClientDataSet plain;
    plain.CreateDataSet({{"N", FieldType::Integer}});
    EXPECT_EQ(plain.SaveToString(),
              "<?xml version=\"1.0\" standalone=\"yes\"?>\n<DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
              "<FIELD attrname=\"N\" fieldtype=\"i4\"/></FIELDS><PARAMS/></METADATA><ROWDATA>"
              "</ROWDATA></DATAPACKET>\n");
}

TEST(DataPacket, RealTextIsTheShortestThatReadsBack) {
    // The packet's text of a real must be exactly what std::to_chars writes.
    auto expect = [](double v) {
        char b[32];
        return std::string(b, std::to_chars(b, b + sizeof b, v).ptr);
    };
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.1,
                                  0.5,
                                  1.08123,
                                  0.00012,
                                  1e-5,
                                  0.0001,
                                  0.001,
                                  1e-7,
                                  1e-22,
                                  1e-23,
                                  100.0,
                                  1e5,
                                  1e6,
                                  1200000.0,
                                  123456.0,
                                  1e14,
                                  9.99e14,
                                  1e15,
                                  1e16,
                                  1e21,
                                  1e22,
                                  1e23,
                                  0.3,
                                  1.0 / 3.0,
                                  2.0 / 3,
                                  5e-324,
                                  2.2250738585072014e-308,
                                  1.7976931348623157e308,
                                  4503599627370495.5,
                                  999999999999999.9,
                                  99999999999999.99,
                                  0.30000000000000004,
                                  -922337203685477.5807,
                                  123456789.125,
                                  45000.0001,
                                  1.25e-10};
    std::mt19937_64 rng(7);
    for (int k = 0; k <= 24; ++k) {
        for (int i = 0; i < 4000; ++i) {
            const int digits = 1 + static_cast<int>(rng() % 17);
            double m = static_cast<double>(rng() % 100000000000000000ull);
            m = std::floor(m / std::pow(10.0, 17 - digits));
            values.push_back(m / std::pow(10.0, k));
            values.push_back(-m * std::pow(10.0, k % 8));
        }
    }
    for (int i = 0; i < 100000; ++i) {
        const uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        values.push_back(v);
    }
    int wrong = 0;
    for (double v : values)
        if (PacketReal(v) != expect(v) && ++wrong <= 10)
            ADD_FAILURE() << expect(v) << " written as " << PacketReal(v);
    EXPECT_EQ(wrong, 0);
}

TEST(DataPacket, LongListIsTheSameTextInFileAndString) {
    // Several pieces of the writer's buffer; date-times that change day, go back and repeat.
    std::vector<FieldDef> defs = kDefs;
    defs.push_back({std::string(300, 'L'), FieldType::Float});
    ClientDataSet ds;
    ds.CreateDataSet(defs);
    std::vector<std::string> dates;
    for (int i = 0; i < 6000; ++i) {
        const TDateTime at = 45000.0 + (i % 3 == 0 ? i / 7 : -(i % 5)) + i * 0.000123;
        dates.push_back("At=\"" + PacketDateTime(at) + "\"");
        ds.Append();
        ds.FieldByName("At").SetAsDateTime(at);
        ds.FieldByName("Lots").SetAsFloat(i * 0.01);
        ds.Fields().back()->SetAsFloat(-i / 7.0);
        ds.Post();
    }
    const std::string text = ds.SaveToString();
    test::TempDir dir;
    ds.SaveToFile(dir.File("Orderlist.xml"));
    EXPECT_EQ(ReadWholeFile(dir.File("Orderlist.xml")).value_or(""), text);
    EXPECT_GT(text.size(), size_t{2} << 20);
    size_t at = 0;
    for (const std::string& d : dates) {
        at = text.find(d, at);
        ASSERT_NE(at, std::string::npos) << d;
        at = text.find("<ROW", at);
    }
    ClientDataSet back;
    back.LoadFromString(text);
    EXPECT_EQ(back.RecordCount(), ds.RecordCount());
}
