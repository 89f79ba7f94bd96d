// Typing into the three-digit field, as a user does it.
#include "MaskEdBox.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QtTest>

using runtime::qt::MaskEdBox;

namespace {

// A tiny script: digits and letters are typed, '<' is Backspace, '>' Delete,
// '^' Home, 'a' is typed as a letter.
void play(MaskEdBox &field, const QString &keys)
{
    for (const QChar key : keys) {
        if (key == QLatin1Char('<'))
            QTest::keyClick(&field, Qt::Key_Backspace);
        else if (key == QLatin1Char('>'))
            QTest::keyClick(&field, Qt::Key_Delete);
        else if (key == QLatin1Char('^'))
            QTest::keyClick(&field, Qt::Key_Home);
        else
            QTest::keyClick(&field, key.toLatin1());
    }
}

} // namespace

class MaskEdBoxTest : public QObject {
    Q_OBJECT
  private slots:
    void typing_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("untouched") << ""
                                   << "000";
        QTest::newRow("one digit") << "5"
                                   << "500";
        QTest::newRow("three digits") << "123"
                                      << "123";
        QTest::newRow("a fourth digit is ignored") << "1234"
                                                   << "123";
        QTest::newRow("letters are ignored") << "1a-2"
                                             << "120";
        QTest::newRow("backspace puts the prompt back") << "123<"
                                                        << "120";
        QTest::newRow("backspace twice") << "123<<"
                                         << "100";
        QTest::newRow("backspace at the start") << "<"
                                                << "000";
        QTest::newRow("delete at the caret") << "123^>"
                                             << "023";
        QTest::newRow("retype after backspace") << "123<9"
                                                << "129";
    }

    void typing()
    {
        QFETCH(QString, keys);
        QFETCH(QString, text);
        MaskEdBox field;
        play(field, keys);
        QCOMPARE(field.Text(), text);
        QCOMPARE(QAccessible::queryAccessibleInterface(&field)->text(QAccessible::Value), text);
    }

    void typingOverASelectionClearsIt()
    {
        MaskEdBox field;
        QVERIFY(field.setMaskText("123"));
        field.selectAll();
        play(field, "7");
        QCOMPARE(field.Text(), QStringLiteral("700"));
    }

    void paste_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<int>("caret");
        QTest::addColumn<QString>("text");
        QTest::newRow("digits at the caret") << "45" << 1 << "045";
        QTest::newRow("all three") << "987" << 0 << "987";
        QTest::newRow("letters refused") << "4a" << 0 << "000";
        QTest::newRow("too long refused") << "1234" << 0 << "000";
        QTest::newRow("past the end refused") << "12" << 2 << "000";
        QTest::newRow("empty changes nothing") << "" << 0 << "000";
        QTest::newRow("two lines refused") << "1\n2" << 0 << "000";
    }

    void paste()
    {
        QFETCH(QString, clipboard);
        QFETCH(int, caret);
        QFETCH(QString, text);
        MaskEdBox field;
        QApplication::clipboard()->setText(clipboard);
        field.setCursorPosition(caret);
        QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(field.Text(), text);
    }

    void writesOtherThanThreeDigitsAreRefused()
    {
        MaskEdBox field;
        for (const char *bad : {"", "25", "2555", "25a", " 25"})
            QVERIFY2(!field.setMaskText(QString::fromLatin1(bad)), bad);
        QCOMPARE(field.Text(), QStringLiteral("000"));
        field.setSelection(0, 3);
        QTest::keyClick(&field, Qt::Key_K, Qt::ControlModifier); // a line-edit kill
        QCOMPARE(field.Text(), QStringLiteral("000"));
    }
};

QTEST_MAIN(MaskEdBoxTest)
#include "maskedbox_test.moc"
