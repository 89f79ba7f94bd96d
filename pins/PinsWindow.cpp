#include "PinsWindow.h"

#include "ControlText.h"
#include "Conversions.h"
#include "OutputFile.h"
#include "PortFinder.h"
#include "PortIO.h"
#include "Question.h"
#include "RuntimeError.h"
#include "SelfTest.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>

namespace pins {
namespace {

using runtime::Kind;

constexpr int px = runtime::twipsPerPixel;
constexpr runtime::Twips at(int left, int top, int width, int height)
{
    return {left * px, top * px, width * px, height * px};
}

// The pins' control names, "pin1" to "pin17", for the layout's lifetime.
const char *pinName(int number)
{
    static const auto names = [] {
        std::array<std::string, table.size() + 1> made;
        for (std::size_t i = 1; i < made.size(); ++i)
            made[i] = "pin" + std::to_string(i);
        return made;
    }();
    return names.at(static_cast<std::size_t>(number)).c_str();
}

constexpr const char *registerControls[] = {"lblDataRegister", "lblStatusRegister",
                                            "lblControlRegister"};

constexpr const char *legend =
    "Pin 1 at the top right, as on the back of the PC. Square: an output, a click toggles it; "
    "round: an input; grey: ground. H or L: the level a meter reads. Under the name: the "
    "register bit; inv: the port inverts it.";

// The socket on top; below it the pins' list on the left and the port's
// fields on the right, a free row under the log for more buttons. In tab
// order, which is the visual order: the list, then the right column down.
// Labels and the drawing take no focus.
runtime::FormLayout layout()
{
    runtime::FormLayout form{"PinsWindow", "portpanel-pins", 720 * px, 618 * px, {}};
    form.resizable = true; // a bigger drawing, to read across the bench
    auto &c = form.controls;
    c.push_back({"picConnector", Kind::Connector, at(8, 8, 704, 160), "",
                 "Connector, as seen on the back of the PC"});
    c.push_back({"lblLegend", Kind::Label, at(8, 172, 704, 34), legend, nullptr});
    // The pins come first, so that the keys 0 to 7 work from the start.
    std::ranges::transform(table, std::back_inserter(c), [](const Pin &pin) {
        return runtime::ControlLayout{pinName(pin.number), Kind::CheckBox,
                                      at(8, 190 + pin.number * 22, 300, 22), "", nullptr};
    });
    c.push_back({"lblGround", Kind::Label, at(8, 590, 300, 20), groundPins, nullptr});
    c.push_back({"lblPort", Kind::Label, at(320, 216, 68, 20), "Port", nullptr});
    c.push_back({"cboPort", Kind::ComboBox, at(392, 212, 320, 24), "888", "Port"});
    c.push_back({"lblInterval", Kind::Label, at(320, 248, 68, 20), "Poll every", nullptr});
    c.push_back({"txtInterval", Kind::TextBox, at(392, 244, 48, 24), "20", "Poll every ms"});
    c.push_back({"lblMs", Kind::Label, at(446, 248, 24, 20), "ms", nullptr});
    c.push_back({"cmdOpen", Kind::CommandButton, at(476, 244, 80, 24), "Open", nullptr});
    for (int i = 0; i < 3; ++i)
        c.push_back(
            {registerControls[i], Kind::Label, at(320, 280 + i * 22, 392, 20), "", nullptr});
    c.push_back({"lblData", Kind::Label, at(320, 356, 68, 20), "Data byte", nullptr});
    c.push_back({"txtData", Kind::TextBox, at(392, 352, 60, 24), "0x00", "Data byte"});
    c.push_back({"cmdWrite", Kind::CommandButton, at(458, 352, 80, 24), "Write", nullptr});
    // The self-test, with the plug fitted: chosen, or typed as pairs.
    c.push_back({"cboPlug", Kind::ComboBox, at(544, 352, 110, 24), "no plug", "Loopback plug"});
    c.push_back({"cmdTest", Kind::CommandButton, at(658, 352, 54, 24), "Test", nullptr});
    c.push_back({"chkDirection", Kind::CheckBox, at(320, 384, 392, 22), "Data lines as inputs (C5)",
                 nullptr});
    c.push_back({"lblMessage", Kind::Label, at(320, 410, 392, 44), "", nullptr});
    c.push_back(
        {"lblLog", Kind::Label, at(320, 458, 392, 20), "Input changes, newest first:", nullptr});
    c.push_back(
        {"lstLog", Kind::ListBox, at(320, 478, 392, 100), "", "Input changes, newest first"});
    c.push_back({"tmrPoll", Kind::Timer, at(0, 0, 0, 0), "20", nullptr});
    // What the polling saw, kept as a value change dump: the row under the log.
    c.push_back({"cmdRecord", Kind::CommandButton, at(320, 586, 64, 24), "Record", nullptr});
    c.push_back({"cmdStop", Kind::CommandButton, at(388, 586, 52, 24), "Stop", nullptr});
    c.push_back({"lblVcd", Kind::Label, at(448, 590, 28, 20), "File", nullptr});
    c.push_back({"txtVcd", Kind::TextBox, at(478, 586, 126, 24), "capture.vcd", "File"});
    c.push_back({"cmdSave", Kind::CommandButton, at(608, 586, 104, 24), "Save as VCD", nullptr});
    return form;
}

const std::vector<std::string> plugs{"no plug", "loopback 1-13,2-15,10-16,11-17,12-14",
                                     "data lines 2-15,3-13,4-12,5-10,6-11"};

// A listed plug, or the start of its name ("loopback"), or pairs as typed;
// "no plug" or nothing is none. A listed plug's pairs are its last word.
std::optional<selftest::Wiring> plugWiring(const std::string &typed)
{
    const auto listed = std::ranges::find_if(
        plugs, [&typed](const std::string &plug) { return plug.starts_with(typed); });
    if (typed.empty() || listed == plugs.begin())
        return std::nullopt;
    const std::string chosen = listed == plugs.end() ? typed : *listed;
    return selftest::parseWiring(chosen.substr(chosen.find_last_of(' ') + 1));
}

// A listed line reads "0x0378  parport0 ...": its address is its first word.
std::string firstWord(const std::string &text)
{
    const auto start = text.find_first_not_of(" \t");
    if (start == std::string::npos)
        return {};
    return text.substr(start, text.find_first_of(" \t", start) - start);
}

std::vector<std::string> foundPorts(const std::string &systemRoot)
{
    std::vector<std::string> items;
    try {
        for (const finder::FoundPort &port : finder::findPorts(systemRoot)) {
            if (port.ranges.empty() || port.kind == "usb-printer" || port.kind == "library")
                continue;
            char base[16];
            std::snprintf(base, sizeof base, "0x%04X", static_cast<unsigned>(port.ranges[0].first));
            items.push_back(std::string(base) + "  " + port.name + "  " + port.description);
        }
    } catch (const std::exception &) {
        return {}; // no list: the address can still be typed
    }
    return items;
}

} // namespace

PinsWindow::PinsWindow(std::string port, std::string systemRoot)
    : runtime::Form(layout()), portChoice(control<runtime::ComboBox>("cboPort")),
      interval(control<runtime::TextBox>("txtInterval")),
      openButton(control<runtime::CommandButton>("cmdOpen")),
      dataByte(control<runtime::TextBox>("txtData")),
      writeButton(control<runtime::CommandButton>("cmdWrite")),
      direction(control<runtime::CheckBox>("chkDirection")),
      message(control<runtime::Label>("lblMessage")), log(control<runtime::ListBox>("lstLog")),
      timer(control<runtime::Timer>("tmrPoll")),
      recordButton(control<runtime::CommandButton>("cmdRecord")),
      stopButton(control<runtime::CommandButton>("cmdStop")),
      vcdFile(control<runtime::TextBox>("txtVcd")),
      saveButton(control<runtime::CommandButton>("cmdSave")),
      connector(control<runtime::Connector>("picConnector")),
      plugChoice(control<runtime::ComboBox>("cboPlug")),
      testButton(control<runtime::CommandButton>("cmdTest")), startPort_(std::move(port)),
      systemRoot_(std::move(systemRoot))
{
    for (const Pin &pin : table) {
        auto *box = control<runtime::CheckBox>(pinName(pin.number));
        pinBoxes.at(static_cast<std::size_t>(pin.number - 1)) = box;
        box->onClick([this, number = pin.number] { togglePin(number); });
    }
    for (int i = 0; i < 3; ++i)
        registerLines.at(static_cast<std::size_t>(i)) =
            control<runtime::Label>(registerControls[i]);
    for (int bit = 0; bit < 8; ++bit)
        onKey(static_cast<char>('0' + bit), [this, bit] { togglePin(2 + bit); });
    connector->onPinClick([this](int number) { clickPin(number); });
    openButton->onClick([this] { openPort(); });
    writeButton->onClick([this] { writeData(); });
    direction->onClick([this] { switchDirection(); });
    timer->onTick([this] { poll(); });
    recordButton->onClick([this] { record(); });
    stopButton->onClick([this] { stop(); });
    saveButton->onClick([this] { saveVcd(); });
    testButton->onClick([this] { testPort(); });
    plugChoice->setItems(plugs);
    show();
}

void PinsWindow::Form_Load()
{
    listed_ = foundPorts(systemRoot_);
    portChoice->setItems(listed_);
    if (!startPort_.empty())
        portChoice->setText(startPort_);
    openPort();
}

void PinsWindow::openPort()
{
    timer->setEnabled(false);
    base_.reset();
    registers_ = {};
    faults_ = {};
    runtime::setCaption(message, "");
    guarded([this] {
        const std::int16_t ms = runtime::textToInteger(runtime::textOf(interval));
        if (ms < 1 || ms > 1000)
            throw runtime::RuntimeError(runtime::ErrorNumber::OutOfRange,
                                        "the poll interval " + std::to_string(ms) +
                                            " ms is out of range: type 1 to 1000");
        timer->setText(std::to_string(ms));
        const std::string chosen = runtime::textOf(portChoice);
        const bool listed = std::ranges::find(listed_, chosen) != listed_.end();
        base_ = runtime::textToInteger(listed ? firstWord(chosen) : chosen); // typed: as the form
        for (const Register reg : {Register::Data, Register::Status, Register::Control})
            registers_[static_cast<std::size_t>(reg)] = read(reg);
        opened_ = std::chrono::steady_clock::now();
        timer->setEnabled(true);
    });
    show();
}

void PinsWindow::togglePin(int number)
{
    const Pin &pin = table.at(static_cast<std::size_t>(number - 1));
    if (!base_ || isInput(pin)) {
        show(); // an input shows what was read, whatever the click did
        return;
    }
    guarded([this, &pin] {
        write(pin.reg, static_cast<std::uint8_t>(read(pin.reg) ^ (1u << pin.bit)));
        registers_[static_cast<std::size_t>(pin.reg)] = read(pin.reg);
    });
    show();
}

void PinsWindow::clickPin(int number)
{
    if (number <= static_cast<int>(table.size())) // not ground
        togglePin(number);
}

void PinsWindow::writeData()
{
    if (!base_)
        return;
    std::int16_t value = 0;
    try { // a typing slip is said, and the port stays watched
        value = runtime::textToInteger(runtime::textOf(dataByte));
        if (value < 0 || value > 255)
            throw runtime::RuntimeError(runtime::ErrorNumber::OutOfRange,
                                        "the data byte " + std::to_string(value) +
                                            " is out of range: type 0 to 255 (0x00 to 0xFF)");
    } catch (const runtime::RuntimeError &error) {
        runtime::setCaption(message, error.description());
        return;
    }
    runtime::setCaption(message, "");
    guarded([this, value] {
        write(Register::Data, static_cast<std::uint8_t>(value));
        registers_[0] = read(Register::Data);
    });
    show();
}

void PinsWindow::switchDirection()
{
    if (!base_) {
        show();
        return;
    }
    guarded([this] {
        const bool wanted = direction->checked();
        const std::uint8_t control = read(Register::Control);
        const auto bit = static_cast<std::uint8_t>(1u << directionBit);
        write(Register::Control,
              static_cast<std::uint8_t>(wanted ? control | bit : control & ~bit));
        const std::uint8_t back = read(Register::Control);
        registers_[2] = back;
        if (((back & bit) != 0) != wanted)
            runtime::setCaption(message, "control bit 5 did not take: this port's data lines "
                                         "are not tri-state, or its library keeps that bit");
    });
    show();
}

void PinsWindow::poll()
{
    if (!base_)
        return;
    const Registers before = registers_;
    guarded([this] {
        registers_[1] = read(Register::Status);
        if (dataIsInput())
            registers_[0] = read(Register::Data);
    });
    if (base_)
        logChanges(before);
    if (base_ && recording_)
        recording_->add(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                 recordStart_)
                .count(),
            {registers_[0].value_or(0), registers_[1].value_or(0), registers_[2].value_or(0)});
    show();
}

void PinsWindow::record()
{
    recording_.emplace(capture::parallelWires());
    recordStart_ = std::chrono::steady_clock::now();
    runtime::setCaption(message, "Recording: Stop ends it.");
    poll();
}

void PinsWindow::stop()
{
    if (!recording_)
        return;
    const std::string stats = capture::statsText(recording_->stats());
    recordedSamples_ = recording_->stats().samples;
    recorded_ =
        recording_->take() + recording_->finish({"portpanel-pins, sampled at each poll", stats});
    recording_.reset();
    runtime::setCaption(message, "Recorded " + stats);
}

// Says where the file went by its full path, asks before it replaces a file,
// and writes nothing for a recording that holds no samples (Record with no
// port open), which would only look like a capture.
void PinsWindow::saveVcd()
{
    stop();
    if (recorded_.empty())
        return runtime::setCaption(message, "Nothing recorded yet: press Record, then Stop.");
    if (recordedSamples_ == 0)
        return runtime::setCaption(message, "Not saved: the recording holds no samples. Open a "
                                            "port, then Record and Stop.");
    const std::string path = runtime::OutputFile::fullPath(runtime::textOf(vcdFile));
    if (runtime::OutputFile::replacesFile(path) &&
        !runtime::toolkit::askYesNo(path + " already exists.\nReplace it with this recording?"))
        return runtime::setCaption(message, "Not saved: " + path + " is kept as it was.");
    try {
        // Bounded: a FIFO without a reader is refused, a stalled one gives up.
        runtime::OutputFile file(path, runtime::OutputFile::Waiting::Bounded);
        file.write(recorded_);
        file.commit();
        runtime::setCaption(message, "Saved " + path);
    } catch (const runtime::RuntimeError &error) {
        runtime::setCaption(message, "Not saved: " + error.description() + ".");
    }
}

void PinsWindow::testPort()
{
    faults_ = {};
    std::optional<selftest::Wiring> wiring;
    try {
        if (!base_)
            throw runtime::RuntimeError(runtime::ErrorNumber::OutOfRange,
                                        "no port open: choose one with Open, then Test");
        wiring = plugWiring(runtime::textOf(plugChoice));
    } catch (const runtime::RuntimeError &error) {
        runtime::setCaption(message, error.description());
        show();
        return;
    }
    guarded([this, &wiring] {
        selftest::Options options;
        options.wiring = wiring;
        const selftest::Report report =
            selftest::run(static_cast<std::uint16_t>(*base_), selftest::libraryAccess(), options);
        for (const selftest::Fault &fault : report.faults)
            faults_.at(static_cast<std::size_t>(fault.pin - 1)) = fault.fault;
        for (const Register reg : {Register::Data, Register::Status, Register::Control})
            registers_[static_cast<std::size_t>(reg)] = read(reg);
        runtime::setCaption(message, report.summary());
    });
    show();
}

void PinsWindow::guarded(const std::function<void()> &action)
{
    try {
        action();
    } catch (const runtime::RuntimeError &error) {
        timer->setEnabled(false);
        base_.reset();
        registers_ = {};
        runtime::setCaption(message, error.description() +
                                         ". Polling stopped: choose the port again with Open.");
    }
}

std::int16_t PinsWindow::portOf(Register reg) const
{
    if (!base_)
        throw std::logic_error("a register was asked for with no port open");
    return static_cast<std::int16_t>(*base_ + static_cast<int>(reg));
}

std::uint8_t PinsWindow::read(Register reg)
{
    return static_cast<std::uint8_t>(portio::Inp32(portOf(reg)));
}

void PinsWindow::write(Register reg, std::uint8_t value) { portio::Out32(portOf(reg), value); }

bool PinsWindow::dataIsInput() const
{
    const auto &control = registers_[static_cast<std::size_t>(Register::Control)];
    return control && (*control >> directionBit & 1) != 0;
}

bool PinsWindow::isInput(const Pin &pin) const
{
    return !isOutput(pin) || (pin.reg == Register::Data && dataIsInput());
}

std::optional<bool> PinsWindow::levelOf(const Pin &pin) const
{
    const auto &value = registers_[static_cast<std::size_t>(pin.reg)];
    return value ? std::optional<bool>(level(pin, *value)) : std::nullopt;
}

void PinsWindow::logChanges(const Registers &before)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - opened_)
                        .count();
    for (const Pin &pin : table) {
        const auto &was = before[static_cast<std::size_t>(pin.reg)];
        const auto &is = registers_[static_cast<std::size_t>(pin.reg)];
        if (!isInput(pin) || !was || !is || level(pin, *was) == level(pin, *is))
            continue;
        log->insertFirst(std::to_string(ms) + " ms  " + accessibleName(pin, levelOf(pin)));
        if (log->count() > logLines)
            log->removeLast();
    }
}

void PinsWindow::show()
{
    // Only a change is set: a screen reader hears no poll that changed nothing.
    for (const Pin &pin : table) {
        runtime::CheckBox *box = pinBoxes.at(static_cast<std::size_t>(pin.number - 1));
        const std::optional<bool> shown = levelOf(pin);
        box->setChecked(shown.value_or(false));
        if (const std::string text = caption(pin, isInput(pin), shown); box->text() != text) {
            box->setText(text);
            box->setAccessibleName(accessibleName(pin, shown));
        }
    }
    for (const Register reg : {Register::Data, Register::Status, Register::Control}) {
        const auto index = static_cast<std::size_t>(reg);
        const std::string line =
            base_ ? registerLine(reg, *base_ + static_cast<int>(index), registers_[index])
                  : std::string("Registers not read: no port open");
        if (runtime::textOf(registerLines.at(index)) != line)
            runtime::setCaption(registerLines.at(index), line);
    }
    direction->setChecked(dataIsInput());
    connector->setPins(drawnPins());
}

runtime::DrawnPins PinsWindow::drawnPins() const
{
    using Role = runtime::DrawnPin::Role;
    runtime::DrawnPins pins;
    for (const Pin &pin : table) {
        runtime::DrawnPin &drawn = pins.at(static_cast<std::size_t>(pin.number - 1));
        drawn.role = isInput(pin) ? Role::Input : Role::Output;
        drawn.level = levelOf(pin);
        drawn.name = pin.shortName;
        if (const std::string bit = registerBit(pin); bit != drawn.name) // not D0 twice
            drawn.detail = bit;
        drawn.line = caption(pin, isInput(pin), drawn.level);
        drawn.accessibleName = accessibleName(pin, drawn.level);
        drawn.fault = faults_.at(static_cast<std::size_t>(pin.number - 1));
        if (!drawn.fault.empty()) {
            drawn.line += ": " + drawn.fault;
            drawn.accessibleName += ", fault: " + drawn.fault;
        }
    }
    for (std::size_t i = table.size(); i < pins.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        pins.at(i) = {Role::Ground,
                      std::nullopt,
                      "GND",
                      "",
                      number + "  ground",
                      "Pin " + number + ", ground",
                      ""};
    }
    return pins;
}

} // namespace pins
