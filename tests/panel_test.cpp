// The window on the offscreen platform against the recording port library.
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "Form1.h"
#include "MaskEdBox.h"
#include "QtRuntime.h"
#include "Record.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <map>
#include <memory>

using Lines = std::vector<std::string>;
using panel::Form1;

// The rows both sides run: this test offscreen, and portpanel.exe under wine.
std::vector<QJsonObject> cases(const char *table)
{
    QFile file(QStringLiteral(PANEL_CASES));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", PANEL_CASES);
    std::vector<QJsonObject> rows;
    for (const QJsonValue row :
         QJsonDocument::fromJson(file.readAll())[QLatin1String(table)].toArray())
        rows.push_back(row.toObject());
    return rows;
}

class PanelTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Form1> form;

    // The Qt widgets behind the form's controls.
    QWidget *window() const { return runtime::qt::widget(*form); }
    QLineEdit *addressBox() const { return widgetOf<QLineEdit>(form->txtPortAddress); }
    runtime::qt::MaskEdBox *valueBox() const
    {
        return widgetOf<runtime::qt::MaskEdBox>(form->valOUT);
    }
    QLabel *labelWidget() const { return widgetOf<QLabel>(form->Label1); }
    QPushButton *commitButton() const { return widgetOf<QPushButton>(form->Command1); }
    template <class Widget> static Widget *widgetOf(const runtime::Control *control)
    {
        return qobject_cast<Widget *>(runtime::qt::widget(control));
    }

    void load()
    {
        runtime::deliver([this] { form->Form_Load(); });
    }

    void show()
    {
        window()->show();
        window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window()));
    }

    // Real key events: select the address box's text and type over it.
    void typeAddress(const QString &text)
    {
        addressBox()->selectAll();
        QTest::keyClick(addressBox(), Qt::Key_Delete);
        QTest::keyClicks(addressBox(), text);
    }

    void typeValue(const QString &digits)
    {
        valueBox()->setCursorPosition(0);
        QTest::keyClicks(valueBox(), digits);
    }

    void commit() { QTest::mouseClick(commitButton(), Qt::LeftButton); }

    // A number goes to the port; anything else ends the program with an
    // error quoting the text as the box holds it, and writes nothing.
    void checkHostileAddress()
    {
        QFETCH(int, port);
        QFETCH(int, number);
        commit();
        const runtime::RuntimeError *error = runtime::endingError();
        if (port != 0) {
            QVERIFY(!error);
            QCOMPARE(record::lines(),
                     (Lines{"out " + std::to_string(port) + " 0", "in " + std::to_string(port)}));
            return;
        }
        QVERIFY(error);
        QCOMPARE(error->number(), number);
        const std::string quoted = runtime::quoted(addressBox()->text().toStdString());
        QVERIFY2(error->description().find(quoted) != std::string::npos,
                 error->description().c_str());
        QVERIFY(error->description().size() < 300);
        QCOMPARE(record::lines(), Lines{});
    }

  private slots:
    void init()
    {
        runtime::beginRun();
        form = std::make_unique<Form1>();
        record::clear();
    }

    void cleanup() { form.reset(); }

    // Runs first: the process's first port call binds each entry point.
    void startupBindsEachEntryPointAndShowsTheReading()
    {
        load();
        QCOMPARE(record::lines(), (Lines{"load libinpout32.so", "lookup Out32", "out 888 0",
                                         "lookup Inp32", "in 888"}));
        QCOMPARE(labelWidget()->text(), QStringLiteral("Port = 888 Value = 42"));
    }

    void windowHasItsControlsLayoutAndInitialTexts()
    {
        QCOMPARE(window()->windowTitle(), QStringLiteral("Form1"));
        QCOMPARE(window()->size(), QSize(402, 155));
        QCOMPARE(window()->minimumSize(), window()->maximumSize());
        const std::pair<QWidget *, QRect> layout[] = {
            {labelWidget(), {16, 24, 193, 17}},
            {addressBox(), {16, 64, 81, 25}},
            {valueBox(), {112, 64, 97, 25}},
            {commitButton(), {128, 104, 81, 25}},
        };
        for (const auto &[control, geometry] : layout)
            QCOMPARE(control->geometry(), geometry);
        QCOMPARE(addressBox()->text(), QStringLiteral("888"));
        QCOMPARE(valueBox()->Text(), QStringLiteral("000"));
        QCOMPARE(labelWidget()->text(), QStringLiteral("Label1"));
        QCOMPARE(commitButton()->text(), QStringLiteral("Commit"));
        QVERIFY(!commitButton()->isDefault() && !commitButton()->autoDefault());
        QCOMPARE(labelWidget()->focusPolicy(), Qt::NoFocus);
    }

    void commitClampsAndWrites_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("fieldAfter");
        QTest::addColumn<int>("written");
        for (const auto &row : cases("clamp"))
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["typed"].toString() << row["field"].toString() << row["written"].toInt();
    }

    void commitClampsAndWrites()
    {
        QFETCH(QString, typed);
        QFETCH(QString, fieldAfter);
        QFETCH(int, written);
        typeValue(typed);
        commit();
        QCOMPARE(valueBox()->Text(), fieldAfter);
        QCOMPARE(record::lines(), (Lines{"out 888 " + std::to_string(written), "in 888"}));
        QCOMPARE(labelWidget()->text(), QStringLiteral("Port = 888 Value = 42"));
    }

    // Real keys into the value field, named as xdotool names them.
    void valueFieldKeys_data()
    {
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QString>("fieldAfter");
        for (const auto &row : cases("valueKeys"))
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["keys"].toVariant().toStringList() << row["field"].toString();
    }

    void valueFieldKeys()
    {
        QFETCH(QStringList, keys);
        QFETCH(QString, fieldAfter);
        const std::map<QString, Qt::Key> named{{"BackSpace", Qt::Key_Backspace},
                                               {"Delete", Qt::Key_Delete},
                                               {"Home", Qt::Key_Home},
                                               {"minus", Qt::Key_Minus}};
        valueBox()->setCursorPosition(0);
        for (const QString &key : keys)
            if (const auto found = named.find(key); found != named.end())
                QTest::keyClick(valueBox(), found->second);
            else
                QTest::keyClick(valueBox(), key.front().toLatin1());
        QCOMPARE(valueBox()->Text(), fieldAfter);
    }

    void commitUsesTheAddressAsTyped_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        for (const auto &row : cases("addresses"))
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["address"].toString() << row["port"].toInt();
    }

    void commitUsesTheAddressAsTyped()
    {
        QFETCH(QString, address);
        QFETCH(int, port);
        typeAddress(address);
        typeValue("200");
        commit();
        const auto p = std::to_string(port);
        QCOMPARE(record::lines(), (Lines{"out " + p + " 200", "in " + p}));
        QCOMPARE(labelWidget()->text(), "Port = " + address + " Value = 42");
        QVERIFY(!runtime::endingError());
    }

    void badAddressEndsTheProgramWithoutWriting_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("number");
        for (const auto &row : cases("badAddresses"))
            QTest::newRow(qPrintable(row["name"].toString()))
                << row["address"].toString() << row["number"].toInt();
    }

    void badAddressEndsTheProgramWithoutWriting()
    {
        QFETCH(QString, address);
        QFETCH(int, number);
        typeAddress(address);
        typeValue("999");
        commit();
        QVERIFY(runtime::endingError());
        QCOMPARE(runtime::endingError()->number(), number);
        QVERIFY(runtime::endingError()->description().find('"' + address.toStdString() + '"') !=
                std::string::npos);
        QCOMPARE(valueBox()->Text(), QStringLiteral("255")); // the clamp ran first
        QCOMPARE(labelWidget()->text(), QStringLiteral("Label1"));
        QCOMPARE(record::lines(), Lines{});

        typeAddress("888"); // no handler runs once the error path has
        commit();
        QCOMPARE(record::lines(), Lines{});
    }

    // Address texts set as a paste would leave them; each gives a number or
    // an error that quotes the text, cut short, and writes nothing.
    void hostileAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port"); // 0: must fail with `number`
        QTest::addColumn<int>("number");
        QTest::newRow("10,000 digits") << QString(10000, QLatin1Char('9')) << 0 << 2;
        QTest::newRow("10,000 letters") << QString(10000, QLatin1Char('x')) << 0 << 1;
        QTest::newRow("full-width digits") << QStringLiteral("\uFF18\uFF18\uFF18") << 0 << 1;
        QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0668\u0668\u0668") << 0 << 1;
        QTest::newRow("0x alone") << "0x" << 0 << 1;
        QTest::newRow("&H alone") << "&H" << 0 << 1;
        QTest::newRow("--1") << "--1" << 0 << 1;
        QTest::newRow("+-1") << "+-1" << 0 << 1;
        QTest::newRow("0x10000") << "0x10000" << 0 << 1;
        QTest::newRow("-32769") << "-32769" << 0 << 2;
        QTest::newRow("32768") << "32768" << 0 << 2;
        QTest::newRow("tabs and spaces around") << "\t 888 \t" << 888 << 0;
        QTest::newRow("tab inside") << "8\t88" << 0 << 1;
        QTest::newRow("embedded NUL") << QString::fromLatin1("88\0"
                                                             "8",
                                                             4)
                                      << 0 << 1;
        QTest::newRow("two lines") << "888\n889" << 0 << 1;
    }

    // The same, pasted for real, for texts a paste may change on the way in.
    void hostileAddressesPasted_data() { hostileAddresses_data(); }
    void hostileAddressesPasted()
    {
        QFETCH(QString, address);
        QApplication::clipboard()->setText(address);
        addressBox()->selectAll();
        QTest::keyClick(addressBox(), Qt::Key_V, Qt::ControlModifier);
        checkHostileAddress();
    }

    void hostileAddresses()
    {
        QFETCH(QString, address);
        addressBox()->setText(address);
        checkHostileAddress();
    }

    void hostilePastesIntoTheValueField_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("fieldAfter");
        QTest::newRow("letters") << "abc"
                                 << "000";
        QTest::newRow("four digits") << "1234"
                                     << "000";
        QTest::newRow("empty") << ""
                               << "000";
        QTest::newRow("three digits") << "042"
                                      << "042";
    }

    void hostilePastesIntoTheValueField()
    {
        QFETCH(QString, clipboard);
        QFETCH(QString, fieldAfter);
        QApplication::clipboard()->setText(clipboard);
        valueBox()->setCursorPosition(0);
        QTest::keyClick(valueBox(), Qt::Key_V, Qt::ControlModifier);
        commit();
        QCOMPARE(valueBox()->Text(), fieldAfter);
        QCOMPARE(record::lines(),
                 (Lines{"out 888 " + std::to_string(fieldAfter.toInt()), "in 888"}));
    }

    void eachClickIsOneWriteAndOneReadWithoutRebinding()
    {
        load();
        record::clear();
        typeValue("200");
        commit();
        commit();
        QCOMPARE(record::lines(), (Lines{"out 888 200", "in 888", "out 888 200", "in 888"}));
    }

    void tabOrderIsAddressButtonValue()
    {
        show();
        QCOMPARE(QApplication::focusWidget(), addressBox());
        const QWidget *expected[] = {commitButton(), valueBox(), addressBox()};
        for (const QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void spaceOnTheButtonCommitsAndEnterInTheBoxesDoesNot()
    {
        show();
        for (QWidget *box :
             {static_cast<QWidget *>(addressBox()), static_cast<QWidget *>(valueBox())}) {
            box->setFocus();
            QTest::keyClick(box, Qt::Key_Return);
            QTest::keyClick(box, Qt::Key_Enter);
        }
        QCOMPARE(record::lines(), Lines{});
        commitButton()->setFocus();
        QTest::keyClick(commitButton(), Qt::Key_Space);
        QCOMPARE(record::lines(), (Lines{"out 888 0", "in 888"}));
    }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
