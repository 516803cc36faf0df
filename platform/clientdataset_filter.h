#pragma once
// Filter expressions of a cursor: comparisons of fields with numbers, texts in single quotes
// ('' for a quote inside) or other fields, joined by AND, OR, NOT and parentheses. A text
// compared with "=" (or "<>") that ends in "*" matches every value whose text starts with
// the rest. A comparison with a null value is false.
#include <memory>
#include <string>

#include "platform/clientdataset_table.h"

namespace quorvel::cds {

class FilterExpr {
public:
    virtual ~FilterExpr() = default;
    // Throws DataSetError for a malformed text or a field the table does not hold.
    static std::unique_ptr<FilterExpr> Parse(const std::string& text, const Table& table,
                                             bool caseInsensitive);
    virtual bool Matches(const Table& table, const Record& r) const = 0;
};

} // namespace quorvel::cds
