#pragma once
// Values, fields and aggregates of the client dataset engine (see clientdataset.h).
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/timestamp.h"

namespace quorvel {

class DataSetError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// String: a text of any length (the order list uses none).
enum class FieldType { Integer, Float, Currency, DateTime, Boolean, AutoInc, String };

struct FieldDef {
    std::string name;
    FieldType type;
};

// A field value that may be null. Integers, booleans and date-times are held as doubles
// (every 32-bit integer is exact in a double); a text as itself.
class Variant {
public:
    enum class Kind { Null, Integer, Float, Boolean, String };
    Variant() = default;
    Variant(int32_t v) : m_kind(Kind::Integer), m_v(v) {}
    Variant(int64_t v) : m_kind(Kind::Integer), m_v(static_cast<double>(v)) {}
    Variant(double v) : m_kind(Kind::Float), m_v(v) {}
    Variant(bool v) : m_kind(Kind::Boolean), m_v(v ? 1.0 : 0.0) {}
    Variant(std::string s) : m_kind(Kind::String), m_s(std::move(s)) {}
    Variant(const char* s) : m_kind(Kind::String), m_s(s) {}
    static Variant Null() { return Variant(); }
    static Variant Of(FieldType type, double raw);

    Kind kind() const { return m_kind; }
    bool IsNull() const { return m_kind == Kind::Null; }
    double Raw() const { return m_v; }
    // Conversions a null gives 0, 0.0, False or empty text for; a real converts to an integer
    // by rounding half to even; a text converts when it reads as a number (point decimals).
    int32_t AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    std::string AsString() const;
    bool operator==(const Variant& o) const {
        return m_kind == o.m_kind && (m_kind == Kind::String ? m_s == o.m_s : IsNull() || m_v == o.m_v);
    }

private:
    Kind m_kind = Kind::Null;
    double m_v = 0.0;
    std::string m_s;
};

enum class Alignment { Left, Right, Center };

class ClientDataSet;

// A persistent field of a cursor: a column of the table (or a calculated value) with its
// display settings. Reads and writes act on the cursor's current record.
class Field {
public:
    const std::string& FieldName() const { return m_name; }
    FieldType DataType() const { return m_type; }
    bool Calculated() const { return m_calculated; }
    ClientDataSet& DataSet() const { return *m_ds; }
    bool IsNumeric() const {
        return m_type != FieldType::Boolean && m_type != FieldType::DateTime && m_type != FieldType::String;
    }

    // Display settings.
    std::string DisplayLabel;
    int DisplayWidth = 10;
    std::string DisplayFormat; // "0.00000" for numbers, "hh:nn:ss,zzz" for date-times
    std::string EditMask;
    std::string DisplayValues; // Boolean "True;False"
    Alignment alignment = Alignment::Right;
    bool Visible = true;
    bool ReadOnly = false;
    bool Required = false;
    // Replaces the text a field gives; displayText tells whether the text is for showing.
    std::function<void(Field&, std::string& text, bool displayText)> OnGetText;
    std::function<void(Field&, const std::string& text)> OnSetText;

    // The title of a column: the display label, else the field name.
    const std::string& DisplayName() const { return DisplayLabel.empty() ? m_name : DisplayLabel; }

    // Values of the current record. A null reads as 0, 0.0, False or empty text.
    bool IsNull() const;
    Variant Value() const;
    int32_t AsInteger() const { return Value().AsInteger(); }
    double AsFloat() const { return Value().AsFloat(); }
    double AsCurrency() const { return Value().AsFloat(); }
    TDateTime AsDateTime() const { return Value().AsFloat(); }
    bool AsBoolean() const { return Value().AsBoolean(); }
    std::string AsString() const; // the value as text (no display format, no OnGetText)
    void SetAsString(const std::string& v) { SetValue(Variant(v)); }
    // The text shown for the current record: OnGetText, else the display format applied.
    std::string DisplayText() const;

    // Writes; the cursor must be in edit or insert state (a calculated field: while the
    // cursor calculates).
    void SetValue(const Variant& v);
    void SetAsInteger(int32_t v) { SetValue(Variant(v)); }
    void SetAsFloat(double v) { SetValue(Variant(v)); }
    void SetAsCurrency(double v) { SetValue(Variant(v)); }
    void SetAsDateTime(TDateTime v) { SetValue(Variant(v)); }
    void SetAsBoolean(bool v) { SetValue(Variant(v)); }
    void Clear() { SetValue(Variant()); }

private:
    friend class ClientDataSet;
    Field(ClientDataSet* ds, std::string name, FieldType type, bool calculated);
    std::string FormatValue(const Variant& v, bool display) const;
    ClientDataSet* m_ds;
    std::string m_name;
    FieldType m_type;
    bool m_calculated;
    int m_column = -1; // column in the table; -1 while closed or calculated
    int m_calcSlot = -1;
};

// An aggregate of a cursor: "Sum(Field)" over every record of the table, kept up to date;
// "Min(Field)" and "Max(Field)" over the records the cursor's filter shows, found when read.
class Aggregate {
public:
    const std::string& AggregateName() const { return m_name; }
    const std::string& Expression() const { return m_expr; }
    bool Active = false;
    // The value, or null when no record holds a value in the field (or the aggregate or the
    // cursor's aggregates are off, or the cursor is closed).
    Variant Value() const;

private:
    friend class ClientDataSet;
    Aggregate(ClientDataSet* ds, std::string name, std::string expr);
    ClientDataSet* m_ds;
    std::string m_name;
    std::string m_expr;
    std::string m_field;
    enum class Kind { Sum, Min, Max } m_kind = Kind::Sum;
};

} // namespace quorvel
