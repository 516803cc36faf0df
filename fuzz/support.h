#pragma once
// What the fuzz targets share: a scratch folder for their files, a reader of the input's bytes,
// a check that aborts with a message, and a desk with plain controls and a view that checks
// every grid write against the grid's size.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "desk/core/desk.h"
#include "tests/support/fakes.h"

namespace quorvel::fuzz {

// Aborts with `what` on stderr when `ok` is false: a fault the run must report.
void Check(bool ok, const char* what);

// A folder of this process's own under the temporary folder (TMPDIR), one per area, removed
// at exit. Put TMPDIR on a memory file system for speed: the saves flush to disk.
class Scratch {
public:
    explicit Scratch(const std::string& area);
    const std::string& Dir() const { return m_dir; }
    std::string File(const std::string& name) const { return m_dir + "/" + name; }
    // Removes every entry but `keep`.
    void Clear(std::string_view keep = {}) const;
    void Write(const std::string& name, std::string_view bytes) const;

private:
    std::string m_dir;
};

// Takes values from the front of the input; past its end every value is 0.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : m_p(data), m_n(size) {}
    bool Empty() const { return m_n == 0; }
    size_t Left() const { return m_n; }
    uint8_t U8() {
        if (m_n == 0) return 0;
        --m_n;
        return *m_p++;
    }
    uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
    uint32_t U32() { return static_cast<uint32_t>(U16()) | static_cast<uint32_t>(U16()) << 16; }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    double F64() {
        uint64_t bits = static_cast<uint64_t>(U32()) | static_cast<uint64_t>(U32()) << 32;
        double d;
        static_assert(sizeof d == sizeof bits);
        __builtin_memcpy(&d, &bits, sizeof d);
        return d;
    }
    // Up to `max` bytes as text.
    std::string Text(size_t max) {
        const size_t n = max < m_n ? max : m_n;
        std::string s(reinterpret_cast<const char*>(m_p), n);
        m_p += n;
        m_n -= n;
        return s;
    }
    std::string Rest() { return Text(m_n); }

private:
    const uint8_t* m_p;
    size_t m_n;
};

// The view of the unit tests without storing cells: every grid write must lie inside the grid
// as sized, and every label write must name a table.
class CheckingView : public test::FakeView {
public:
    void SetGridCell(Grid g, int t, int col, int row, std::string_view text) override;
    void SetFrameLabel(int t, FrameLabel l, std::string_view text) override;
    void SetGridRowCount(Grid g, int t, int rows) override;
    void SetGridColCount(Grid g, int t, int cols) override;
    void SetGridColWidth(Grid g, int t, int col, int width) override;
    void Reset();
};

// A created desk with its state files in `scratch`: config.ini with `tables` tables written first, then
// the creation sequence, with ticked broker lists.
struct DeskRig {
    DeskRig(const Scratch& scratch, int tables);
    test::FakeControls controls;
    CheckingView view;
    ManualClock clock{45000.25};
    std::unique_ptr<Desk> desk;
};

// A fresh start state for the next input, as a start with `tables` tables leaves it: grids,
// quotes, minima, cross spreads, alerts and an empty order list; the clock back at its start.
void ResetDeskState(DeskRig& rig, int tables);

} // namespace quorvel::fuzz
