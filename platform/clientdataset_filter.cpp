// Parsing and evaluating the filter expressions of a cursor.
#include "platform/clientdataset_filter.h"

#include <cctype>

#include "platform/ascii.h"
#include "platform/displayformat.h"
#include "platform/numbers.h"

namespace quorvel::cds {

namespace {

enum class Op { Eq, Ne, Lt, Le, Gt, Ge };

// One side of a comparison.
struct Operand {
    enum class Kind { Column, Number, Text } kind = Kind::Number;
    int column = -1;
    double number = 0.0;
    std::string text;
};

// The text of a cell, as a text comparison sees it.
std::string CellText(const Table& t, const Record& r, int c) {
    const double v = r.v[static_cast<size_t>(c)];
    switch (t.defs[static_cast<size_t>(c)].type) {
    case FieldType::Integer:
    case FieldType::AutoInc:
        return std::to_string(static_cast<int64_t>(v));
    case FieldType::Boolean:
        return v != 0.0 ? "True" : "False";
    case FieldType::String:
        return t.TextOf(v);
    default:
        return FormatGeneral(v);
    }
}

template <class T> bool Compare(Op op, const T& a, const T& b) {
    switch (op) {
    case Op::Eq:
        return a == b;
    case Op::Ne:
        return a != b;
    case Op::Lt:
        return a < b;
    case Op::Le:
        return a <= b;
    case Op::Gt:
        return a > b;
    case Op::Ge:
        return a >= b;
    }
    return false;
}

struct Comparison : FilterExpr {
    Operand left, right;
    Op op = Op::Eq;
    bool prefix = false; // right is a text whose "*" was taken off
    bool caseInsensitive = false;

    bool Matches(const Table& t, const Record& r) const override {
        // A column compared with a text compares texts; otherwise numbers.
        const bool textual = left.kind == Operand::Kind::Text || right.kind == Operand::Kind::Text ||
                             (left.kind == Operand::Kind::Column && t.IsText(left.column)) ||
                             (right.kind == Operand::Kind::Column && t.IsText(right.column));
        auto value = [&](const Operand& o, double& num, std::string& text) {
            if (o.kind == Operand::Kind::Column) {
                if (r.IsNull(o.column)) return false;
                num = r.v[static_cast<size_t>(o.column)];
                if (textual) text = CellText(t, r, o.column);
            } else {
                num = o.number;
                text = o.kind == Operand::Kind::Text ? o.text : FormatGeneral(o.number);
            }
            if (caseInsensitive) text = AsciiLower(text);
            return true;
        };
        double a = 0, b = 0;
        std::string ta, tb;
        if (!value(left, a, ta) || !value(right, b, tb)) return false;
        if (!textual) return Compare(op, a, b);
        if (prefix) {
            const bool starts = ta.compare(0, tb.size(), tb) == 0;
            return op == Op::Eq ? starts : !starts;
        }
        return Compare(op, ta, tb);
    }
};

struct Junction : FilterExpr {
    bool isAnd = true;
    std::unique_ptr<FilterExpr> a, b;
    bool Matches(const Table& t, const Record& r) const override {
        return isAnd ? a->Matches(t, r) && b->Matches(t, r) : a->Matches(t, r) || b->Matches(t, r);
    }
};

struct Negation : FilterExpr {
    std::unique_ptr<FilterExpr> a;
    bool Matches(const Table& t, const Record& r) const override { return !a->Matches(t, r); }
};

class Parser {
public:
    Parser(const std::string& s, const Table& t, bool ci) : m_s(s), m_t(t), m_ci(ci) {}

    std::unique_ptr<FilterExpr> Whole() {
        auto e = Or();
        Skip();
        if (m_p != m_s.size()) Fail("unexpected text");
        return e;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw DataSetError("Filter expression incorrectly formatted (" + what + " at " +
                           std::to_string(m_p + 1) + "): " + m_s);
    }
    void Skip() {
        while (m_p < m_s.size() && std::isspace(static_cast<unsigned char>(m_s[m_p]))) ++m_p;
    }
    bool Word(const char* w) {
        Skip();
        const std::string_view word(w);
        if (m_s.size() - m_p < word.size() ||
            !AsciiSameText(std::string_view(m_s).substr(m_p, word.size()), word))
            return false;
        const size_t end = m_p + word.size();
        if (end < m_s.size() && (std::isalnum(static_cast<unsigned char>(m_s[end])) || m_s[end] == '_'))
            return false;
        m_p = end;
        return true;
    }
    bool Char(char c) {
        Skip();
        if (m_p < m_s.size() && m_s[m_p] == c) {
            ++m_p;
            return true;
        }
        return false;
    }
    std::unique_ptr<FilterExpr> Or() {
        auto e = And();
        while (Word("OR")) {
            auto j = std::make_unique<Junction>();
            j->isAnd = false;
            j->a = std::move(e);
            j->b = And();
            e = std::move(j);
        }
        return e;
    }
    std::unique_ptr<FilterExpr> And() {
        auto e = Unary();
        while (Word("AND")) {
            auto j = std::make_unique<Junction>();
            j->a = std::move(e);
            j->b = Unary();
            e = std::move(j);
        }
        return e;
    }
    std::unique_ptr<FilterExpr> Unary() {
        if (Word("NOT")) {
            auto n = std::make_unique<Negation>();
            n->a = Unary();
            return n;
        }
        if (Char('(')) {
            auto e = Or();
            if (!Char(')')) Fail("missing ')'");
            return e;
        }
        auto c = std::make_unique<Comparison>();
        c->caseInsensitive = m_ci;
        c->left = Value();
        c->op = Operator();
        c->right = Value();
        if (c->left.kind != Operand::Kind::Column && c->right.kind != Operand::Kind::Column)
            Fail("no field in comparison");
        if (c->right.kind == Operand::Kind::Text && !c->right.text.empty() && c->right.text.back() == '*' &&
            (c->op == Op::Eq || c->op == Op::Ne)) {
            c->right.text.pop_back();
            c->prefix = true;
        }
        return c;
    }
    Op Operator() {
        Skip();
        auto two = [&](const char* s) {
            if (m_s.compare(m_p, 2, s) == 0) {
                m_p += 2;
                return true;
            }
            return false;
        };
        if (two("<>")) return Op::Ne;
        if (two("<=")) return Op::Le;
        if (two(">=")) return Op::Ge;
        if (Char('=')) return Op::Eq;
        if (Char('<')) return Op::Lt;
        if (Char('>')) return Op::Gt;
        Fail("comparison expected");
    }
    Operand Value() {
        Skip();
        Operand o;
        if (m_p >= m_s.size()) Fail("value expected");
        const char c = m_s[m_p];
        if (c == '\'') {
            o.kind = Operand::Kind::Text;
            ++m_p;
            for (;;) {
                if (m_p >= m_s.size()) Fail("unterminated text");
                if (m_s[m_p] == '\'') {
                    if (m_p + 1 < m_s.size() && m_s[m_p + 1] == '\'') {
                        o.text += '\'';
                        m_p += 2;
                        continue;
                    }
                    ++m_p;
                    break;
                }
                o.text += m_s[m_p++];
            }
            return o;
        }
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '.') {
            size_t e = m_p + 1;
            while (e < m_s.size() && (std::isdigit(static_cast<unsigned char>(m_s[e])) || m_s[e] == '.' ||
                                      m_s[e] == 'e' || m_s[e] == 'E'))
                ++e;
            const auto v = ParseDouble(std::string_view(m_s).substr(m_p, e - m_p), '.');
            if (!v) Fail("malformed number");
            o.number = *v;
            m_p = e;
            return o;
        }
        std::string name;
        if (c == '[') {
            const size_t close = m_s.find(']', m_p);
            if (close == std::string::npos) Fail("missing ']'");
            name = m_s.substr(m_p + 1, close - m_p - 1);
            m_p = close + 1;
        } else {
            size_t e = m_p;
            while (e < m_s.size() && (std::isalnum(static_cast<unsigned char>(m_s[e])) || m_s[e] == '_')) ++e;
            if (e == m_p) Fail("value expected");
            name = m_s.substr(m_p, e - m_p);
            m_p = e;
        }
        if (AsciiSameText(name, "TRUE") || AsciiSameText(name, "FALSE")) {
            o.number = AsciiSameText(name, "TRUE") ? 1.0 : 0.0;
            return o;
        }
        o.kind = Operand::Kind::Column;
        o.column = m_t.Column(name);
        if (o.column < 0) throw DataSetError("Field '" + name + "' not found");
        return o;
    }

    const std::string& m_s;
    const Table& m_t;
    bool m_ci;
    size_t m_p = 0;
};

} // namespace

std::unique_ptr<FilterExpr> FilterExpr::Parse(const std::string& text, const Table& table,
                                              bool caseInsensitive) {
    return Parser(text, table, caseInsensitive).Whole();
}

} // namespace quorvel::cds
