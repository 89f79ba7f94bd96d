#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The form runtime's own control types. The panel names its controls through
// these, so one panel source serves every toolkit; each side of the runtime
// (Qt, Win32) builds the real controls from a form's layout.
namespace runtime {

// Positions and sizes in twips: 15 to a logical pixel, 1440 to an inch.
struct Twips {
    int left, top, width, height;
};
inline constexpr int twipsPerPixel = 15;

enum class Kind : std::uint8_t {
    TextBox,
    MaskEdBox,
    Label,
    CommandButton,
    CheckBox,
    ListBox,
    ComboBox,  // an editable drop-down
    Timer,     // no place on screen; its text is the interval in milliseconds
    Connector, // a DB-25 socket, drawn; takes no focus
};

struct ControlLayout {
    const char *name;
    Kind kind;
    Twips place;
    const char *text;
    const char *accessibleName = nullptr; // what a screen reader calls a field; no visible text
};

// A window and its controls, listed in tab order.
struct FormLayout {
    const char *name;
    const char *caption;
    int width, height; // client area, twips
    std::vector<ControlLayout> controls;
    // A resizable window zooms: its layout, text and all, fills it in
    // proportion. It never gets smaller than the layout.
    bool resizable = false;
};

class Control {
  public:
    explicit Control(std::string name) : name_(std::move(name)) {}
    virtual ~Control() = default;
    Control(const Control &) = delete;
    Control &operator=(const Control &) = delete;

    [[nodiscard]] const std::string &name() const { return name_; }
    // UTF-8, read afresh from the control at every use.
    [[nodiscard]] virtual std::string text() const = 0;
    // False, and nothing changed, when the control refuses the text.
    virtual bool setText(const std::string &text) = 0;

  private:
    std::string name_;
};

class TextBox : public Control {
  public:
    using Control::Control;
};
class Label : public Control {
  public:
    using Control::Control;
};

// Three digit positions whose prompt is "0": untouched it reads "000", with
// only the first position typed "500". Refuses any text but three digits.
class MaskEdBox : public Control {
  public:
    using Control::Control;
};

class CommandButton : public Control {
  public:
    using Control::Control;
    // Each click runs handler through event delivery.
    virtual void onClick(std::function<void()> handler) = 0;
};

// A two-state control: a click or Space flips it, then the handler runs.
class CheckBox : public Control {
  public:
    using Control::Control;
    [[nodiscard]] virtual bool checked() const = 0;
    virtual void setChecked(bool checked) = 0;
    // What a screen reader says for it; changes with the state it shows.
    virtual void setAccessibleName(const std::string &name) = 0;
    virtual void onClick(std::function<void()> handler) = 0;
};

// Lines of text, the first on top; text() is the line in focus.
class ListBox : public Control {
  public:
    using Control::Control;
    virtual void insertFirst(const std::string &line) = 0;
    virtual void removeLast() = 0;
    [[nodiscard]] virtual int count() const = 0;
    [[nodiscard]] virtual std::string line(int index) const = 0;
};

// An editable drop-down: text() is what the edit part holds.
class ComboBox : public Control {
  public:
    using Control::Control;
    virtual void setItems(const std::vector<std::string> &items) = 0;
};

// Ticks only while its window is shown and not minimised, so a hidden window
// does no work. text() is the interval in milliseconds.
class Timer : public Control {
  public:
    using Control::Control;
    virtual void setEnabled(bool enabled) = 0;
    [[nodiscard]] virtual bool enabled() const = 0;
    // True while it ticks: enabled, and its window shown and not minimised.
    [[nodiscard]] virtual bool ticking() const = 0;
    virtual void onTick(std::function<void()> handler) = 0;
};

// One contact of a drawn DB-25 socket.
struct DrawnPin {
    enum class Role : std::uint8_t { Output, Input, Ground };
    Role role = Role::Ground;
    std::optional<bool> level; // what a meter on the pin reads; none where not read
    std::string name;          // short, drawn beside the contact
    std::string detail;        // under the name: the register bit
    std::string line;          // shown while the pointer is on the contact
    std::string accessibleName;
    std::string fault; // what a self-test found wrong with the line; empty when nothing
    bool operator==(const DrawnPin &) const = default;
};
using DrawnPins = std::array<DrawnPin, 25>; // pin 1 first

// A PC's female DB-25 socket as seen on the back of the PC: pin 1 at the top
// right. A click on a contact runs the handler with its number.
class Connector : public Control {
  public:
    using Control::Control;
    [[nodiscard]] std::string text() const override { return {}; }
    bool setText(const std::string &) override { return false; }
    // Redraws only what changed: polls that change nothing draw nothing.
    void setPins(const DrawnPins &pins);
    [[nodiscard]] const DrawnPins &pins() const { return pins_; }
    virtual void onPinClick(std::function<void(int number)> handler) = 0;

  protected:
    // before: what was drawn, so that a toolkit can tell of each change alone.
    virtual void redraw(const DrawnPins &before) = 0;

  private:
    DrawnPins pins_{};
};

// A start-up window: the runtime builds it from its layout, runs its load
// event, and only then shows it.
class Form {
  public:
    explicit Form(const FormLayout &layout);
    virtual ~Form();
    Form(const Form &) = delete;
    Form &operator=(const Form &) = delete;

    virtual void Form_Load() = 0;

    // A key pressed anywhere in the window but in a field that takes text.
    void onKey(char key, std::function<void()> handler);

    // The control of that name and type, or null.
    template <class Type> Type *control(const char *name) const
    {
        return dynamic_cast<Type *>(find(name));
    }

    // In the layout's order.
    [[nodiscard]] const std::vector<std::unique_ptr<Control>> &controls() const
    {
        return controls_;
    }

    // The toolkit's window, defined by each side of the runtime.
    struct Window;
    [[nodiscard]] Window &window() const { return *window_; }

  private:
    [[nodiscard]] Control *find(const char *name) const;
    std::unique_ptr<Window> window_;
    std::vector<std::unique_ptr<Control>> controls_; // gone before the window
};

} // namespace runtime
