#include <QAbstractItemModelTester>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>

#include "desk/orderlistmodel.h"

using namespace quorvel;

namespace {

const std::vector<FieldDef> kDefs = {
    {"ID", FieldType::AutoInc}, {"Status", FieldType::Integer}, {"Lots", FieldType::Float}};

QStringList g_warnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) g_warnings << text;
}

// Checks the model with QAbstractItemModelTester (its findings are warnings) and writes down
// every structural signal, with the row count the model gives while the signal runs.
class ModelWatch {
public:
    explicit ModelWatch(QAbstractItemModel& model)
        : m_tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning) {
        g_warnings.clear();
        m_previous = qInstallMessageHandler(CollectWarnings);
        auto note = [this, &model](const char* what) {
            return [this, &model, what](const QModelIndex&, int first, int last) {
                log << QString("%1 %2-%3 of %4").arg(what).arg(first).arg(last).arg(model.rowCount());
            };
        };
        QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeInserted, &m_context, note("inserting"));
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, &m_context, note("inserted"));
        QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, &m_context, note("removing"));
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, &m_context, note("removed"));
        QObject::connect(&model, &QAbstractItemModel::dataChanged, &m_context,
                         [this](const QModelIndex& tl, const QModelIndex& br) {
                             log << QString("changed %1-%2 columns %3-%4")
                                        .arg(tl.row())
                                        .arg(br.row())
                                        .arg(tl.column())
                                        .arg(br.column());
                         });
        QObject::connect(&model, &QAbstractItemModel::modelReset, &m_context, [this] { log << "reset"; });
    }
    ~ModelWatch() { qInstallMessageHandler(m_previous); }
    QStringList log;

private:
    QAbstractItemModelTester m_tester;
    QObject m_context;
    QtMessageHandler m_previous = nullptr;
};

QStringList Column(const QAbstractItemModel& model, int column) {
    QStringList out;
    for (int r = 0; r < model.rowCount(); ++r) out << model.index(r, column).data().toString();
    return out;
}

void AppendRow(ClientDataSet& ds, int status) {
    ds.Append();
    ds.FieldByName("Status").SetAsInteger(status);
    ds.FieldByName("Lots").SetAsFloat(0.1);
    ds.Post();
}

std::function<void(ClientDataSet&)> SetStatus(int id, int status) {
    return [id, status](ClientDataSet& ds) {
        ASSERT_TRUE(ds.Locate("ID", Variant(id)));
        ds.Edit();
        ds.FieldByName("Status").SetAsInteger(status);
        ds.Post();
    };
}

std::function<void(ClientDataSet&)> Remove(int id) {
    return [id](ClientDataSet& ds) {
        ASSERT_TRUE(ds.Locate("ID", Variant(id)));
        ds.Delete();
    };
}

} // namespace

TEST(OrderListModel, SignalsExactlyTheRowsItInsertsRemovesAndChanges) {
    struct Case {
        const char* name;
        IndexDef index;
        std::function<void(ClientDataSet&)> act; // through the engine's cursor
        QStringList log;
        QStringList ids;               // column "ID" afterwards
        bool controlsDisabled = false; // on the model's cursor meanwhile
    };
    const IndexDef newestFirst{"IdxDesc", "ID", true};
    const IndexDef byStatus{"IdxStatus", "Status", false};
    // Before each case: IDs 1, 2, 3 with Status 10, 20, 30.
    const Case cases[] = {
        {"append in natural order",
         {},
         [](ClientDataSet& ds) { AppendRow(ds, 40); },
         {"inserting 3-3 of 3", "inserted 3-3 of 4"},
         {"1", "2", "3", "4"}},
        {"append, newest first",
         newestFirst,
         [](ClientDataSet& ds) { AppendRow(ds, 40); },
         {"inserting 0-0 of 3", "inserted 0-0 of 4"},
         {"4", "3", "2", "1"}},
        {"append between on an index",
         byStatus,
         [](ClientDataSet& ds) { AppendRow(ds, 15); },
         {"inserting 1-1 of 3", "inserted 1-1 of 4"},
         {"1", "4", "2", "3"}},
        {"delete in the middle", {}, Remove(2), {"removing 1-1 of 3", "removed 1-1 of 2"}, {"1", "3"}},
        {"delete the newest first",
         newestFirst,
         Remove(3),
         {"removing 0-0 of 3", "removed 0-0 of 2"},
         {"2", "1"}},
        {"delete the last one", {}, Remove(3), {"removing 2-2 of 3", "removed 2-2 of 2"}, {"1", "2"}},
        {"edit in place", {}, SetStatus(2, 25), {"changed 1-1 columns 0-2"}, {"1", "2", "3"}},
        {"edit that moves down the index",
         byStatus,
         SetStatus(1, 35),
         {"changed 0-2 columns 0-2"},
         {"2", "3", "1"}},
        {"edit that moves up the index",
         byStatus,
         SetStatus(3, 5),
         {"changed 0-2 columns 0-2"},
         {"3", "1", "2"}},
        {"edits and deletes with controls disabled",
         {},
         [](ClientDataSet& ds) {
             AppendRow(ds, 40);
             Remove(1)(ds);
             SetStatus(2, 25)(ds);
         },
         {"reset"},
         {"2", "3", "4"},
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientDataSet engine("engine"), display("display");
        engine.CreateDataSet(kDefs);
        for (int s : {10, 20, 30}) AppendRow(engine, s);
        display.CloneCursor(engine, true);
        display.SetIndex(c.index);
        OrderListModel model(display);
        ASSERT_EQ(model.rowCount(), 3);
        QStringList log;
        QStringList warnings;
        {
            ModelWatch watch(model);
            if (c.controlsDisabled) display.DisableControls();
            c.act(engine);
            if (c.controlsDisabled) display.EnableControls();
            log = watch.log;
            warnings = g_warnings;
        }
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(Column(model, 0), c.ids);
        EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
    }
}

TEST(OrderListModel, ClosingAndReopeningTheCursorResetsTheModel) {
    ClientDataSet engine("engine"), display("display");
    engine.CreateDataSet(kDefs);
    AppendRow(engine, 10);
    display.CloneCursor(engine, true);
    OrderListModel model(display);
    QStringList log;
    {
        ModelWatch watch(model);
        display.Close();
        EXPECT_EQ(model.rowCount(), 0);
        display.CloneCursor(engine, true);
        EXPECT_EQ(model.rowCount(), 1);
        log = watch.log;
        EXPECT_TRUE(g_warnings.isEmpty()) << g_warnings.join('\n').toStdString();
    }
    EXPECT_EQ(log, (QStringList{"reset", "reset"}));
    EXPECT_EQ(Column(model, 0), QStringList{"1"});
}
