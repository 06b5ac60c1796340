#include "ui/Controls.h"

#include <algorithm>

namespace zelvox {

void Control::SetEnabled(bool e) {
    if (Enabled_ == e) return;
    Enabled_ = e;
    NotifyViews();
}

void Control::SetVisible(bool v) {
    if (Visible_ == v) return;
    Visible_ = v;
    NotifyViews();
}

void Control::SetCaption(const std::string& c) {
    if (Caption_ == c) return;
    Caption_ = c;
    NotifyViews();
}

int Control::AddViewListener(std::function<void()> listener) {
    const int token = NextToken_++;
    Views_.emplace_back(token, std::move(listener));
    return token;
}

void Control::RemoveViewListener(int token) {
    std::erase_if(Views_, [token](const auto& v) { return v.first == token; });
}

void Control::NotifyViews() {
    // A listener may remove itself; iterate over a snapshot of the tokens.
    for (size_t i = 0; i < Views_.size(); ++i) Views_[i].second();
}

ValueControl::ValueControl(std::string name, int32_t min, int32_t max, int32_t value,
                           const std::string& caption)
    : Control(std::move(name)), Min_(min), Max_(max), Value_(value < min ? min : (value > max ? max : value)) {
    if (!caption.empty()) SetCaption(caption);
}

void ValueControl::SetValue(int32_t v) {
    v = Clamp(v);
    if (v == Value_) return;
    Store(v);
}

void ValueControl::Store(int32_t v) {
    Value_ = v;
    NotifyViews();
    if (OnChange) OnChange();
}

void ValueControl::SetRange(int32_t min, int32_t max) {
    Min_ = min;
    Max_ = max;
    SetValue(Value_);
    NotifyViews();
}

void NoteSlider::SetValue(int32_t v) {
    const int32_t c = Clamp(v);
    if (c == Value_ && c == v) return;
    Store(c); // an out-of-range request that clamps still raises the change event
}

void NoteSlider::FocusIn() {
    if (!Focused_) {
        Focused_ = true;
        NotifyViews();
    }
    if (OnEnter) OnEnter();
}

void NoteSlider::FocusOut() {
    if (!Focused_) return;
    Focused_ = false;
    NotifyViews();
}

void NoteSlider::SetThumbColour(Colour c) {
    if (Thumb_ == c) return;
    Thumb_ = c;
    NotifyViews();
}

void Led::SetColor(Colour c) {
    if (Colour_ == c) return;
    Colour_ = c;
    NotifyViews();
}

LedButton::LedButton(std::string name, std::string caption, Colour ledColour)
    : Control(std::move(name)), LedColour_(ledColour) {
    SetCaption(caption);
}

void LedButton::SetLedOn(bool on) {
    if (LedOn_ == on) return;
    LedOn_ = on;
    NotifyViews();
}

void Label::SetFontColour(Colour c) {
    if (FontColour_ == c) return;
    FontColour_ = c;
    NotifyViews();
}

void CheckBox::SetChecked(bool c) {
    if (Checked_ == c) return;
    Checked_ = c;
    NotifyViews();
    if (OnClick) OnClick();
}

void ComboBox::SetItems(std::vector<std::string> items) {
    Items = std::move(items);
    NotifyViews();
}

void ComboBox::SetItemIndex(int32_t i) {
    if (i < -1 || i >= static_cast<int32_t>(Items.size())) i = -1;
    ItemIndex_ = i;
    NotifyViews();
    if (OnChange) OnChange();
}

void MenuItem::SetChecked(bool c) {
    if (Checked_ == c) return;
    Checked_ = c;
    NotifyViews();
}

} // namespace zelvox
