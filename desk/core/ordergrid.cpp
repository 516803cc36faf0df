#include "desk/core/ordergrid.h"

#include "desk/core/spreadtables.h"
#include "platform/ascii.h"
#include "platform/displayformat.h"

namespace quorvel {

bool OrderGridBanded(int recNo) {
    return IsBandedRow(recNo);
}

std::optional<unsigned> OrderGridFontColour(const Field& field) {
    const std::string& name = field.FieldName();
    if ((AsciiSameText(name, "Gewinn") || AsciiSameText(name, "GewinnPips")) &&
        field.DataType() == FieldType::Currency) {
        const double v = field.AsCurrency();
        if (v < 0) return clRed;
        if (v > 0) return clGreen;
        return std::nullopt;
    }
    if (AsciiSameText(name, "Ticket")) return clBlue;
    return std::nullopt;
}

namespace {
unsigned ProfitColour(const Variant& sum) {
    if (sum.IsNull() || sum.AsFloat() < 0) return clRed;
    return sum.AsFloat() > 0 ? clGreen : clBlack;
}
} // namespace

SumLabelText ProfitSumText(const Variant& sum) {
    return {"P/L: " + FormatFixed(sum.AsFloat(), 2), ProfitColour(sum)};
}

SumLabelText ProfitPipsSumText(const Variant& sum) {
    return {"P/L Pips: " + FormatFixed(sum.AsFloat(), 5), ProfitColour(sum)};
}

SumLabelText LotsSumText(const Variant& sum) {
    return {"Lots: " + FormatFixed(sum.AsFloat(), 2), clBlack};
}

} // namespace quorvel
