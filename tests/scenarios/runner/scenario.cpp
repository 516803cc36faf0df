#include "scenario.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "desk/core/orderlist.h"
#include "platform/ealink.h"
#include "platform/messages.h"

namespace quorvel::scenario {

namespace fs = std::filesystem;

namespace {

// The statuses and order types by the names the desk's code gives them.
struct NamedValue {
    const char* name;
    int32_t value;
};
constexpr NamedValue kConstants[] = {
    {"stNoLeg", stNoLeg},   {"stToOpen", stToOpen},       {"stPending", stPending},
    {"stOpened", stOpened}, {"stCloseCond", stCloseCond}, {"stToClose", stToClose},
    {"stClosed", stClosed}, {"stCanceled", stCanceled},   {"otNone", otNone},
    {"otBuy", otBuy},       {"otSell", otSell},
};

// The fixed answers of the three messages of a complete quote.
constexpr int32_t kBidAnswer = FixedAnswer(EAMsg::NewDataBid).value();
constexpr int32_t kAskAnswer = FixedAnswer(EAMsg::NewDataAsk).value();
constexpr int32_t kCompleteAnswer = FixedAnswer(EAMsg::DataComplete).value();

bool ParseInteger(const std::string& text, int32_t& out) {
    for (const NamedValue& c : kConstants)
        if (text == c.name) {
            out = c.value;
            return true;
        }
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    // Decimal, or hexadecimal after 0x; a leading 0 makes no octal number.
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const long long v = std::strtoll(text.c_str(), &end, hex ? 16 : 10);
    if (errno || *end || v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ParseDecimal(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return !errno && !*end;
}

const char* TypeText(FieldType type) {
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc:
        return "an integer";
    case FieldType::Float:
    case FieldType::Currency:
        return "a decimal number";
    case FieldType::DateTime:
        return "now or a day number";
    case FieldType::Boolean:
        return "true or false";
    case FieldType::String:
        return "a text";
    }
    return "a value";
}

// The order list's field of that name, or none.
const FieldDef* OrderListField(const std::string& name) {
    const std::vector<FieldDef>& defs = OrderListFieldDefs();
    const auto def =
        std::find_if(defs.begin(), defs.end(), [&](const FieldDef& d) { return d.name == name; });
    return def == defs.end() ? nullptr : &*def;
}

std::vector<std::string> Tokens(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string t; in >> t;) out.push_back(t);
    return out;
}

enum class Phase { Setup, Running, Stopped };

class Parser {
public:
    Scenario Take() { return std::move(m_out); }

    void File(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        if (!in) throw ScenarioError(Where() + "cannot read " + file.string());
        std::ostringstream text;
        text << in.rdbuf();
        Text(file.string(), text.str(), file.parent_path());
    }

    void Text(const std::string& name, std::string_view text, const fs::path& dir) {
        const fs::path self = fs::weakly_canonical(dir / fs::path(name).filename());
        if (std::find(m_including.begin(), m_including.end(), self) != m_including.end())
            throw ScenarioError(Where() + name + " includes itself");
        m_including.push_back(self);
        int number = 0;
        for (size_t at = 0; at <= text.size();) {
            size_t end = text.find('\n', at);
            if (end == std::string_view::npos) end = text.size();
            std::string line(text.substr(at, end - at));
            at = end + 1;
            ++number;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            m_places.push_back({name, number});
            Line(line, dir);
            m_places.pop_back();
        }
        m_including.pop_back();
    }

private:
    // "file:line: " of the line being read, empty outside every file.
    std::string Where() const {
        return m_places.empty() ? std::string()
                                : m_places.back().first + ":" + std::to_string(m_places.back().second) + ": ";
    }
    [[noreturn]] void Fail(const std::string& what) const { throw ScenarioError(Where() + what); }

    void Line(const std::string& line, const fs::path& dir) {
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') return;
        std::vector<std::string> t = Tokens(line);
        std::string link;
        if (t[0].size() > 1 && t[0].back() == ':') {
            link = t[0].substr(0, t[0].size() - 1);
            t.erase(t.begin());
            if (t.empty() || (t[0] != "send" && t[0] != "quote"))
                Fail("only send and quote go over a link: " + link + ":");
            if (!m_links.count(link)) Fail("no link " + link + ": connect it first");
        }
        const std::string& verb = t[0];
        if (verb == "include") {
            if (t.size() != 2) Fail("include needs one file");
            File(dir / t[1]);
        } else if (verb == "set") {
            if (t.size() != 3) Fail("set needs a name and a value");
            if (m_orders.count(t[1])) Fail("$" + t[1] + " is an OrderID an answer bound");
            m_sets[t[1]] = t[2];
        } else if (verb == "config") {
            Require(Phase::Setup, verb);
            if (t.size() < 2) Fail("config needs KEY=VALUE");
            for (size_t k = 1; k < t.size(); ++k) {
                const size_t eq = t[k].find('=');
                if (eq == std::string::npos || eq == 0) Fail("expected KEY=VALUE, got " + t[k]);
                const std::string key = t[k].substr(0, eq);
                if (!m_configKeys.insert(key).second) Fail("config key " + key + " is given twice");
                Step s = Make(Op::Config);
                s.text = key + "=" + Value(t[k].substr(eq + 1));
                m_out.steps.push_back(std::move(s));
            }
        } else if (verb == "legs" || verb == "leg") {
            Require(Phase::Setup, verb);
            std::vector<FieldValue> fields = Fields(t, 1);
            if (verb == "legs") {
                for (FieldValue& f : fields) Merge(m_legDefaults, std::move(f));
                return;
            }
            Step s = Make(Op::Leg);
            s.fields = m_legDefaults;
            for (FieldValue& f : fields) Merge(s.fields, std::move(f));
            m_out.steps.push_back(std::move(s));
        } else if (verb == "start") {
            if (m_phase != Phase::Setup) Fail("the desk starts once");
            Exactly(t, 1);
            m_phase = Phase::Running;
            m_out.steps.push_back(Make(Op::Start));
        } else if (verb == "connect") {
            Require(Phase::Running, verb);
            if (t.size() != 2) Fail("connect needs a link name");
            if (!m_links.insert(t[1]).second) Fail("link " + t[1] + " is connected already");
            Step s = Make(Op::Connect);
            s.link = t[1];
            m_out.steps.push_back(std::move(s));
        } else if (verb == "send" || verb == "quote") {
            if (link.empty()) Fail(verb + " needs a link: LINK: " + verb + " ...");
            Require(Phase::Running, verb);
            if (verb == "send")
                Send(t, link);
            else
                Quote(t, link);
        } else if (verb == "stop") {
            if (m_phase == Phase::Stopped) Fail("the desk stops once");
            Require(Phase::Running, verb);
            Exactly(t, 1);
            m_phase = Phase::Stopped;
            m_out.steps.push_back(Make(Op::Stop));
        } else if (verb == "saved") {
            Require(Phase::Stopped, verb);
            Saved(t);
        } else if (verb == "notified") {
            Require(Phase::Stopped, verb);
            const size_t at = line.find("notified") + 8;
            const size_t from = line.find_first_not_of(" \t", at);
            if (from == std::string::npos) Fail("notified needs a text");
            Step s = Make(Op::Notified);
            s.text = line.substr(from);
            s.text.erase(s.text.find_last_not_of(" \t") + 1);
            m_out.steps.push_back(std::move(s));
        } else {
            Fail("unknown step " + verb);
        }
    }

    void Require(Phase wanted, const std::string& verb) const {
        if (m_phase == wanted) return;
        if (wanted == Phase::Setup) Fail(verb + " comes before start");
        if (wanted == Phase::Running)
            Fail(verb + (m_phase == Phase::Setup ? " comes after start" : " comes before stop"));
        Fail(verb + " comes after stop");
    }
    void Exactly(const std::vector<std::string>& t, size_t n) const {
        if (t.size() != n)
            Fail(t[0] + " takes " + (n == 1 ? "nothing more" : std::to_string(n - 1) + " values"));
    }
    Step Make(Op op) const {
        Step s;
        s.op = op;
        s.file = m_places.back().first;
        s.line = m_places.back().second;
        return s;
    }

    // A value as written, $NAME of a set value replaced by its text.
    std::string Value(const std::string& text) const {
        if (text.size() < 2 || text[0] != '$') return text;
        const auto it = m_sets.find(text.substr(1));
        if (it != m_sets.end()) return it->second;
        if (m_orders.count(text.substr(1))) Fail(text + " is an OrderID, not a value here");
        Fail(text + " is neither set nor bound by an answer before this line");
    }
    // A number, a set value or a bound OrderID.
    Number Integer(const std::string& text) const {
        Number n;
        if (text.size() > 1 && text[0] == '$' && m_orders.count(text.substr(1))) {
            n.order = text.substr(1);
            return n;
        }
        const std::string v = Value(text);
        if (!ParseInteger(v, n.value)) Fail(v + " is not a 32-bit integer");
        return n;
    }

    std::vector<FieldValue> Fields(const std::vector<std::string>& t, size_t from) const {
        std::vector<FieldValue> out;
        for (size_t k = from; k < t.size(); ++k) {
            const size_t eq = t[k].find('=');
            if (eq == std::string::npos || eq == 0) Fail("expected FIELD=VALUE, got " + t[k]);
            FieldValue f;
            f.field = t[k].substr(0, eq);
            const FieldDef* def = OrderListField(f.field);
            if (!def) Fail("no field " + f.field + " in the order list");
            f.type = def->type;
            const std::string raw = t[k].substr(eq + 1);
            if (raw.size() > 1 && raw[0] == '$' && m_orders.count(raw.substr(1))) {
                if (f.type != FieldType::Integer)
                    Fail(raw + " is an OrderID; " + f.field + " is " + TypeText(f.type));
                f.text = raw.substr(1);
                f.order = true;
            } else {
                f.text = Value(raw);
                try {
                    FieldVariant(f.type, f.text, 0);
                } catch (const ScenarioError& e) {
                    Fail(f.field + "=" + f.text + ": " + e.what());
                }
            }
            out.push_back(std::move(f));
        }
        return out;
    }
    static void Merge(std::vector<FieldValue>& into, FieldValue f) {
        for (FieldValue& g : into)
            if (g.field == f.field) {
                g = std::move(f);
                return;
            }
        into.push_back(std::move(f));
    }

    // send MSG WPARAM [LPARAM] -> ANSWER
    void Send(const std::vector<std::string>& t, const std::string& link) {
        const auto arrow = std::find(t.begin(), t.end(), "->");
        const size_t before = static_cast<size_t>(arrow - t.begin());
        if (arrow == t.end() || before < 3 || before > 4 || t.end() - arrow != 2)
            Fail("send needs MSG WPARAM [LPARAM] -> ANSWER");
        Step s = Make(Op::Send);
        s.link = link;
        s.msgText = t[1];
        s.msg = Message(t[1]);
        s.wparam = Integer(t[2]);
        if (before == 4) s.lparam = Integer(t[3]);
        const std::string& answer = t[before + 1];
        if (answer.size() > 1 && answer[0] == '$' && !m_sets.count(answer.substr(1)) &&
            !m_orders.count(answer.substr(1))) {
            s.binds = true;
            s.answer.order = answer.substr(1);
            m_orders.insert(s.answer.order);
        } else {
            s.answer = Integer(answer);
        }
        m_out.steps.push_back(std::move(s));
    }
    // quote EA BID ASK: bid, ask and data complete with their fixed answers.
    void Quote(const std::vector<std::string>& t, const std::string& link) {
        if (t.size() != 4) Fail("quote needs EA BID ASK");
        const Number ea = Integer(t[1]);
        const struct {
            int32_t msg;
            std::string_view name;
            Number lparam;
            int32_t answer;
        } messages[] = {{EAMsg::NewDataBid, MessageName(EAMsg::NewDataBid), Integer(t[2]), kBidAnswer},
                        {EAMsg::NewDataAsk, MessageName(EAMsg::NewDataAsk), Integer(t[3]), kAskAnswer},
                        {EAMsg::DataComplete, MessageName(EAMsg::DataComplete), Number{}, kCompleteAnswer}};
        for (const auto& p : messages) {
            Step s = Make(Op::Send);
            s.link = link;
            s.msg = p.msg;
            s.msgText = std::string(p.name);
            s.wparam = ea;
            s.lparam = p.lparam;
            s.answer.value = p.answer;
            m_out.steps.push_back(std::move(s));
        }
    }
    int32_t Message(const std::string& text) const {
        if (const auto named = MessageByName(text)) return *named;
        int32_t n = 0;
        if (!ParseMessageNumber(text, n)) Fail("unknown message " + text);
        return n;
    }

    // saved legs N | saved leg ID FIELD=VALUE ... | saved times ID FIELD ...
    void Saved(const std::vector<std::string>& t) {
        if (t.size() < 3) Fail("saved needs legs N, leg ID FIELD=VALUE ... or times ID FIELD ...");
        if (t[1] == "legs") {
            Exactly(t, 3);
            Step s = Make(Op::SavedLegs);
            s.leg = Integer(t[2]);
            m_out.steps.push_back(std::move(s));
        } else if (t[1] == "leg") {
            if (t.size() < 4) Fail("saved leg needs an OrderID and FIELD=VALUE");
            Step s = Make(Op::SavedLeg);
            s.leg = Integer(t[2]);
            s.fields = Fields(t, 3);
            m_out.steps.push_back(std::move(s));
        } else if (t[1] == "times") {
            if (t.size() < 4) Fail("saved times needs an OrderID and date-time fields");
            Step s = Make(Op::SavedTimes);
            s.leg = Integer(t[2]);
            for (size_t k = 3; k < t.size(); ++k) {
                const FieldDef* def = OrderListField(t[k]);
                if (!def || def->type != FieldType::DateTime)
                    Fail(t[k] + " is no date-time field of the order list");
                s.times.push_back(t[k]);
            }
            m_out.steps.push_back(std::move(s));
        } else {
            Fail("saved needs legs N, leg ID FIELD=VALUE ... or times ID FIELD ...");
        }
    }

    Scenario m_out;
    std::vector<std::pair<std::string, int>> m_places; // file and line, the innermost last
    std::vector<fs::path> m_including;
    std::map<std::string, std::string> m_sets;
    std::set<std::string> m_orders;
    std::set<std::string> m_links;
    std::set<std::string> m_configKeys;
    std::vector<FieldValue> m_legDefaults;
    Phase m_phase = Phase::Setup;
};

} // namespace

Variant FieldVariant(FieldType type, const std::string& text, TDateTime now) {
    if (text == "null") return Variant();
    auto bad = [&]() -> Variant { throw ScenarioError("not " + std::string(TypeText(type))); };
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc: {
        int32_t v = 0;
        return ParseInteger(text, v) ? Variant(v) : bad();
    }
    case FieldType::Float:
    case FieldType::Currency: {
        double v = 0;
        return ParseDecimal(text, v) ? Variant(v) : bad();
    }
    case FieldType::DateTime: {
        double v = 0;
        if (text == "now") return Variant(now);
        return ParseDecimal(text, v) ? Variant(v) : bad();
    }
    case FieldType::Boolean:
        return text == "true" ? Variant(true) : text == "false" ? Variant(false) : bad();
    case FieldType::String:
        return Variant(text);
    }
    return bad();
}

Scenario ParseScenario(const fs::path& file) {
    Parser p;
    p.File(file);
    return p.Take();
}

Scenario ParseScenarioText(const std::string& name, std::string_view text, const fs::path& dir) {
    Parser p;
    p.Text(name, text, dir);
    return p.Take();
}

} // namespace quorvel::scenario
