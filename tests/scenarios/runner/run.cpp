// The run of a scenario's steps against a desk.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>

#include "desk/core/orderlist.h"
#include "platform/clientdataset.h"
#include "scenario.h"

namespace quorvel::scenario {

namespace {

// As EXPECT_DOUBLE_EQ: at most four units in the last place apart.
bool AlmostEqual(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return false;
    auto biased = [](double x) {
        uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        constexpr uint64_t sign = uint64_t{1} << 63;
        return bits & sign ? ~bits + 1 : bits | sign;
    };
    const uint64_t ua = biased(a), ub = biased(b);
    return (ua > ub ? ua - ub : ub - ua) <= 4;
}

std::string Text(const Variant& v, FieldType type) {
    if (v.IsNull()) return "null";
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc:
        return std::to_string(v.AsInteger());
    case FieldType::Boolean:
        return v.AsBoolean() ? "true" : "false";
    case FieldType::String:
        return "'" + v.AsString() + "'";
    default: {
        // The shortest of 15 or 17 digits that reads back as the value.
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.15g", v.AsFloat());
        if (std::strtod(buf, nullptr) != v.AsFloat()) std::snprintf(buf, sizeof buf, "%.17g", v.AsFloat());
        return buf;
    }
    }
}

bool Same(const Variant& want, const Variant& got, FieldType type) {
    if (want.IsNull() || got.IsNull()) return want.IsNull() == got.IsNull();
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc:
        return want.AsInteger() == got.AsInteger();
    case FieldType::Boolean:
        return want.AsBoolean() == got.AsBoolean();
    case FieldType::String:
        return want.AsString() == got.AsString();
    default:
        return AlmostEqual(want.AsFloat(), got.AsFloat());
    }
}

// Whether a notification reads `want`, where a '.' between two digits of `want` stands for
// the decimal separator of the desk's locale.
bool Reads(const std::string& got, const std::string& want) {
    if (got.size() != want.size()) return false;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    for (size_t k = 0; k < want.size(); ++k) {
        if (got[k] == want[k]) continue;
        const bool separator = want[k] == '.' && got[k] == ',' && k > 0 && k + 1 < want.size() &&
                               digit(want[k - 1]) && digit(want[k + 1]);
        if (!separator) return false;
    }
    return true;
}

class Run {
public:
    explicit Run(ScenarioDesk& desk) : m_desk(desk) {}

    std::vector<Failure> failures;

    // Throws ScenarioError when the rest of the run has no meaning.
    void Do(const Step& s) {
        if (s.op != Op::Notified) m_notifiedFrom = 0;
        switch (s.op) {
        case Op::Config:
            m_config += s.text + "\r\n";
            break;
        case Op::Leg:
            m_legs.push_back(&s);
            break;
        case Op::Start:
            WriteFiles();
            m_started = m_desk.Now();
            m_desk.Start();
            break;
        case Op::Connect:
            m_desk.Connect(s.link);
            break;
        case Op::Send:
            Send(s);
            break;
        case Op::Stop:
            m_desk.Stop();
            m_stopped = m_desk.Now();
            break;
        case Op::SavedLegs: {
            const int32_t want = Resolve(s.leg);
            const int got = Saved().RecordCount();
            if (got != want)
                Failed(s, "Orderlist.xml holds " + std::to_string(got) + " legs, expected " +
                              std::to_string(want));
            break;
        }
        case Op::SavedLeg:
            SavedLeg(s);
            break;
        case Op::SavedTimes:
            SavedTimes(s);
            break;
        case Op::Notified:
            Notified(s);
            break;
        }
    }

private:
    void Failed(const Step& s, const std::string& what) { failures.push_back({s.file, s.line, what}); }

    int32_t Resolve(const Number& n) const { return n.order.empty() ? n.value : m_orders.at(n.order); }
    Variant ValueOf(const FieldValue& f) const {
        return FieldVariant(f.type, f.order ? std::to_string(m_orders.at(f.text)) : f.text, m_desk.Now());
    }

    void WriteFiles() {
        if (!m_config.empty()) {
            std::ofstream ini(m_desk.ConfigFile(), std::ios::binary);
            ini << "[Defaults]\r\n" << m_config;
            if (!ini.flush()) throw ScenarioError("cannot write " + m_desk.ConfigFile().string());
        }
        if (m_legs.empty()) return;
        ClientDataSet list;
        list.CreateDataSet(OrderListFieldDefs(), IdxOrderIDDesc());
        for (const Step* leg : m_legs) {
            list.Append();
            for (const FieldValue& f : leg->fields) list.FieldByName(f.field).SetValue(ValueOf(f));
            list.Post();
        }
        list.SaveToFile((m_desk.DataDir() / "Orderlist.xml").string());
    }

    void Send(const Step& s) {
        const int32_t wparam = Resolve(s.wparam), lparam = Resolve(s.lparam);
        const int32_t got = m_desk.Send(s.link, s.msg, wparam, lparam);
        const std::string sent = s.link + ": " + s.msgText + " " + std::to_string(wparam) + " " +
                                 std::to_string(lparam) + " answered ";
        if (!s.binds) {
            const int32_t want = Resolve(s.answer);
            if (got != want) Failed(s, sent + std::to_string(got) + ", expected " + std::to_string(want));
            return;
        }
        bool taken = got <= 0;
        for (const auto& [name, id] : m_orders) taken = taken || id == got;
        if (taken)
            throw ScenarioError(sent + std::to_string(got) + ": no new OrderID for $" + s.answer.order);
        m_orders[s.answer.order] = got;
    }

    ClientDataSet& Saved() {
        if (!m_saved) {
            m_saved = std::make_unique<ClientDataSet>();
            m_saved->LoadFromFile((m_desk.DataDir() / "Orderlist.xml").string());
        }
        return *m_saved;
    }
    // The saved leg of the step, or none (a failure noted).
    bool Locate(const Step& s) {
        const int32_t id = Resolve(s.leg);
        if (Saved().Locate("OrderID", Variant(id))) return true;
        Failed(s, "Orderlist.xml holds no leg " + std::to_string(id));
        return false;
    }

    void SavedLeg(const Step& s) {
        if (!Locate(s)) return;
        for (const FieldValue& f : s.fields) {
            const Variant want = ValueOf(f);
            const Variant got = Saved().FieldByName(f.field).Value();
            if (!Same(want, got, f.type))
                Failed(s, "leg " + std::to_string(Resolve(s.leg)) + ": " + f.field + " is " +
                              Text(got, f.type) + ", expected " + Text(want, f.type));
        }
    }

    // Each time no earlier than the one before, the first no earlier than the start and the
    // last no later than the stop; the file keeps milliseconds, so a second's slack.
    void SavedTimes(const Step& s) {
        if (!Locate(s)) return;
        constexpr double slack = 1.0 / kSecondsPerDay;
        const std::string leg = "leg " + std::to_string(Resolve(s.leg)) + ": ";
        auto show = [](TDateTime t) { return Text(Variant(t), FieldType::DateTime); };
        std::string before = "the desk's start";
        TDateTime last = m_started;
        for (const std::string& field : s.times) {
            const TDateTime t = Saved().FieldByName(field).AsFloat();
            if (t < last - slack)
                Failed(s, leg + field + " " + show(t) + " lies before " + before + " " + show(last));
            before = field;
            last = t;
        }
        if (last > m_stopped + slack)
            Failed(s, leg + before + " " + show(last) + " lies after the desk's stop " + show(m_stopped));
    }

    void Notified(const Step& s) {
        if (!m_notifications) m_notifications = m_desk.Notifications();
        const std::vector<std::string>& lines = *m_notifications;
        for (size_t k = m_notifiedFrom; k < lines.size(); ++k)
            if (Reads(lines[k], s.text)) {
                m_notifiedFrom = k + 1;
                return;
            }
        std::string list;
        for (const std::string& line : lines) list += "\n  " + line;
        Failed(s, "no notification reads '" + s.text + "'" +
                      (m_notifiedFrom ? " after the one the line before names" : "") +
                      "; newest first:" + list);
    }

    ScenarioDesk& m_desk;
    std::string m_config;
    std::vector<const Step*> m_legs;
    std::map<std::string, int32_t> m_orders;
    TDateTime m_started = 0, m_stopped = 0;
    std::unique_ptr<ClientDataSet> m_saved;
    std::optional<std::vector<std::string>> m_notifications;
    size_t m_notifiedFrom = 0;
};

} // namespace

std::vector<Failure> RunScenario(const Scenario& scenario, ScenarioDesk& desk) {
    Run run(desk);
    for (const Step& s : scenario.steps) {
        try {
            run.Do(s);
        } catch (const std::exception& e) {
            run.failures.push_back({s.file, s.line, e.what()});
            break;
        }
    }
    return std::move(run.failures);
}

} // namespace quorvel::scenario
