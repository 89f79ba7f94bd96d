// The pins window on the offscreen platform against the recording port
// library: the pin table, the live inputs, and a refused port.
#include "ConnectorDrawing.h"
#include "ErrorPath.h"
#include "EventDelivery.h"
#include "PinsWindow.h"
#include "QtRuntime.h"
#include "Record.h"
#include "SystemTree.h"

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>

using Lines = std::vector<std::string>;
using pins::PinsWindow;

namespace {
bool refusingLibrary = false; // --refusing: the library refuses port 0x2F8
QString realPort;             // --real-port PORT: the hardware library, in the emulated PC
} // namespace

class PinsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PinsWindow> window;
    QTemporaryDir ports; // the recording library reads a port from a file of its number
    QTemporaryDir tree;  // the kernel's files, whose ports the window lists
    QRect drawnAtLayoutSize, pin1AtLayoutSize; // as the window opens

    template <class Widget> static Widget *widgetOf(const runtime::Control *control)
    {
        return qobject_cast<Widget *>(runtime::qt::widget(control));
    }
    QCheckBox *pin(int number) const
    {
        return widgetOf<QCheckBox>(window->pinBoxes.at(static_cast<std::size_t>(number - 1)));
    }
    QString nameOf(int number) const { return pin(number)->accessibleName(); }
    QListWidget *log() const { return widgetOf<QListWidget>(window->log); }
    QWidget *drawing() const { return runtime::qt::widget(window->connector); }
    runtime::drawing::Box contactBox(int number) const
    {
        return runtime::drawing::layOut(drawing()->width(), drawing()->height())
            .contacts.at(static_cast<std::size_t>(number - 1))
            .contact;
    }
    QPoint contact(int number) const
    {
        const runtime::drawing::Box box = contactBox(number);
        return {box.centreX(), box.centreY()};
    }
    void clickDrawn(int number) const
    {
        QTest::mouseClick(drawing(), Qt::LeftButton, {}, contact(number));
    }
    QString message() const { return widgetOf<QLabel>(window->message)->text(); }

    // The reads and writes; the first write binds Out32 on the way.
    static Lines portCalls()
    {
        Lines calls = record::lines();
        std::erase_if(calls, [](const std::string &line) { return line.starts_with("lookup"); });
        return calls;
    }

    // Waits until the status register has been polled count more times.
    static void waitForStatusReads(int count)
    {
        record::clear();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::ranges::count(record::lines(), std::string("in 889")) >= count, 10'000);
    }

    // Whole, as a poll may come at any time.
    void setPort(int port, int value)
    {
        const std::string file = ports.filePath(QString::number(port)).toStdString();
        std::ofstream(file + ".new") << value;
        std::filesystem::rename(file + ".new", file);
    }

    void show()
    {
        QWidget *shown = runtime::qt::widget(*window);
        shown->show();
        shown->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(shown));
    }

    // The window at factor times its layout's size: everything in it, text
    // too, in proportion to where it was as the window opened.
    void zoom(int factor)
    {
        QWidget *shown = runtime::qt::widget(*window);
        shown->resize(shown->minimumSize() * factor);
        const auto times = [factor](QRect r) {
            return QRect(r.topLeft() * factor, r.size() * factor);
        };
        QTRY_COMPARE_WITH_TIMEOUT(drawing()->geometry(), times(drawnAtLayoutSize), 10'000);
        QCOMPARE(pin(1)->geometry(), times(pin1AtLayoutSize));
        QCOMPARE(pin(1)->font().pointSizeF(), QApplication::font().pointSizeF() * factor);
    }

    void open(const QString &port)
    {
        widgetOf<QComboBox>(window->portChoice)->setEditText(port);
        QTest::mouseClick(widgetOf<QPushButton>(window->openButton), Qt::LeftButton);
    }

    void checkToggles(const pins::Pin &row, int control)
    {
        enum Way { Click, Space, Digit, Drawn };
        const bool output =
            pins::isOutput(row) && !(row.reg == pins::Register::Data && control & 0x20);
        const int before = row.reg == pins::Register::Control ? control : 42;
        const std::string port = std::to_string(888 + static_cast<int>(row.reg));
        const std::string written = std::to_string(before ^ 1 << row.bit);
        const Lines expected =
            output ? Lines{"in " + port, "out " + port + " " + written, "in " + port} : Lines{};
        for (const Way way : {Click, Space, Digit, Drawn}) {
            if (way == Digit && row.reg != pins::Register::Data)
                continue;
            record::clear();
            if (way == Click)
                QTest::mouseClick(pin(row.number), Qt::LeftButton, {}, {8, 11}); // its box
            else if (way == Space)
                QTest::keyClick(pin(row.number), Qt::Key_Space);
            else if (way == Drawn)
                clickDrawn(row.number);
            else
                QTest::keyClick(pin(1), static_cast<char>('0' + row.bit));
            QVERIFY2(
                portCalls() == expected,
                qPrintable(
                    QString("pin %1, way %2, control %3").arg(row.number).arg(way).arg(control)));
        }
    }

    // The drawn contact's accessible name and tooltip are the list's pin's.
    void checkSaid(int number, char expected)
    {
        QAccessibleInterface *drawn = QAccessible::queryAccessibleInterface(drawing());
        QVERIFY(drawn && drawn->childCount() == 25);
        const QString name = drawn->child(number - 1)->text(QAccessible::Name);
        QHelpEvent hover(QEvent::ToolTip, contact(number), drawing()->mapToGlobal(contact(number)));
        QApplication::sendEvent(drawing(), &hover);
        if (expected == '-') {
            QCOMPARE(name, QString("Pin %1, ground").arg(number));
            QCOMPARE(QToolTip::text(), QString("%1  ground").arg(number));
            return;
        }
        QCOMPARE(name, nameOf(number));
        QVERIFY2(name.endsWith(std::toupper(expected) == 'H' ? ", high" : ", low"),
                 qPrintable(name));
        QCOMPARE(QToolTip::text(), pin(number)->text());
    }

  private slots:
    void initTestCase()
    {
        qputenv("PORTPANEL_PORT_FOLDER", ports.path().toLocal8Bit());
        makeSystemTree(tree.path().toStdString());
    }

    void init()
    {
        QDir(ports.path()).removeRecursively();
        QDir().mkpath(ports.path());
        runtime::beginRun();
        window = std::make_unique<PinsWindow>("", tree.path().toStdString());
        runtime::deliver([this] { window->Form_Load(); });
        drawnAtLayoutSize = drawing()->geometry();
        pin1AtLayoutSize = pin(1)->geometry();
        record::clear();
    }

    void cleanup() { window.reset(); }

    // Every output, by click, by Space, (data) by its digit key and by a click
    // on its drawn contact: the register is read, exactly that bit flipped and
    // written, and read back. Inputs and ground write nothing, and data pins
    // are inputs while control bit 5 is set.
    void eachOutputWritesExactlyItsBit()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        show();
        for (const auto &[factor, control] : {std::pair{1, 0x0A}, {1, 0x2A}, {2, 0x0A}}) {
            zoom(factor);
            setPort(890, control);
            open("888");
            window->timer->setEnabled(false); // only the toggles reach the library
            for (const pins::Pin &row : pins::table)
                checkToggles(row, control);
            record::clear();
            for (int ground = 18; ground <= 25; ++ground)
                clickDrawn(ground);
            QCOMPARE(portCalls(), Lines{});
        }
    }

    // High red, low dark blue, ground grey, whichever way the pin points.
    static QColor colourOf(char drawn)
    {
        const char level = static_cast<char>(std::toupper(drawn));
        return level == 'H'   ? QColor(214, 40, 40)
               : level == 'L' ? QColor(30, 60, 110)
                              : QColor(150, 150, 150);
    }

    // Registers (data, status, control) -> each drawn contact, pin 1 first:
    // H or L, upper case an output (square), lower case an input (round), - ground.
    // What is drawn, said and hovered is the list's pin.
    void drawnPinsFollowTheRegisters()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        struct Row {
            int data, status, control;
            const char *drawn;
        };
        const Row rows[] = {
            {0x09, 0x78, 0x0C, "HHLLHLLLLhhhhHhHL--------"},
            {0xF0, 0x87, 0x0B, "LLLLLHHHHllllLlLL--------"},
            {0x55, 0x00, 0x24, "HhlhlhlhllhllHlHH--------"}, // C5: data lines are inputs
        };
        show();
        for (const int factor : {1, 2}) { // at the layout's size and zoomed
            zoom(factor);
            // As seen on the back of the PC: 1 to 13 leftwards on top, 14 to 25 below,
            // 14 between 1 and 2.
            for (int number = 1; number < 25; ++number)
                if (number != 13)
                    QVERIFY(contact(number).x() > contact(number + 1).x() &&
                            contact(number).y() == contact(number + 1).y());
            QVERIFY(contact(14).y() > contact(1).y() && contact(14).x() < contact(1).x() &&
                    contact(14).x() > contact(2).x());
            for (const Row &row : rows) {
                setPort(888, row.data);
                setPort(889, row.status);
                setPort(890, row.control);
                open("888");
                const QImage drawn = drawing()->grab().toImage();
                std::string seen; // as the row writes it, from what each contact shows
                for (int number = 1; number <= 25; ++number) {
                    const runtime::DrawnPin &pin =
                        window->connector->pins().at(static_cast<std::size_t>(number - 1));
                    const std::string level = runtime::drawing::levelText(pin);
                    seen += pin.role == runtime::DrawnPin::Role::Ground ? '-'
                            : pin.role == runtime::DrawnPin::Role::Input
                                ? static_cast<char>(std::tolower(level.at(0)))
                                : level.at(0);
                    const QPoint edge = // beside the letter
                        contact(number) - QPoint(contactBox(number).width / 3, 0);
                    QCOMPARE(drawn.pixelColor(edge * drawn.devicePixelRatio()),
                             colourOf(row.drawn[number - 1]));
                    checkSaid(number, row.drawn[number - 1]);
                }
                qInfo("%dx: data 0x%02X status 0x%02X control 0x%02X -> %s; %s; %s", factor,
                      row.data, row.status, row.control, seen.c_str(), qPrintable(nameOf(2)),
                      qPrintable(nameOf(11)));
                QCOMPARE(seen, std::string(row.drawn));
            }
        }
    }

    // 42 is 00101010: the hardware's inversions decide what a meter reads.
    void namesSayTheLevelAMeterReads()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        const std::pair<int, const char *> expected[] = {
            {1, "Pin 1, /Strobe, high"},     {2, "Pin 2, D0, low"},
            {3, "Pin 3, D1, high"},          {10, "Pin 10, /Ack, low"},
            {11, "Pin 11, Busy, high"},      {12, "Pin 12, Paper-out, high"},
            {14, "Pin 14, /Autofeed, low"},  {16, "Pin 16, /Init, low"},
            {17, "Pin 17, /Select-in, low"},
        };
        for (const auto &[number, name] : expected)
            QCOMPARE(nameOf(number), QString::fromUtf8(name));
        QCOMPARE(widgetOf<QLabel>(window->registerLines[1])->text(),
                 QStringLiteral("Status 0x0379: 0x2A = 42 = 00101010"));
    }

    // A status change shows on its pin and is logged once, newest first (how
    // soon it shows is the benchmark's to say); a recording saves each as its pin's wire.
    void statusChangesShowAndAreLoggedOnce()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        setPort(889, 0x78);
        open("888");
        show();
        QTest::mouseClick(widgetOf<QPushButton>(window->recordButton), Qt::LeftButton);
        const int busyLow = 0xF8, ackLow = 0x38;
        const std::pair<int, const char *> changes[] = {
            {busyLow, "Pin 11, Busy, low"}, {0x78, "Pin 11, Busy, high"},
            {ackLow, "Pin 10, /Ack, low"},  {0x78, "Pin 10, /Ack, high"},
            {0x70, "Pin 15, /Error, low"},
        };
        int logged = 0;
        for (const auto &[status, name] : changes) {
            setPort(889, status);
            const int number = QString(name).section(',', 0, 0).mid(4).toInt();
            QTRY_COMPARE_WITH_TIMEOUT(nameOf(number), QString::fromUtf8(name), 10'000);
            waitForStatusReads(3); // more polls of the same value add nothing
            QCOMPARE(log()->count(), ++logged);
            QVERIFY(log()->item(0)->text().endsWith(QString::fromUtf8(name)));
        }
        for (int i = 0; i < log()->count(); ++i)
            qInfo("log: %s", qPrintable(log()->item(i)->text()));
        const std::string vcd = ports.filePath("pins.vcd").toStdString();
        widgetOf<QLineEdit>(window->vcdFile)->setText(QString::fromStdString(vcd));
        QTest::mouseClick(widgetOf<QPushButton>(window->saveButton), Qt::LeftButton);
        QCOMPARE(message(), "Saved " + QString::fromStdString(vcd));
        std::ifstream file(vcd);
        std::string line, wires; // after the initial levels: Busy is '+', /Ack '*', /Error '/'
        while (std::getline(file, line) && line != "$end") {
        }
        long long lastUs = 0;
        while (std::getline(file, line)) {
            wires += line.size() == 2 && (line[0] == '0' || line[0] == '1') ? line + " " : "";
            lastUs = line.starts_with('#') ? std::stoll(line.substr(1)) : lastUs;
        }
        QCOMPARE(QString::fromStdString(wires), QString("0+ 1+ 0* 1* 0/ "));
        // In microseconds: at least the fifteen 20 ms polls waited for above.
        QVERIFY2(lastUs >= 15 * 10'000, qPrintable(QString::number(lastUs)));
    }

    // Where a save cannot go, it says why at once: a FIFO with no reader would
    // otherwise hold the window until one comes; a full disk is no save.
    void saveRefusesWithTheReason()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        open("888");
        show();
        QTest::mouseClick(widgetOf<QPushButton>(window->recordButton), Qt::LeftButton);
        waitForStatusReads(2);
        const std::string fifo = ports.filePath("fifo").toStdString();
        QCOMPARE(mkfifo(fifo.c_str(), 0600), 0);
        const std::pair<std::string, const char *> rows[] = {
            {fifo, "no program is reading it"},
            {ports.path().toStdString(), "it is a folder"},
            {ports.filePath("none/pins.vcd").toStdString(), "the folder"},
            {"/dev/full", "No space left on device"}, // a full disk
        };
        for (const auto &[path, reason] : rows) {
            widgetOf<QLineEdit>(window->vcdFile)->setText(QString::fromStdString(path));
            QTest::mouseClick(widgetOf<QPushButton>(window->saveButton), Qt::LeftButton);
            QVERIFY2(message().startsWith("Not saved: ") && message().contains(reason),
                     qPrintable(message()));
        }
    }

    void minimisedMakesNoReads()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        show();
        QWidget *shown = runtime::qt::widget(*window);
        shown->showMinimized();
        QTRY_VERIFY_WITH_TIMEOUT(!window->timer->ticking(), 10'000);
        QVERIFY(window->timer->enabled());
        record::clear();
        QTest::qWait(120); // several polling intervals, in which nothing may be read
        QCOMPARE(record::lines(), Lines{});
        shown->showNormal();
        QTRY_VERIFY_WITH_TIMEOUT(!record::lines().empty(), 10'000);
    }

    // A typed data byte is written at once; a bad one is said and nothing written.
    void typedDataByte()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        const std::pair<QString, Lines> rows[] = {
            {"0x09", {"out 888 9", "in 888"}},
            {"&HFF", {"out 888 255", "in 888"}},
            {"256", {}},
            {"D0", {}},
        };
        for (const auto &[typed, expected] : rows) {
            widgetOf<QLineEdit>(window->dataByte)->setText(typed);
            record::clear();
            QTest::mouseClick(widgetOf<QPushButton>(window->writeButton), Qt::LeftButton);
            QCOMPARE(portCalls(), expected);
            QCOMPARE(message().isEmpty(), !expected.empty());
        }
        QVERIFY(window->timer->enabled());
    }

    // A typed port is read whole, as the form reads an address; a listed
    // line by its address, the first word.
    void portReadAsTheFormReadsIt()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        const std::pair<QString, Lines> rows[] = {
            {" &HDC00 ", {"in -9216", "in -9215", "in -9214"}},
            {"0x378 junk", {}},
            {"0x378 0x379", {}},
            {"", {}},
        };
        for (const auto &[typed, expected] : rows) {
            record::clear();
            open(typed);
            QCOMPARE(portCalls(), expected);
            QCOMPARE(message().contains("is not"), expected.empty());
        }
        // The tree's ports with a base (not the USB adapter, nor the printer), each
        // opened by its line.
        auto *choice = widgetOf<QComboBox>(window->portChoice);
        const std::pair<const char *, Lines> listed[] = {
            {"0x0378  parport0", {"in 888", "in 889", "in 890"}},
            {"0xDC00  parport1", {"in -9216", "in -9215", "in -9214"}},
            {"0x03BC  parport3", {"in 956", "in 957", "in 958"}},
            {"0xC050  0000:00:04.0", {"in -16304", "in -16303", "in -16302"}},
            {"0xDC00  0000:00:06.0", {"in -9216", "in -9215", "in -9214"}},
            {"0xD000  0000:00:07.0", {"in -12288", "in -12287", "in -12286"}},
        };
        QCOMPARE(choice->count(), static_cast<int>(std::size(listed)));
        for (int i = 0; i < choice->count(); ++i) {
            QVERIFY2(choice->itemText(i).startsWith(listed[i].first),
                     qPrintable(choice->itemText(i)));
            record::clear();
            choice->setCurrentIndex(i);
            QTest::mouseClick(widgetOf<QPushButton>(window->openButton), Qt::LeftButton);
            QCOMPARE(portCalls(), listed[i].second);
        }
    }

    // Control bit 5 switches the data lines to inputs where it stays set; a
    // port that drops it is said so, and its data pins stay outputs.
    void dataDirection()
    {
        if (refusingLibrary)
            QSKIP("recording library only");
        setPort(888, 0x55);
        for (const bool latches : {false, true}) {
            if (latches)
                qputenv("PORTPANEL_LATCH", "1");
            setPort(890, 0x0C);
            open("888");
            window->timer->setEnabled(false);
            record::clear();
            QTest::mouseClick(widgetOf<QCheckBox>(window->direction), Qt::LeftButton, {}, {8, 11});
            QCOMPARE(portCalls(), (Lines{"in 890", "out 890 44", "in 890"}));
            QCOMPARE(message().contains("did not take"), !latches);
            QCOMPARE(widgetOf<QCheckBox>(window->direction)->isChecked(), latches);
            QCOMPARE(pin(2)->text().contains(" in: high"), latches);
        }
        qunsetenv("PORTPANEL_LATCH");
    }

    // Key 0 over the real library: the window's D0 and data register as
    // shown, for the emulated PC's script to hold against what root reads.
    void keyZeroOnTheRealPort()
    {
        if (realPort.isEmpty())
            QSKIP("in the emulated PC only (--real-port PORT)");
        show();
        open(realPort);
        QVERIFY2(message().isEmpty(), qPrintable(message()));
        const QString before = nameOf(2);
        QTest::keyClick(pin(1), '0');
        QVERIFY2(message().isEmpty(), qPrintable(message()));
        std::printf("PINS %s -> %s; %s\n", qPrintable(before), qPrintable(nameOf(2)),
                    qPrintable(widgetOf<QLabel>(window->registerLines[0])->text()));
    }

    // The library's words, polling stopped, and no level that was not read.
    void testMarksTheFaultyPin();

    void refusedPortShowsTheLibrarysWords()
    {
        if (!refusingLibrary)
            QSKIP("refusing library only");
        show();
        open("0x2F8");
        QVERIFY2(message().contains("refused by the test"), qPrintable(message()));
        QVERIFY(!runtime::endingError());
        QVERIFY(!window->timer->enabled());
        for (const int number : {1, 2, 11}) {
            QVERIFY(nameOf(number).endsWith(", not read"));
            QCOMPARE(runtime::drawing::levelText(
                         window->connector->pins().at(static_cast<std::size_t>(number - 1))),
                     "?");
        }
        record::clear();
        QTest::mouseClick(pin(2), Qt::LeftButton, {}, {8, 11});
        clickDrawn(2);
        QTest::qWait(60);
        QCOMPARE(record::lines(), Lines{});
        open("0x378"); // picking a port again starts afresh
        QVERIFY(message().isEmpty());
        QVERIFY(window->timer->enabled());
    }
};

// Test over the simulated port with the loopback plug and Busy stuck high (the
// pins.simulated run): the summary is said, pin 11 alone is marked, in the
// drawing and in what a screen reader hears of it; Open clears the marks.
void PinsTest::testMarksTheFaultyPin()
{
    if (qgetenv("PORTPANEL_SIMULATED_FAULTS") != "high:11")
        QSKIP("over the simulated port with Busy stuck high (the pins.simulated run)");
    show();
    for (const char *plug : {"loopback", "1-13,2-15,10-16,11-17,12-14"}) {
        open("0x378");
        widgetOf<QComboBox>(window->plugChoice)->setEditText(plug);
        QTest::mouseClick(widgetOf<QPushButton>(window->testButton), Qt::LeftButton);
        QCOMPARE(message(), QString("0x0378: 1 fault: pin 11 (Busy) stuck high (or open): check "
                                    "the plug's 11-17 wire or the port's Busy line"));
        const QImage drawn = drawing()->grab().toImage();
        for (int number = 1; number <= 17; ++number) {
            const runtime::DrawnPin &pin =
                window->connector->pins().at(static_cast<std::size_t>(number - 1));
            const runtime::drawing::Box box = contactBox(number);
            const QColor rim =
                drawn.pixelColor(QPoint(box.left, box.centreY()) * drawn.devicePixelRatio());
            const runtime::drawing::Colour fault = runtime::drawing::faultInk;
            QCOMPARE(rim == QColor(fault.red, fault.green, fault.blue), number == 11);
            QCOMPARE(QString::fromStdString(pin.accessibleName)
                         .endsWith(", fault: stuck high (or open)"),
                     number == 11);
        }
    }
    open("0x378");
    QVERIFY(std::ranges::all_of(window->connector->pins(),
                                [](const runtime::DrawnPin &pin) { return pin.fault.empty(); }));
}

int main(int argc, char **argv)
{
    std::vector<char *> arguments(argv, argv + argc);
    if (argc > 1 && std::string(argv[1]) == "--refusing") {
        refusingLibrary = true;
        arguments.erase(arguments.begin() + 1);
    } else if (argc > 2 && std::string(argv[1]) == "--real-port") {
        realPort = argv[2];
        arguments.erase(arguments.begin() + 1, arguments.begin() + 3);
    }
    QApplication application(argc, argv);
    runtime::qt::describeProgram(application);
    PinsTest test;
    return QTest::qExec(&test, static_cast<int>(arguments.size()), arguments.data());
}

#include "pins_test.moc"
