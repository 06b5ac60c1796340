#pragma once
// Toolkit-free models of the panel controls. The program's behaviour is written against these
// objects; a Qt widget (ui/qt/) attaches to one, draws it and forwards user input to it, and
// holds no state of its own.
//
// Two kinds of notification:
//  - the control's event (OnChange, OnClick, ...): the program's handler, raised as the design
//    says (e.g. only when a value actually changes);
//  - view listeners: raised on every visible change (value, colour, caption, enabled, ...) so
//    that an attached widget can repaint. Views never hold state.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zelvox {

using Colour = uint32_t; // 0xRRGGBB
namespace Colours {
constexpr Colour Black = 0x000000;
constexpr Colour White = 0xFFFFFF;
constexpr Colour Lime = 0x00FF00;
constexpr Colour Red = 0xFF0000;
constexpr Colour Maroon = 0x800000;
constexpr Colour Grey = 0x808080;
constexpr Colour Aqua = 0x00FFFF;
} // namespace Colours

class Control {
public:
    explicit Control(std::string name = {}) : Name(std::move(name)) {}
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    const std::string Name;

    bool Enabled() const { return Enabled_; }
    void SetEnabled(bool e);
    bool Visible() const { return Visible_; }
    void SetVisible(bool v);
    const std::string& Caption() const { return Caption_; }
    void SetCaption(const std::string& c);

    // View side: returns a token for RemoveViewListener.
    int AddViewListener(std::function<void()> listener);
    void RemoveViewListener(int token);

protected:
    void NotifyViews();

private:
    bool Enabled_ = true;
    bool Visible_ = true;
    std::string Caption_;
    std::vector<std::pair<int, std::function<void()>>> Views_;
    int NextToken_ = 1;
};

// A control with an integer value in a range: knobs, switches, spin edits, note sliders.
// Setting the value (from code or from the user) clamps it to the range and raises OnChange
// only when the stored value changes.
class ValueControl : public Control {
public:
    ValueControl(std::string name, int32_t min, int32_t max, int32_t value,
                 const std::string& caption = {});

    int32_t Value() const { return Value_; }
    // The stored value itself, for readers that must see it live (the render loop reads the
    // master volume knob on every sample).
    const int32_t& ValueRef() const { return Value_; }
    int32_t Min() const { return Min_; }
    int32_t Max() const { return Max_; }
    virtual void SetValue(int32_t v);
    void SetRange(int32_t min, int32_t max);

    std::function<void()> OnChange;

    // The value as the user reads it ("429 ms", "60 %"); the plain number when ValueText
    // is not set.
    std::function<std::string(int32_t)> ValueText;
    std::string Text() const { return ValueText ? ValueText(Value_) : std::to_string(Value_); }

protected:
    int32_t Clamp(int32_t v) const { return v < Min_ ? Min_ : (v > Max_ ? Max_ : v); }
    void Store(int32_t v); // writes, notifies views, raises OnChange

    int32_t Min_, Max_, Value_;
};

using Knob = ValueControl;     // rotary knob
using SpinEdit = ValueControl; // spin edit

// Two-position switch with a caption above (value 1) and below (value 0).
class Switch : public ValueControl {
public:
    Switch(std::string name, std::string topCaption, std::string bottomCaption, int32_t value)
        : ValueControl(std::move(name), 0, 1, value), TopCaption(std::move(topCaption)),
          BottomCaption(std::move(bottomCaption)) {}
    const std::string TopCaption, BottomCaption;
};

// Vertical note slider: an out-of-range request clamps and still raises OnChange.
class NoteSlider : public ValueControl {
public:
    NoteSlider(std::string name, int32_t min, int32_t max, int32_t value)
        : ValueControl(std::move(name), min, max, value) {}
    void SetValue(int32_t v) override;

    Colour ThumbColour() const { return Thumb_; }
    void SetThumbColour(Colour c);

    std::function<void()> OnEnter; // receives the keyboard focus (a click selects the step)

    // Keyboard focus. A view calls FocusIn when its widget gains the focus (raises OnEnter)
    // and FocusOut when it loses it. Code calls SetFocus: the slider becomes the focused one
    // (views move the real focus on the notification) and OnEnter runs.
    bool Focused() const { return Focused_; }
    void FocusIn();
    void FocusOut();
    void SetFocus() { FocusIn(); }

private:
    Colour Thumb_ = Colours::Lime;
    bool Focused_ = false;
};

class Led : public Control {
public:
    explicit Led(std::string name, Colour c = Colours::Black) : Control(std::move(name)), Colour_(c) {}
    Colour Color() const { return Colour_; }
    void SetColor(Colour c);
    std::function<void()> OnClick;
    void Click() {
        if (Enabled() && OnClick) OnClick();
    }

private:
    Colour Colour_;
};

// Push button with an LED (the pattern buttons).
class LedButton : public Control {
public:
    LedButton(std::string name, std::string caption, Colour ledColour = Colours::Lime);
    bool LedOn() const { return LedOn_; }
    void SetLedOn(bool on);
    Colour LedColour() const { return LedColour_; }
    std::function<void()> OnClick;
    std::function<void()> OnMouseMove;
    void Click() {
        if (Enabled() && OnClick) OnClick();
    }

private:
    bool LedOn_ = false;
    Colour LedColour_;
};

class Button : public Control {
public:
    Button(std::string name, std::string caption) : Control(std::move(name)) { SetCaption(caption); }
    std::function<void()> OnClick;
    void Click() {
        if (Enabled() && OnClick) OnClick();
    }
};

// A label; FontColour is what the arranger's phrase labels change. Some labels are
// clickable (the arrow glyphs of the lower panel).
class Label : public Control {
public:
    Label(std::string name, std::string caption, Colour font = Colours::Black)
        : Control(std::move(name)), FontColour_(font) {
        SetCaption(caption);
    }
    Colour FontColour() const { return FontColour_; }
    void SetFontColour(Colour c);
    std::function<void()> OnClick;
    void Click() {
        if (Enabled() && OnClick) OnClick();
    }

private:
    Colour FontColour_;
};

class CheckBox : public Control {
public:
    CheckBox(std::string name, std::string caption, bool checked = false)
        : Control(std::move(name)), Checked_(checked) {
        SetCaption(caption);
    }
    bool Checked() const { return Checked_; }
    void SetChecked(bool c); // raises OnClick when the state changes
    std::function<void()> OnClick;

private:
    bool Checked_;
};

// Drop-down list: OnChange is raised on every ItemIndex assignment, changed or not.
class ComboBox : public Control {
public:
    explicit ComboBox(std::string name) : Control(std::move(name)) {}
    std::vector<std::string> Items;
    void SetItems(std::vector<std::string> items);
    int32_t ItemIndex() const { return ItemIndex_; }
    void SetItemIndex(int32_t i);
    std::function<void()> OnChange;

private:
    int32_t ItemIndex_ = -1;
};

class MenuItem : public Control {
public:
    MenuItem(std::string name, std::string caption, bool radio = false)
        : Control(std::move(name)), RadioItem(radio) {
        SetCaption(caption);
    }
    const bool RadioItem;
    bool Checked() const { return Checked_; }
    void SetChecked(bool c);
    std::function<void()> OnClick;
    void Click() {
        if (Enabled() && OnClick) OnClick();
    }

private:
    bool Checked_ = false;
};

} // namespace zelvox
