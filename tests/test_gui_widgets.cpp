// The panel widgets against their control models, with real Qt widgets offscreen.

#include <gtest/gtest.h>

#include <QTest>
#include <QActionGroup>
#include <QLineEdit>
#include <QMenu>

#include "support/GuiTest.h"
#include "ui/Controls.h"
#include "ui/qt/Knob.h"
#include "ui/qt/LcdLabel.h"
#include "ui/qt/Led.h"
#include "ui/qt/NoteSlider.h"
#include "ui/qt/StdViews.h"
#include "ui/qt/Switch.h"

using namespace zelvox;
using namespace zelvox::qt;
using namespace zelvox::testing;

namespace {

class GuiWidgets : public ::testing::Test {
protected:
    void SetUp() override { GuiApp(); }
};

// Distance between two colours, channel by channel.
int ColourDistance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// Share of the pixels in r (of the widget as drawn) that are within tol of colour c.
double Share(QWidget* w, QRectF r, QColor c, int tol = 60) {
    const QImage img = Grab(w);
    int hit = 0, n = 0;
    for (int y = int(r.top()); y < int(r.bottom()); ++y)
        for (int x = int(r.left()); x < int(r.right()); ++x, ++n)
            if (ColourDistance(img.pixelColor(x, y), c) < tol) ++hit;
    return n ? double(hit) / n : 0.0;
}

} // namespace

TEST_F(GuiWidgets, KnobDragWheelAndKeysChangeTheModel) {
    Knob model("MMWheel3", 0, 126, 0);
    model.SetCaption("Cut-off");
    int changes = 0;
    model.OnChange = [&] { ++changes; };
    KnobView knob(model);
    knob.resize(44, 58);
    knob.show();

    // Dragging upwards turns it up; a full sweep takes 160 pixels.
    Press(&knob, {22, 40});
    Move(&knob, {22, 0});
    EXPECT_EQ(model.Value(), 32); // 40 px of 160 on a range of 126 = 31.5, rounded
    Move(&knob, {22, -500});
    EXPECT_EQ(model.Value(), 126);
    Release(&knob, {22, -500});
    Move(&knob, {22, 200}, Qt::NoButton); // no longer dragging
    EXPECT_EQ(model.Value(), 126);

    Wheel(&knob, -3);
    EXPECT_EQ(model.Value(), 123);
    Key(&knob, Qt::Key_PageDown);
    EXPECT_EQ(model.Value(), 111);
    Key(&knob, Qt::Key_Up);
    EXPECT_EQ(model.Value(), 112);
    Key(&knob, Qt::Key_Home);
    EXPECT_EQ(model.Value(), 0);
    Key(&knob, Qt::Key_Down); // already at the minimum: no change, no event
    EXPECT_EQ(model.Value(), 0);
    EXPECT_EQ(changes, 6);
    EXPECT_EQ(knob.toolTip(), "Cut-off: 0");
}

TEST_F(GuiWidgets, KnobFollowsTheModelAndScalesItsStepsToTheRange) {
    Knob volume("MMWheel6", 0, 26125, 26125);
    KnobView knob(volume);
    knob.resize(44, 58);
    EXPECT_EQ(knob.SingleStep(), 205);
    EXPECT_EQ(knob.PageStep(), 2612);
    EXPECT_DOUBLE_EQ(knob.AngleFor(0), 225.0);
    EXPECT_DOUBLE_EQ(knob.AngleFor(26125), -45.0);
    Key(&knob, Qt::Key_PageUp); // at the maximum: stays
    EXPECT_EQ(volume.Value(), 26125);

    volume.SetValue(13000);
    EXPECT_EQ(knob.toolTip(), "13000");
    volume.SetEnabled(false);
    EXPECT_FALSE(knob.isEnabled());
    volume.SetVisible(false);
    EXPECT_TRUE(knob.isHidden());
}

TEST_F(GuiWidgets, KnobPaintsAPointerThatTurnsWithTheValue) {
    Knob model("MMWheel1", 0, 100, 0);
    KnobView knob(model);
    knob.resize(44, 58);
    // The pointer is white: find the white pixels away from the centre and check their side.
    auto whiteCentroidX = [&] {
        const QImage img = Grab(&knob);
        double sx = 0;
        int n = 0;
        for (int y = 0; y < 42; ++y)
            for (int x = 0; x < img.width(); ++x)
                if (ColourDistance(img.pixelColor(x, y), Qt::white) < 20) {
                    sx += x;
                    ++n;
                }
        return n ? sx / n : -1.0;
    };
    const double atMin = whiteCentroidX();
    model.SetValue(100);
    const double atMax = whiteCentroidX();
    ASSERT_GT(atMin, 0);
    EXPECT_LT(atMin, 20.0); // lower left
    EXPECT_GT(atMax, 24.0); // lower right
}

TEST_F(GuiWidgets, NoteSliderSelectsItsStepOnEitherButtonAndDrawsTheThumbColour) {
    NoteSlider model("MMSlider5", 1, 37, 13);
    int entered = 0, changed = 0;
    model.OnEnter = [&] { ++entered; };
    model.OnChange = [&] { ++changed; };
    QWidget window;
    window.resize(100, 200);
    NoteSliderView slider(model, &window);
    slider.setGeometry(10, 10, 20, 128);
    QMenu menu;
    QAction* play = menu.addAction("Play");
    slider.SetContextMenu(&menu);
    window.show();

    // A right click selects the step, does not move the note and opens the menu.
    RightClick(&slider, {10, 5});
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(changed, 0);
    EXPECT_TRUE(WaitFor([&] { return menu.isVisible(); }, 2000));
    play->trigger();
    menu.hide();

    // A left click on the track puts the thumb there: the top is the highest note.
    Click(&slider, {10, 2});
    EXPECT_EQ(entered, 2);
    EXPECT_EQ(model.Value(), 37);
    Click(&slider, {10, 126});
    EXPECT_EQ(model.Value(), 1);
    QTest::keyClick(&slider, Qt::Key_Up, Qt::ShiftModifier); // an octave
    EXPECT_EQ(model.Value(), 13);
    Wheel(&slider, 2);
    EXPECT_EQ(model.Value(), 15);

    // The thumb shows the model's colour.
    model.SetThumbColour(Colours::Red);
    const QRectF t = slider.ThumbRect();
    EXPECT_GT(Share(&slider, t, QColor(255, 0, 0)), 0.25);
    model.SetThumbColour(Colours::Grey);
    EXPECT_GT(Share(&slider, t, QColor(128, 128, 128), 30), 0.25);
    EXPECT_LT(Share(&slider, t, QColor(255, 0, 0)), 0.05);

    // A disabled step takes no input.
    model.SetEnabled(false);
    Click(&slider, {10, 2});
    EXPECT_EQ(model.Value(), 15);
}

TEST_F(GuiWidgets, SwitchShowsItsCaptionsAndTakesTheHalfThatWasClicked) {
    Switch model("MMSwitch1", "Saw", "Square", 0);
    int changed = 0;
    model.OnChange = [&] { ++changed; };
    SwitchView sw(model);
    sw.resize(40, 58);
    Click(&sw, {20, 10});
    EXPECT_EQ(model.Value(), 1);
    Click(&sw, {20, 12}); // the same position again: no event
    Click(&sw, {20, 50});
    EXPECT_EQ(model.Value(), 0);
    Key(&sw, Qt::Key_Up);
    EXPECT_EQ(model.Value(), 1);
    EXPECT_EQ(changed, 3);

    // The lever is drawn at the top for 1 and at the bottom for 0.
    auto leverBrightnessAt = [&](double y) {
        const QRectF s = sw.SlotRect();
        return Grab(&sw).pixelColor(int(s.center().x()) + 3, int(y)).lightness();
    };
    const QRectF s = sw.SlotRect();
    EXPECT_GT(leverBrightnessAt(s.top() + 4), leverBrightnessAt(s.bottom() - 4));
    model.SetValue(0);
    EXPECT_LT(leverBrightnessAt(s.top() + 4), leverBrightnessAt(s.bottom() - 4));
}

TEST_F(GuiWidgets, LedAndLedButtonRaiseTheirEventsAndShowTheirState) {
    Led led("MMLED3", Colours::Lime);
    int ledClicks = 0;
    led.OnClick = [&] { ++ledClicks; };
    LedView ledView(led);
    ledView.resize(14, 14);
    Click(&ledView);
    EXPECT_EQ(ledClicks, 1);
    EXPECT_GT(Share(&ledView, ledView.rect(), QColor(0, 255, 0), 120), 0.4);
    led.SetColor(Colours::Maroon);
    EXPECT_GT(Share(&ledView, ledView.rect(), QColor(128, 0, 0), 120), 0.4);
    EXPECT_LT(Share(&ledView, ledView.rect(), QColor(0, 255, 0), 120), 0.05);

    LedButton button("LEDButton4", "4");
    int clicks = 0, moves = 0;
    button.OnClick = [&] { ++clicks; };
    button.OnMouseMove = [&] { ++moves; };
    LedButtonView view(button);
    view.resize(24, 28);
    view.show();
    Move(&view, {5, 5}, Qt::NoButton);
    EXPECT_EQ(moves, 1);
    Click(&view);
    EXPECT_EQ(clicks, 1);
    Press(&view, {5, 5});
    Release(&view, {100, 100}); // released away from the button: no click
    EXPECT_EQ(clicks, 1);
    button.SetEnabled(false);
    Click(&view);
    EXPECT_EQ(clicks, 1);

    auto lampGreen = [&] { return Grab(&view).pixelColor(12, 6).green(); };
    const int dark = lampGreen();
    button.SetLedOn(true);
    EXPECT_GT(lampGreen(), dark + 60);
}

TEST_F(GuiWidgets, LcdLabelShowsTheCaptionAndActsAsAGlyphButton) {
    Label note("Label1", "C#2");
    LcdLabel lcd(note);
    EXPECT_EQ(lcd.Text(), "C#2");
    note.SetCaption("D2");
    EXPECT_EQ(lcd.Text(), "D2");

    Click(&lcd); // a plain label does not click
    Label up("MMLabel1", "\u25B2");
    int clicks = 0;
    note.OnClick = up.OnClick = [&] { ++clicks; };
    Click(&lcd);
    EXPECT_EQ(clicks, 0);
    LcdLabel arrow(up, QColor(0, 255, 0), /*clickable=*/true);
    arrow.resize(22, 20);
    Click(&arrow);
    EXPECT_EQ(clicks, 1);
}

TEST_F(GuiWidgets, SpinEditFollowsTheModelAndCanBeMadeStepOnly) {
    SpinEdit tempo("SpinEdit972", 20, 240, 140);
    int changed = 0;
    tempo.OnChange = [&] { ++changed; };
    SpinEditView spin(tempo, /*typable=*/false);
    spin.show();
    EXPECT_EQ(spin.minimum(), 20);
    EXPECT_EQ(spin.maximum(), 240);
    EXPECT_EQ(spin.value(), 140);

    // Typing does nothing; stepping does.
    spin.setFocus();
    Key(&spin, Qt::Key_9, "9");
    Key(&spin, Qt::Key_Return);
    EXPECT_EQ(tempo.Value(), 140);
    spin.stepBy(1);
    EXPECT_EQ(tempo.Value(), 141);
    Key(&spin, Qt::Key_Down);
    EXPECT_EQ(tempo.Value(), 140);
    EXPECT_EQ(changed, 2);

    // From code: the view follows without raising a second change.
    tempo.SetValue(500);
    EXPECT_EQ(spin.value(), 240);
    EXPECT_EQ(changed, 3);

    SpinEdit phrase("Spin1p", 0, 16, 0);
    SpinEditView typable(phrase);
    typable.findChild<QLineEdit*>()->setText("12");
    typable.interpretText();
    EXPECT_EQ(phrase.Value(), 12);
}

TEST_F(GuiWidgets, ComboCheckButtonLabelAndMenuViews) {
    ComboBox list("SComboBox971");
    list.SetItems({"Attack", "Decay", "Cut-off"});
    list.SetItemIndex(0);
    int listChanges = 0;
    list.OnChange = [&] { ++listChanges; };
    ComboBoxView combo(list);
    EXPECT_EQ(combo.count(), 3);
    EXPECT_EQ(combo.currentText(), "Attack");
    emit combo.activated(0); // choosing the item already shown still counts
    EXPECT_EQ(listChanges, 1);
    emit combo.activated(2);
    EXPECT_EQ(list.ItemIndex(), 2);
    list.SetItemIndex(1);
    EXPECT_EQ(combo.currentText(), "Decay");

    CheckBox enable("CheckBox1", "Enable MIDI");
    int toggles = 0;
    enable.OnClick = [&] { ++toggles; };
    CheckBoxView check(enable);
    check.click();
    EXPECT_TRUE(enable.Checked());
    EXPECT_EQ(toggles, 1);
    enable.SetChecked(false);
    EXPECT_FALSE(check.isChecked());

    Button start("Button1", "Loop");
    int starts = 0;
    start.OnClick = [&] { ++starts; };
    ButtonView button(start);
    button.click();
    EXPECT_EQ(starts, 1);
    start.SetCaption("Record");
    EXPECT_EQ(button.text(), "Record");

    Label phrase("Label33", "1", Colours::White);
    LabelView label(phrase);
    phrase.SetFontColour(Colours::Aqua);
    EXPECT_EQ(label.palette().color(QPalette::WindowText), QColor(0, 255, 255));

    MenuItem all("AllNotes1", "&All Notes", true), selected("SelectedNote1", "&Selected Note", true);
    all.SetChecked(true);
    all.OnClick = [&] { all.SetChecked(true); selected.SetChecked(false); };
    selected.OnClick = [&] { selected.SetChecked(true); all.SetChecked(false); };
    QActionGroup group(nullptr);
    MenuAction a(all, &group), s(selected, &group);
    EXPECT_EQ(a.text(), "&All Notes");
    EXPECT_TRUE(a.isChecked());
    s.trigger();
    EXPECT_TRUE(s.isChecked());
    EXPECT_FALSE(a.isChecked());
    // A click whose handler refuses leaves the mark as the model has it.
    all.OnClick = nullptr;
    a.trigger();
    EXPECT_FALSE(a.isChecked());
    EXPECT_TRUE(s.isChecked());
}
