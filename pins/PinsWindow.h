#pragma once

#include "Capture.h"
#include "Controls.h"
#include "PinTable.h"

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pins {

// The pins window: a parallel port's 17 signal pins, its three registers and
// a log of input changes, polled by a timer while the window is shown.
class PinsWindow : public runtime::Form {
  public:
    // port: the base as typed on the command line, or empty for 888; the ports
    // listed are read from the kernel's files under systemRoot.
    explicit PinsWindow(std::string port = {}, std::string systemRoot = "/");

    void Form_Load() override;

    // The user's actions, as the controls and keys deliver them.
    void openPort();
    void togglePin(int number);
    void clickPin(int number); // on the drawing: ground does nothing

    void writeData();
    void switchDirection();
    void poll();
    // Record starts a capture from the polling, Stop ends it, and Save
    // writes the last one to the VCD file named.
    void record();
    void stop();
    void saveVcd();
    // Test runs the self-test with the plug chosen, says its summary and
    // marks each faulty pin on the drawing until the next Open or Test.
    void testPort();

    // The controls, each by its role.
    runtime::ComboBox *portChoice;
    runtime::TextBox *interval;
    runtime::CommandButton *openButton;
    std::array<runtime::CheckBox *, table.size()> pinBoxes{};
    runtime::TextBox *dataByte;
    runtime::CommandButton *writeButton;
    runtime::CheckBox *direction;
    runtime::Label *message;
    std::array<runtime::Label *, 3> registerLines{};
    runtime::ListBox *log;
    runtime::Timer *timer;
    runtime::CommandButton *recordButton;
    runtime::CommandButton *stopButton;
    runtime::TextBox *vcdFile;
    runtime::CommandButton *saveButton;
    runtime::Connector *connector;
    runtime::ComboBox *plugChoice;
    runtime::CommandButton *testButton;

    static constexpr int logLines = 200;

  private:
    using Registers = std::array<std::optional<std::uint8_t>, 3>;

    // Runs a port action; a refusal or failed call shows the library's
    // words in the window, forgets every level and stops polling.
    void guarded(const std::function<void()> &action);
    [[nodiscard]] std::int16_t portOf(Register reg) const;
    std::uint8_t read(Register reg);
    void write(Register reg, std::uint8_t value);
    [[nodiscard]] bool dataIsInput() const;
    [[nodiscard]] bool isInput(const Pin &pin) const;
    [[nodiscard]] std::optional<bool> levelOf(const Pin &pin) const;
    void logChanges(const Registers &before);
    void show();
    [[nodiscard]] runtime::DrawnPins drawnPins() const;

    std::string startPort_;
    std::string systemRoot_;
    std::vector<std::string> listed_; // the drop-down's lines
    std::optional<std::int16_t> base_;
    Registers registers_{};
    std::chrono::steady_clock::time_point opened_;
    std::optional<capture::Recorder> recording_;
    std::chrono::steady_clock::time_point recordStart_;
    std::string recorded_; // the last capture's whole file
    long long recordedSamples_ = 0;
    std::array<std::string, table.size()> faults_{}; // the last test's, pin 1 first
};

} // namespace pins
