// The real-number edit box driven as an operator types into it.
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "components/NumEdit.h"
#include "platform/numbers.h"
#include "tests/support/localescope.h"

using namespace quorvel;

namespace {

class RealEdit : public ::testing::Test {
protected:
    test::LocaleScope comma{','};

    // Types each character of `keys` as a key stroke at the caret.
    static void Type(TRealEdit& e, const QString& keys) {
        for (QChar ch : keys) QTest::keyClick(&e, ch.toLatin1());
    }
    static void Leave(TRealEdit& e, Qt::FocusReason reason = Qt::TabFocusReason) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QApplication::sendEvent(&e, &out);
    }
    static TRealEdit* Box(int precision, const QString& text = QString()) {
        auto* e = new TRealEdit;
        e->SetPrecision(precision);
        e->setText(text);
        e->setCursorPosition(static_cast<int>(text.size()));
        return e;
    }
};

TEST_F(RealEdit, StartsEmptyWithPrecisionThreeAndLeftAligned) {
    TRealEdit e;
    EXPECT_EQ(e.Precision(), 3);
    EXPECT_EQ(e.FormatStr(), "%.3f");
    EXPECT_EQ(e.Alignment(), TAlignment::taLeftJustify);
    EXPECT_TRUE(e.Enabled());
    EXPECT_EQ(e.Value(), 0.0);
    e.SetPrecision(5); // an empty box is not reformatted
    EXPECT_EQ(e.text(), "");
    EXPECT_EQ(e.FormatStr(), "%.5f");
    Leave(e);
    EXPECT_EQ(e.text(), "");
}

TEST_F(RealEdit, TypedTextIsCompletedWhenTheBoxIsLeft) {
    struct Case {
        int precision;
        const char* start;
        const char* typed;
        const char* whileTyping;
        const char* afterLeaving;
    };
    for (const Case& c : {
             Case{2, "1", ".", "1,", "1,00"},
             Case{5, "", "-", "-", "0,00000"},
             Case{2, "", "1e", "1e", "1,00"},
             Case{2, "", "12,345", "12,345", "12,35"}, // more decimals than shown: rounded on leaving
             Case{2, "1,5", ",", "1,5", "1,50"},       // a second comma
             Case{2, "1,5", "x", "1,5", "1,50"},       // a letter
             Case{2, "1", "-", "1", "1,00"},           // a sign after the first character
             Case{2, "1,5", " ", "1,5", "1,50"},       // a blank after it
             Case{2, "", "-,5e-1", "-,5e-1", "-0,05"},
         }) {
        std::unique_ptr<TRealEdit> e(Box(c.precision, c.start));
        Type(*e, c.typed);
        EXPECT_EQ(e->text(), c.whileTyping) << c.start << " + " << c.typed;
        Leave(*e);
        EXPECT_EQ(e->text(), c.afterLeaving) << c.start << " + " << c.typed;
    }
}

TEST_F(RealEdit, ABlankPassesInFrontAndShortcutCharactersAreDropped) {
    std::unique_ptr<TRealEdit> e(Box(2, "1,5"));
    e->setCursorPosition(0);
    QTest::keyClick(e.get(), Qt::Key_Space);
    EXPECT_EQ(e->text(), " 1,5");

    QApplication::clipboard()->setText("9");
    e->setCursorPosition(4);
    for (Qt::Key k : {Qt::Key_V, Qt::Key_X, Qt::Key_Z, Qt::Key_A})
        QTest::keyClick(e.get(), k, Qt::ControlModifier);
    EXPECT_EQ(e->text(), " 1,5");
    EXPECT_FALSE(e->hasSelectedText());

    // Backspace and Enter always pass.
    QSignalSpy enter(e.get(), &QLineEdit::returnPressed);
    QTest::keyClick(e.get(), Qt::Key_Backspace);
    EXPECT_EQ(e->text(), " 1,");
    QTest::keyClick(e.get(), Qt::Key_Return);
    EXPECT_EQ(enter.count(), 1);
    // Navigation keys are no characters and work as usual.
    QTest::keyClick(e.get(), Qt::Key_Home);
    EXPECT_EQ(e->cursorPosition(), 0);
}

TEST_F(RealEdit, LargeExponentsAreTypedAndKeptInExtendedPrecision) {
    struct Case {
        const char* start;
        const char* typed;
        const char* whileTyping;
        long double value;
        long double afterLeaving;
    };
    for (const Case& c : {
             Case{"1e3", "10", "1e310", 1e310L, 1e310L}, // beyond a double
             Case{"-1e", "400", "-1e400", -1e400L, -1e400L},
             Case{"1e4", "94", "1e49", 1e49L, 1e49L},     // 1e4940 would be beyond extended
             Case{"1e49", "39", "1e493", 1e493L, 1e493L}, // 1e49390 would be
             Case{"-1e", "999", "-1e99", -1e99L, -1e99L}, // -1e9990 would be
             Case{"1e-", "999", "1e-999", 1e-999L, 0.0L}, // too small for two decimals
         }) {
        std::unique_ptr<TRealEdit> e(Box(2, c.start));
        Type(*e, c.typed);
        EXPECT_EQ(e->text(), c.whileTyping) << c.start << " + " << c.typed;
        EXPECT_EQ(e->Value(), c.value) << c.start << " + " << c.typed;
        // Left, the box shows every digit and still holds the same value.
        Leave(*e);
        EXPECT_TRUE(e->text().endsWith(",00")) << e->text().left(20).toStdString();
        EXPECT_EQ(e->Value(), c.afterLeaving) << c.start << " + " << c.typed;
    }
    std::unique_ptr<TRealEdit> e(Box(2, "1e3"));
    Type(*e, "10");
    Leave(*e);
    EXPECT_EQ(e->text().size(), 311 + 3);
    EXPECT_TRUE(e->text().startsWith("1" + QString(19, '0')));
}

TEST_F(RealEdit, ASelectionIsTestedInPlaceAndThenReplaced) {
    std::unique_ptr<TRealEdit> e(Box(2, "1,00"));
    e->selectAll();
    QTest::keyClick(e.get(), ','); // tested as ,1,000: dropped
    EXPECT_EQ(e->text(), "1,00");
    e->selectAll();
    QTest::keyClick(e.get(), '7'); // tested as 71,000: replaces the text
    EXPECT_EQ(e->text(), "7");
    e->setText("1,00");
    e->selectAll();
    QTest::keyClick(e.get(), '.'); // becomes a comma, tested as ,1,000: dropped
    EXPECT_EQ(e->text(), "1,00");
}

TEST_F(RealEdit, ValueWritesTheFixedFormatAndPrecisionReformats) {
    TRealEdit e;
    e.SetPrecision(2);
    e.SetValue(1234567.5);
    EXPECT_EQ(e.text(), "1234567,50");
    e.SetPrecision(5);
    e.SetValue(-0.0004);
    EXPECT_EQ(e.text(), "-0,00040");
    e.SetPrecision(3);
    e.setText("1,250");
    e.SetPrecision(5);
    EXPECT_EQ(e.text(), "1,25000");
    e.setText("abc"); // program text is not filtered; it reads as 0
    EXPECT_EQ(e.Value(), 0.0);
    e.SetPrecision(1);
    EXPECT_EQ(e.text(), "0,0");
}

TEST_F(RealEdit, LeavingForAPopupOrAnotherWindowDoesNotReformat) {
    std::unique_ptr<TRealEdit> e(Box(2, "1,"));
    Leave(*e, Qt::PopupFocusReason);
    Leave(*e, Qt::ActiveWindowFocusReason);
    EXPECT_EQ(e->text(), "1,");
    Leave(*e, Qt::MouseFocusReason);
    EXPECT_EQ(e->text(), "1,00");
}

TEST_F(RealEdit, NotEnabledIsReadOnlyWithItsOwnColourButStillTakesKeys) {
    TRealEdit e;
    e.SetPrecision(2);
    e.SetValue(1.0);
    e.SetColor(QColor(Qt::white));
    e.SetColorDisabled(QColor(200, 200, 200));
    e.SetEnabled(false);
    EXPECT_FALSE(e.Enabled());
    EXPECT_TRUE(e.isEnabled()); // the widget stays enabled
    EXPECT_TRUE(e.isReadOnly());
    EXPECT_EQ(e.focusPolicy(), Qt::ClickFocus); // out of the tab order, still by mouse
    EXPECT_EQ(e.palette().color(QPalette::Base), QColor(200, 200, 200));
    e.SetColor(QColor(255, 255, 0)); // not painted while not Enabled
    EXPECT_EQ(e.palette().color(QPalette::Base), QColor(200, 200, 200));
    QSignalSpy keyUp(&e, &TRealEdit::KeyUp);
    QTest::keyClick(&e, '5');
    QTest::keyClick(&e, Qt::Key_Up);
    EXPECT_EQ(e.text(), "1,00");
    EXPECT_EQ(keyUp.count(), 2);
    e.SetEnabled(true);
    EXPECT_TRUE(e.Enabled());
    EXPECT_EQ(e.focusPolicy(), Qt::StrongFocus);
    EXPECT_EQ(e.palette().color(QPalette::Base), QColor(255, 255, 0));
    e.SetColorDisabled(QColor(1, 2, 3)); // not painted while Enabled
    EXPECT_EQ(e.palette().color(QPalette::Base), QColor(255, 255, 0));
}

TEST_F(RealEdit, AHeldKeyRaisesOneKeyUp) {
    TRealEdit e;
    QSignalSpy keyUp(&e, &TRealEdit::KeyUp);
    for (int i = 0; i < 3; ++i) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), i > 0);
        QApplication::sendEvent(&e, &press);
        if (i < 2) {
            QKeyEvent rep(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier, QString(), true);
            QApplication::sendEvent(&e, &rep);
        }
    }
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(&e, &release);
    EXPECT_EQ(keyUp.count(), 1);
}

TEST_F(RealEdit, OnAPointLocaleAPointIsTheSeparator) {
    test::LocaleScope point('.');
    std::unique_ptr<TRealEdit> e(Box(2, "1"));
    Type(*e, ".5");
    EXPECT_EQ(e->text(), "1.5");
    QTest::keyClick(e.get(), ','); // no separator here
    EXPECT_EQ(e->text(), "1.5");
    Leave(*e);
    EXPECT_EQ(e->text(), "1.50");
    EXPECT_EQ(e->Value(), 1.5);
    e->SetValue(1234567.5);
    EXPECT_EQ(e->text(), "1234567.50");
}

} // namespace
