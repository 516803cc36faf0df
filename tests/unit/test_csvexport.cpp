#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>

#include "components/core/csvexport.h"
#include "desk/core/orderlist.h"
#include "platform/files.h"
#include "tests/support/fakes.h"
#include "tests/support/localescope.h"
#include "tests/support/tempdir.h"

using namespace quorvel;
using quorvel::test::LocaleScope;
using quorvel::test::TempDir;

namespace {

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> DirEntries(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The order list with two transactions: one that went through opening and closing, one still
// waiting with a one-sided second leg.
class OrderListExport : public ::testing::Test {
protected:
    void SetUp() override {
        book.OpenOrderList();
        ClientDataSet& e = book.m_CDSOrderliste;
        auto leg = [&](const std::function<void()>& set) {
            e.Append();
            set();
            e.Post();
        };
        auto f = [&](const char* name) -> Field& { return e.FieldByName(name); };
        leg([&] {
            f("Zeitpunkt").SetAsDateTime(EncodeDateTime(2024, 3, 7, 9, 5, 4, 12));
            f("Account").SetAsInteger(123456);
            f("TableID").SetAsInteger(0);
            f("EAID").SetAsInteger(3);
            f("Lots").SetAsFloat(0.1);
            f("OrderType").SetAsInteger(1);
            f("Spread").SetAsFloat(-0.00019);
            f("MaxVerlust").SetAsFloat(-0.0001);
            f("Status").SetAsInteger(5);
            f("OrderOpenTime").SetAsDateTime(EncodeDateTime(2024, 3, 7, 0, 0, 0, 0));
            f("TrigOpenKurs").SetAsFloat(1.08123);
            f("Kurs").SetAsFloat(1.08125);
            f("TO_Spread").SetAsFloat(0.00002);
            f("Ticket").SetAsInteger(987654);
            f("CloseDelayUntil").SetAsDateTime(0.5);
            f("OrderCloseTime").SetAsDateTime(EncodeDateTime(2024, 3, 8, 23, 59, 59, 999));
            f("CloseSpread").SetAsFloat(-0.00009);
            f("SlippageAusgleich").SetAsBoolean(true);
            f("AutoClose").SetAsBoolean(false);
            f("CloseKurs").SetAsFloat(1.0811);
            f("TC_Spread").SetAsFloat(-0.00001);
            f("GewinnPips").SetAsFloat(0.000001);
            f("Gewinn").SetAsCurrency(-12.5);
            f("Verbindungsstatus").SetAsInteger(-1);
            for (int k = 1; k <= 10; ++k) f(("ID" + std::to_string(k)).c_str()).SetAsInteger(k * 11);
            f("CloseBedingung").SetAsInteger(2);
            f("ForceClose").SetAsBoolean(false);
        });
        leg([&] {
            f("FirstOrderID").SetAsInteger(1);
            f("OrderType").SetAsInteger(-1);
            f("Status").SetAsInteger(-1);
            f("Lots").SetAsFloat(1234567.5);
            f("ForceClose").SetAsBoolean(true);
        });
        leg([&] {
            f("Zeitpunkt").SetAsDateTime(EncodeDateTime(2024, 3, 9, 12, 0, 1, 0));
            f("TableID").SetAsInteger(19);
            f("EAID").SetAsInteger(200);
            f("Lots").SetAsFloat(1e-7);
            f("OrderType").SetAsInteger(2);
            f("Spread").SetAsFloat(0.0002);
            f("Status").SetAsInteger(0);
            f("Gewinn").SetAsCurrency(1e20);
        });
    }

    test::FakeView view;
    TempDir dir;
    OrderList book{view, dir.File("Orderlist.xml")};
};

} // namespace

TEST_F(OrderListExport, BytesMatchTheFixtureUnderACommaAndAPointLocale) {
    const std::string expected = ReadBytes(QUORVEL_FIXTURE_DIR "/orderlist_export.csv");
    ASSERT_FALSE(expected.empty());
    for (const char sep : {',', '.'}) {
        LocaleScope locale(sep);
        EXPECT_EQ(CsvText(book.m_CDSOrderlisteAnzeige), expected) << sep;
    }
}

TEST_F(OrderListExport, TheCurrentRecordAndTheControlsComeBackAlsoAfterAnError) {
    // Attached controls hear nothing of the walk, and once of its end.
    struct Observer : IDataSetObserver {
        int changes = 0, scrolls = 0;
        void DataChanged(Change, int) override { ++changes; }
        void Scrolled() override { ++scrolls; }
    } observer;
    ClientDataSet& a = book.m_CDSOrderlisteAnzeige;
    a.SetRecNo(2);
    a.AddObserver(&observer);
    std::vector<int> seen;
    WriteCsv(a, [&](std::string_view) { seen = {observer.changes, observer.scrolls}; });
    a.RemoveObserver(&observer);
    EXPECT_EQ(seen, (std::vector<int>{0, 0}));
    EXPECT_EQ(observer.scrolls, 1);
    EXPECT_LE(observer.changes, 1);
    EXPECT_EQ(a.RecNo(), 2);
    EXPECT_FALSE(a.ControlsDisabled());

    a.SetRecNo(3);
    EXPECT_THROW(WriteCsv(a, [](std::string_view) { throw FileError("disk full"); }), FileError);
    EXPECT_EQ(a.RecNo(), 3);
    EXPECT_FALSE(a.ControlsDisabled());
}

TEST_F(OrderListExport, AFileIsReplacedOnlyWhenTheExportIsComplete) {
    const std::string path = dir.File("export.csv");
    ExportCsvFile(book.m_CDSOrderlisteAnzeige, path);
    EXPECT_EQ(ReadBytes(path), CsvText(book.m_CDSOrderlisteAnzeige));

    // An error of the dataset in the middle of the walk.
    WriteFileAtomic(path, std::string_view("old export\r\n"));
    book.m_CDSOrderlisteAnzeige.SetRecNo(2);
    book.m_CDSOrderlisteAnzeige.OnCalcFields = [](ClientDataSet& ds) {
        if (ds.RecNo() == 3) throw DataSetError("calculation failed");
    };
    EXPECT_THROW(ExportCsvFile(book.m_CDSOrderlisteAnzeige, path), DataSetError);
    book.m_CDSOrderlisteAnzeige.OnCalcFields = nullptr;
    EXPECT_EQ(ReadBytes(path), "old export\r\n");
    EXPECT_EQ(book.m_CDSOrderlisteAnzeige.RecNo(), 2);
    EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"export.csv"}));

    // A write that fails once the file was created (the file size limit stands in for a full disk).
    for (int k = 0; k < 3000; ++k) {
        book.m_CDSAddNewOrder.Append();
        book.m_CDSAddNewOrder.FieldByName("Lots").SetAsFloat(k / 7.0);
        book.m_CDSAddNewOrder.Post();
    }
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool createError = false, writeError = false;
    try {
        ExportCsvFile(book.m_CDSOrderlisteAnzeige, path);
    } catch (const CsvCreateError&) {
        createError = true;
    } catch (const FileError&) {
        writeError = true;
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(writeError);
    EXPECT_FALSE(createError);
    EXPECT_EQ(ReadBytes(path), "old export\r\n");
    EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"export.csv"}));

    // A file that cannot be created: nothing is written anywhere.
    EXPECT_THROW(ExportCsvFile(book.m_CDSOrderlisteAnzeige, dir.File("missing/export.csv")), CsvCreateError);
    EXPECT_EQ(DirEntries(dir), (std::vector<std::string>{"export.csv"}));
}

TEST(CsvExport, AnEmptyListGivesExactlyTheHeaderAndTheEmptyLine) {
    test::FakeView view;
    TempDir dir;
    OrderList book(view, dir.File("Orderlist.xml"));
    book.OpenOrderList();
    const std::string text = CsvText(book.m_CDSOrderlisteAnzeige);
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(0, 11), "No.; ID; ID");
    EXPECT_EQ(text.substr(text.size() - 4), "\r\n\r\n");
    EXPECT_EQ(text.find("\r\n"), text.size() - 4); // two lines, the second one empty
    EXPECT_EQ(text.find('\n'), text.size() - 3);
}

TEST(CsvExport, ValueTextsOfEveryFieldType) {
    ClientDataSet ds;
    ds.CreateDataSet({{"I", FieldType::Integer},
                      {"R", FieldType::Float},
                      {"C", FieldType::Currency},
                      {"B", FieldType::Boolean},
                      {"T", FieldType::DateTime},
                      {"K", FieldType::AutoInc}});
    struct Case {
        Variant i, r, c, b;
        double t; // -1: null
        const char* line;
    };
    const double day = EncodeDateTime(2023, 12, 31, 0, 0, 0, 0);
    const Case cases[] = {
        {Variant(-42), Variant(1.5), Variant(-12.5), Variant(true), day + 0.75,
         "-42;1,5;-12,5;True;31.12.2023 18:00:00"},
        {Variant(0), Variant(0.0002), Variant(0.0), Variant(false), day, "0;0,0002;0;False;31.12.2023"},
        {Variant(), Variant(), Variant(), Variant(), -1, ";;;;"},
        {Variant(2147483647), Variant(1e-6), Variant(1e15), Variant(), 0.25,
         "2147483647;1E-6;1E15;;06:00:00"},
        {Variant(), Variant(-0.00002), Variant(), Variant(true), 0.0, ";-0,00002;;True;30.12.1899"},
    };
    for (const Case& c : cases) {
        ds.Append();
        ds.FieldByName("I").SetValue(c.i);
        ds.FieldByName("R").SetValue(c.r);
        ds.FieldByName("C").SetValue(c.c);
        ds.FieldByName("B").SetValue(c.b);
        if (c.t >= 0) ds.FieldByName("T").SetAsDateTime(c.t);
        ds.Post();
    }
    // A display label, a display format and a text handler play no part in the values.
    ds.FieldByName("R").DisplayFormat = "0.00";
    ds.FieldByName("B").DisplayValues = "ja;nein";
    ds.FieldByName("I").OnGetText = [](Field&, std::string& text, bool) { text = "x"; };
    ds.FieldByName("K").DisplayLabel = "Key";
    for (const char sep : {',', '.'}) {
        LocaleScope locale(sep);
        std::string expected = "I; R; C; B; T; Key\r\n\r\n";
        int key = 0;
        for (const Case& c : cases) expected += std::string(c.line) + ";" + std::to_string(++key) + "\r\n";
        EXPECT_EQ(CsvText(ds), expected) << sep;
    }
    // The locale's time separator.
    LocaleScope dots(',', '.');
    ds.First();
    EXPECT_EQ(CsvValueText(ds.FieldByName("T")), "31.12.2023 18.00.00");
}

TEST(CsvExport, ItemsThatWouldSplitAreQuotedAndTextIsWindows1252) {
    struct Case {
        const char* text;
        const char* item;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"a; b", "\"a; b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},
        {"two\r\nlines", "\"two\r\nlines\""},
        {"cr\ronly", "\"cr\ronly\""},
        {"lf\nonly", "\"lf\nonly\""},
        {"Gr\xC3\xB6\xC3\x9F"
         "e \xE2\x82\xAC",
         "Gr\xF6\xDF"
         "e \x80"},
        {"\xC4\x89", "?"},            // not in the code page
        {"\xFF", "?"},                // no UTF-8
        {"P/ L, Pips", "P/ L, Pips"}, // a comma or a blank needs no quotes
    };
    for (const Case& c : cases) {
        std::string out;
        AppendCsvItem(out, c.text);
        EXPECT_EQ(out, c.item) << c.text;
    }
    EXPECT_EQ(kCsvInvalidValue, "{ung\xC3\xBCltig}");

    ClientDataSet ds;
    ds.CreateDataSet({{"A", FieldType::Integer}, {"B", FieldType::Integer}});
    ds.FieldByName("A").DisplayLabel = "x;y";
    ds.FieldByName("B").DisplayLabel = "\xC3\xBC";
    ds.Append();
    ds.Post();
    EXPECT_EQ(CsvText(ds), "\"x;y\"; \xFC\r\n\r\n;\r\n");
}

TEST(CsvExport, ADatasetWithoutRecordsOrFields) {
    ClientDataSet empty;
    empty.CreateDataSet({{"A", FieldType::Integer}});
    EXPECT_EQ(CsvText(empty), "A\r\n\r\n");
}
