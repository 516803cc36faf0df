// Values, fields and aggregates of a client dataset cursor.
#include <cmath>

#include "platform/ascii.h"
#include "platform/clientdataset_table.h"
#include "platform/displayformat.h"
#include "platform/numbers.h"

namespace quorvel {

using cds::Table;

// ---- Variant ---------------------------------------------------------------------------------

Variant Variant::Of(FieldType type, double raw) {
    Variant v;
    v.m_v = raw;
    switch (type) {
    case FieldType::Integer:
    case FieldType::AutoInc:
        v.m_kind = Kind::Integer;
        break;
    case FieldType::Boolean:
        v.m_kind = Kind::Boolean;
        break;
    default:
        v.m_kind = Kind::Float;
        break;
    }
    return v;
}

int32_t Variant::AsInteger() const {
    if (IsNull()) return 0;
    if (m_kind == Kind::String) {
        const auto n = ParseInt32(m_s);
        if (!n) throw DataSetError("'" + m_s + "' is not a valid integer value");
        return *n;
    }
    const double r = RoundHalfEven(m_v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw DataSetError("'" + AsString() + "' is not a valid integer value");
    return static_cast<int32_t>(r);
}

double Variant::AsFloat() const {
    if (m_kind != Kind::String) return IsNull() ? 0.0 : m_v;
    const auto d = ParseDouble(m_s, '.');
    if (!d) throw DataSetError("'" + m_s + "' is not a valid floating point value");
    return *d;
}

bool Variant::AsBoolean() const {
    if (m_kind != Kind::String) return !IsNull() && m_v != 0.0;
    if (AsciiSameText(m_s, "True")) return true;
    if (AsciiSameText(m_s, "False") || m_s.empty()) return false;
    throw DataSetError("'" + m_s + "' is not a valid boolean value");
}

std::string Variant::AsString() const {
    switch (m_kind) {
    case Kind::Null:
        return {};
    case Kind::String:
        return m_s;
    case Kind::Integer:
        return std::to_string(static_cast<int64_t>(m_v));
    case Kind::Boolean:
        return m_v != 0.0 ? "True" : "False";
    case Kind::Float:
        return FormatGeneral(m_v);
    }
    return {};
}

// ---- Field -----------------------------------------------------------------------------------

Field::Field(ClientDataSet* ds, std::string name, FieldType type, bool calculated)
    : m_ds(ds), m_name(std::move(name)), m_type(type), m_calculated(calculated) {
    switch (type) {
    case FieldType::Boolean:
        DisplayWidth = 5;
        alignment = Alignment::Center;
        break;
    case FieldType::DateTime:
        DisplayWidth = 18;
        alignment = Alignment::Left;
        break;
    case FieldType::String:
        DisplayWidth = 20;
        alignment = Alignment::Left;
        break;
    default:
        DisplayWidth = 10;
        alignment = Alignment::Right;
        break;
    }
    if (type == FieldType::AutoInc) ReadOnly = true;
}

bool Field::IsNull() const {
    return Value().IsNull();
}

Variant Field::Value() const {
    m_ds->CheckActive();
    if (m_calculated) {
        if (!m_ds->m_calculating && !m_ds->m_calcValid) m_ds->RunCalcFields();
        return m_ds->m_calc[static_cast<size_t>(m_calcSlot)];
    }
    const double* row = m_ds->ReadRow();
    if (!row || m_ds->ReadNull(m_column)) return Variant();
    if (m_type == FieldType::String) return Variant(m_ds->m_table->TextOf(row[m_column]));
    return Variant::Of(m_type, row[m_column]);
}

std::string Field::AsString() const {
    return FormatValue(Value(), false);
}

std::string Field::DisplayText() const {
    if (OnGetText) {
        std::string text;
        OnGetText(const_cast<Field&>(*this), text, true);
        return text;
    }
    return FormatValue(Value(), true);
}

std::string Field::FormatValue(const Variant& v, bool display) const {
    if (v.IsNull()) return {};
    switch (m_type) {
    case FieldType::String:
        return v.AsString();
    case FieldType::Boolean: {
        if (display && !DisplayValues.empty()) {
            const auto semi = DisplayValues.find(';');
            const std::string t = DisplayValues.substr(0, semi);
            const std::string f = semi == std::string::npos ? std::string() : DisplayValues.substr(semi + 1);
            return v.AsBoolean() ? t : f;
        }
        return v.AsBoolean() ? "True" : "False";
    }
    case FieldType::DateTime:
        return FormatDateTime(display && !DisplayFormat.empty() ? DisplayFormat : "dd/mm/yyyy hh:nn:ss",
                              v.Raw());
    case FieldType::Integer:
    case FieldType::AutoInc:
        if (display && !DisplayFormat.empty()) return FormatNumber(DisplayFormat, v.Raw());
        return std::to_string(static_cast<int64_t>(v.Raw()));
    default:
        if (display && !DisplayFormat.empty()) return FormatNumber(DisplayFormat, v.Raw());
        return FormatGeneral(v.Raw());
    }
}

void Field::SetValue(const Variant& in) {
    ClientDataSet& ds = *m_ds;
    ds.CheckActive();
    if (m_calculated) {
        if (!ds.m_calculating) throw DataSetError("Field '" + m_name + "' cannot be modified");
        ds.m_calc[static_cast<size_t>(m_calcSlot)] = in;
        return;
    }
    if (ds.m_state != DataSetState::Edit && ds.m_state != DataSetState::Insert)
        throw DataSetError("Dataset not in edit or insert mode");
    if (ReadOnly) throw DataSetError("Field '" + m_name + "' cannot be modified");
    const uint64_t bit = 1ull << m_column;
    if (in.IsNull()) {
        ds.m_bufNulls |= bit;
        return;
    }
    double v = in.kind() == Variant::Kind::String && m_type != FieldType::String ? in.AsFloat() : in.Raw();
    switch (m_type) {
    case FieldType::String:
        v = ds.m_table->Intern(in.AsString());
        break;
    case FieldType::Integer:
    case FieldType::AutoInc:
        v = static_cast<double>(in.AsInteger());
        break;
    case FieldType::Boolean:
        v = in.AsBoolean() ? 1.0 : 0.0;
        break;
    case FieldType::DateTime:
        // 0001-01-01 .. 9999-12-31: what the data packet can hold.
        if (!(v >= -693593.0 && v < 2958466.0))
            throw DataSetError("Invalid date-time value for '" + m_name + "'");
        break;
    default:
        if (!std::isfinite(v)) throw DataSetError("Invalid floating point value for '" + m_name + "'");
        break;
    }
    ds.m_buf[static_cast<size_t>(m_column)] = v;
    ds.m_bufNulls &= ~bit;
}

// ---- Aggregate -------------------------------------------------------------------------------

Aggregate::Aggregate(ClientDataSet* ds, std::string name, std::string expr)
    : m_ds(ds), m_name(std::move(name)), m_expr(std::move(expr)) {
    std::string e;
    for (char c : m_expr)
        if (c != ' ') e += c;
    const std::string le = AsciiLower(e);
    if (le.compare(0, 4, "min(") == 0)
        m_kind = Kind::Min;
    else if (le.compare(0, 4, "max(") == 0)
        m_kind = Kind::Max;
    else if (le.compare(0, 4, "sum(") != 0)
        throw DataSetError("Unsupported aggregate expression '" + m_expr + "'");
    if (le.size() < 6 || le.back() != ')')
        throw DataSetError("Unsupported aggregate expression '" + m_expr + "'");
    m_field = e.substr(4, e.size() - 5);
}

Variant Aggregate::Value() const {
    if (!Active || !m_ds->Active() || !m_ds->AggregatesActive) return Variant();
    Table& t = *m_ds->m_table;
    const int c = t.Column(m_field);
    if (c < 0) throw DataSetError("Field '" + m_field + "' not found");
    if (m_kind != Kind::Sum) {
        const FieldType type = t.defs[static_cast<size_t>(c)].type;
        if (type == FieldType::Boolean || type == FieldType::String)
            throw DataSetError("Field '" + m_field + "' has no numeric order");
        bool any = false;
        double best = 0.0;
        for (const auto& r : t.records) {
            if (r->IsNull(c) || !m_ds->Shows(r.get())) continue;
            const double v = r->v[static_cast<size_t>(c)];
            if (!any || (m_kind == Kind::Min ? v < best : v > best)) best = v;
            any = true;
        }
        return any ? Variant::Of(type, best) : Variant();
    }
    if (t.defs[static_cast<size_t>(c)].type == FieldType::String ||
        t.defs[static_cast<size_t>(c)].type == FieldType::Boolean ||
        t.defs[static_cast<size_t>(c)].type == FieldType::DateTime)
        throw DataSetError("Field '" + m_field + "' cannot be summed");
    const cds::SumAccum& s = t.Sum(c);
    if (s.count == 0) return Variant();
    if (s.unscalable) return Variant(t.PlainSum(c));
    return Variant(static_cast<double>(s.scaled) / 1e8);
}

} // namespace quorvel
