// The main window's views driving the program's logic: transport, knobs into the pattern
// store, the step context menu, pages, LEDs, pattern buttons and their menu, arrows, spin
// edits. Real widgets, offscreen.

#include <gtest/gtest.h>

#include <QMenu>
#include <QPushButton>
#include <QFile>
#include <QSpinBox>
#include <QTest>

#include "app/FileDialogs.h"
#include "app/Program.h"
#include "engine/Tables.h"
#include "sequencer/PatternDefaults.h"
#include "files/PatternFileFormat.h"
#include "support/GuiProgram.h"
#include "ui/qt/Container.h"
#include "ui/qt/Knob.h"
#include "ui/qt/LcdLabel.h"
#include "ui/qt/Led.h"
#include "ui/qt/NoteSlider.h"
#include "ui/qt/Switch.h"

using namespace zelvox;
using namespace zelvox::app;
using namespace zelvox::qt;
using namespace zelvox::testing;

namespace {

class GuiMain : public ::testing::Test {
protected:
    void SetUp() override {
        Holder = std::make_unique<GuiProgram>();
        P = Holder->P.get();
        W = &P->Main();
        W->show();
        ProcessEvents();
    }
    void TearDown() override {
        Holder.reset();
        EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join(" | ").toStdString();
        GuiErrors().clear();
    }

    template <class V = QWidget> V* View(const char* name) {
        V* v = ViewOf<V>(*W, name);
        EXPECT_NE(v, nullptr) << name;
        return v;
    }
    MainForm& F() { return P->Form; }
    // Visible as the user would see it (the window is shown).
    bool Shown(const char* name) { return View(name)->isVisible(); }

    std::unique_ptr<GuiProgram> Holder;
    Program* P = nullptr;
    MainWindow* W = nullptr;
};

} // namespace

TEST_F(GuiMain, LoopAndStopRunTheTransport) {
    auto* loop = View<QPushButton>("Button1");
    auto* stop = View<QPushButton>("Button2");
    EXPECT_EQ(loop->text(), "Loop");
    EXPECT_EQ(stop->text(), "Stop");
    Click(loop);
    EXPECT_TRUE(F().Eng.S.Playing);
    // The buffer-ring output plays; on the low-latency output the JACK client does.
    if (GuiProgram::LowLatencyRun()) ASSERT_NE(P->LowLatency(), nullptr);
    else EXPECT_TRUE(P->Audio().MMWaveOut2.State() & wosPlaying);
    // The device fills its queue at once and then keeps pulling in real time: the
    // sequencer moves on and the sounding step's LED is red.
    const int64_t firstSteps = F().Eng.S.CurStep;
    ASSERT_TRUE(WaitFor([&] { return F().Eng.S.CurStep != firstSteps; }, 3000));
    EXPECT_EQ(F().MMLED(F().Eng.S.CurStep).Color(), Colours::Red);
    Click(stop);
    EXPECT_FALSE(F().Eng.S.Playing);
    EXPECT_FALSE(P->Audio().MMWaveOut2.State() & wosPlaying);
    const int32_t stoppedAt = F().Eng.S.CurStep;
    ProcessEvents(300);
    EXPECT_EQ(F().Eng.S.CurStep, stoppedAt);
}

TEST_F(GuiMain, DraggingAKnobWritesThePatternStore) {
    auto* cutoff = View<KnobView>("MMWheel3");
    ASSERT_TRUE(cutoff->isVisible());
    const int before = F().MMWheel3.Value();
    ASSERT_LT(before, 46);
    const QPointF c(cutoff->width() / 2.0, 20);
    Press(cutoff, c);
    Move(cutoff, c - QPointF(0, 102)); // 102 px of 160 on a range of 126: +80
    Release(cutoff, c - QPointF(0, 102));
    const int turned = before + 80;
    ASSERT_EQ(F().MMWheel3.Value(), turned);
    // All Notes: every step of patterns 1..16, pattern 0 untouched.
    for (int p = 1; p <= 16; ++p)
        for (int s = 1; s <= 16; ++s) ASSERT_EQ(F().Store.Step(p, s).BassCutoff, turned) << p << "/" << s;
    EXPECT_EQ(F().Store.Step(0, 1).BassCutoff, before);

    // Selected Note: only the edit step of the current pattern.
    W->FindAction("&Selected Note")->trigger();
    Click(View<LedView>("MMLED6"));
    ASSERT_EQ(F().EditStep, 6);
    Wheel(cutoff, -5);
    EXPECT_EQ(F().Store.Step(1, 6).BassCutoff, turned - 5);
    EXPECT_EQ(F().Store.Step(1, 5).BassCutoff, turned);
    EXPECT_EQ(F().Store.Step(2, 6).BassCutoff, turned);
}

TEST_F(GuiMain, RightClickingASliderOpensTheStepMenuOnThatStep) {
    auto* slider = View<NoteSliderView>("MMSlider5");
    ASSERT_EQ(F().Store.Step(1, 5).BassPlay, 1);
    RightClick(slider, {8, 10});
    EXPECT_EQ(F().EditStep, 5);
    ASSERT_TRUE(WaitFor([&] { return W->StepMenu()->isVisible(); }, 2000));
    QList<QAction*> items = W->StepMenu()->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->text(), "Play");
    EXPECT_EQ(items[1]->text(), "Slide");
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isEnabled());
    items[0]->trigger();
    W->StepMenu()->hide();
    EXPECT_EQ(F().Store.Step(1, 5).BassPlay, 0);
    EXPECT_EQ(F().MMSlider(5).ThumbColour(), Colours::Grey);
    EXPECT_EQ(F().Store.Step(1, 4).BassPlay, 1);

    // The same on the Twin-T page: Slide greyed, Play shows the drum's flag.
    W->FindAction("&Twin-T synth")->trigger();
    RightClick(View<NoteSliderView>("MMSlider2"), {8, 10});
    ASSERT_TRUE(WaitFor([&] { return W->StepMenu()->isVisible(); }, 2000));
    EXPECT_EQ(F().EditStep, 2);
    EXPECT_FALSE(items[1]->isEnabled());
    EXPECT_FALSE(items[1]->isChecked());
    EXPECT_EQ(items[0]->isChecked(), F().Store.Step(1, 2).TwinTPlay == 1);
    const int before = F().Store.Step(1, 2).TwinTPlay;
    items[0]->trigger();
    W->StepMenu()->hide();
    EXPECT_EQ(F().Store.Step(1, 2).TwinTPlay, 1 - before);
    EXPECT_EQ(F().MMSlider(2).ThumbColour(), before ? Colours::Grey : Colours::Lime);
}

// A step chosen with its LED stays the edit step while menus open and close and the window
// loses and regains activation (a dialog, a file chooser): the slider holding the keyboard
// focus gets those focus events too, and they are not the user entering it. Tab still is.
TEST_F(GuiMain, MenusAndWindowActivationKeepTheStepChosenWithItsLed) {
    QApplication::setActiveWindow(W);
    auto* slider1 = View<NoteSliderView>("MMSlider1");
    slider1->setFocus(Qt::OtherFocusReason);
    ProcessEvents();
    ASSERT_TRUE(slider1->hasFocus());
    F().SelectedNote1Click();
    Click(View<LedView>("MMLED7"));
    ASSERT_EQ(F().EditStep, 7);
    ASSERT_TRUE(slider1->hasFocus()) << "an LED click does not move the focus";

    // In Qt's order: the menu opens (focus out, popup reason), an item runs, the menu closes
    // (focus back in, popup reason).
    QMenu* menu = W->FindAction("&Selected Note")->associatedObjects().isEmpty()
                      ? nullptr
                      : qobject_cast<QMenu*>(W->FindAction("&Selected Note")->associatedObjects().front());
    ASSERT_NE(menu, nullptr);
    menu->popup(W->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(WaitFor([&] { return menu->isVisible(); }, 2000));
    menu->hide();
    ProcessEvents();
    EXPECT_EQ(F().EditStep, 7);
    EXPECT_EQ(F().MMLED(7).Color(), Colours::Maroon);

    // The window deactivated and activated again.
    QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(slider1, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(slider1, &in);
    EXPECT_EQ(F().EditStep, 7);

    // The next knob turn edits step 7, not step 1.
    const int32_t step1 = F().Store.Step(1, 1).BassCutoff;
    Wheel(View<KnobView>("MMWheel3"), 3);
    EXPECT_NE(F().Store.Step(1, 7).BassCutoff, step1);
    EXPECT_EQ(F().Store.Step(1, 1).BassCutoff, step1);

    // Tabbing into a slider is entering it: its step is chosen.
    QFocusEvent tab(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(View<NoteSliderView>("MMSlider3"), &tab);
    EXPECT_EQ(F().EditStep, 3);
}

TEST_F(GuiMain, TheFourPagesShowTheirPanelsAndCaptions) {
    EXPECT_EQ(W->windowTitle(), "Zelvox");
    struct Page {
        const char* Item;
        const char* Caption;
        const char* Panel;
        bool Editor, Labels;
        const char* Start;
    };
    const Page pages[] = {
        {"&Arranger", "Zelvox Arranger", "BassPanel", false, false, "Play"},
        {"&Twin-T synth", "Zelvox Twin-T Synth", "TwinTPanel", true, true, "Loop"},
        {"&Noise synth", "Zelvox Noise Synth", "NoisePanel", true, false, "Loop"},
        {"&Bass synth", "Zelvox Bass-Synth", "BassPanel", true, true, "Loop"},
    };
    for (const Page& p : pages) {
        SCOPED_TRACE(p.Item);
        W->FindAction(p.Item)->trigger();
        EXPECT_EQ(W->windowTitle(), p.Caption);
        for (const char* panel : {"BassPanel", "TwinTPanel", "NoisePanel"})
            EXPECT_EQ(Shown(panel), std::string(panel) == p.Panel) << panel;
        EXPECT_EQ(Shown("EditorPanel"), p.Editor);
        EXPECT_EQ(Shown("ArrangerPanel"), !p.Editor);
        if (p.Editor) {
            EXPECT_EQ(Shown("Label1"), p.Labels);
        }
        EXPECT_EQ(View<QPushButton>("Button1")->text(), p.Start);
        // The step LEDs and the lower panel stay on every page.
        EXPECT_TRUE(Shown("MMLED16"));
        EXPECT_TRUE(Shown("MMWheel6"));
    }
    // Entering the Arranger stops playback.
    Click(View<QPushButton>("Button1"));
    ASSERT_TRUE(F().Eng.S.Playing);
    W->FindAction("&Arranger")->trigger();
    EXPECT_FALSE(F().Eng.S.Playing);
    // Its phrase spin edits write the table.
    auto* phrase3 = View<QSpinBox>("Spin3p");
    phrase3->stepBy(4);
    EXPECT_EQ(F().PhraseTable[3].Pattern, 4);
}

TEST_F(GuiMain, LedsPatternButtonsArrowsAndSpinEditsActOnTheForm) {
    // Step LED 9: selects the step, paints it maroon.
    Click(View<LedView>("MMLED9"));
    EXPECT_EQ(F().EditStep, 9);
    EXPECT_EQ(F().MMLED(9).Color(), Colours::Maroon);

    // Pattern button 4 while stopped: lit alone, pattern 4 shown.
    Click(View<LedButtonView>("LEDButton4"));
    EXPECT_EQ(F().PlayPattern, 4);
    EXPECT_TRUE(F().LEDButton(4).LedOn());
    EXPECT_FALSE(F().LEDButton(1).LedOn());

    // Transpose up moves every bass note on the Bass page.
    const int note = F().Store.Step(4, 1).BassNote;
    Click(View<LcdLabel>("MMLabel1"));
    EXPECT_EQ(F().Store.Step(4, 1).BassNote, note + 1);
    EXPECT_EQ(F().MMSlider(1).Value(), note + 1);

    // Copy pattern 4 through the pattern buttons' menu, paste onto pattern 7 via hover.
    auto* b4 = View<LedButtonView>("LEDButton4");
    auto* b7 = View<LedButtonView>("LEDButton7");
    Move(b4, {5, 5}, Qt::NoButton);
    EXPECT_EQ(F().HoverPattern, 4);
    W->PatternMenu()->actions()[0]->trigger(); // Copy
    Move(b7, {5, 5}, Qt::NoButton);
    EXPECT_EQ(F().HoverPattern, 7);
    W->PatternMenu()->actions()[1]->trigger(); // Paste
    EXPECT_EQ(F().Store.Step(7, 1).BassNote, note + 1);

    // Steps: 8 steps turn LEDs 9..16 black and disable sliders 9..16; the text can't be typed.
    auto* steps = View<QSpinBox>("SpinEdit971");
    steps->setValue(8);
    EXPECT_EQ(F().SpinEdit971.Value(), 8);
    EXPECT_EQ(F().MMLED(12).Color(), Colours::Black);
    EXPECT_FALSE(View("MMSlider12")->isEnabled());
    EXPECT_TRUE(View("MMSlider8")->isEnabled());
    auto* tempo = View<QSpinBox>("SpinEdit972");
    tempo->stepBy(-20);
    EXPECT_EQ(F().SpinEdit972.Value(), 120);
    EXPECT_EQ(F().Eng.S.StepLength, 5512);
}

namespace {
// The frame of the keyboard focus in a view's picture: pixels of the focus colour, which
// nothing else on the panel is drawn in.
bool ShowsFocusFrame(QWidget* w, QColor want = kFocusColour) {
    const QImage img = w->grab().toImage();
    int hits = 0;
    for (int x = 0; x < img.width(); ++x)
        for (int y = 0; y < img.height(); ++y) {
            const QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - want.red()) + std::abs(c.green() - want.green()) +
                    std::abs(c.blue() - want.blue()) < 60)
                ++hits;
        }
    return hits >= 8;
}

std::vector<uint8_t> FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray a = f.readAll();
    return std::vector<uint8_t>(a.begin(), a.end());
}
} // namespace

TEST_F(GuiMain, APatternEnteredWithTheKeyboardAloneIsSavedAsEntered) {
    QApplication::setActiveWindow(W);
    ProcessEvents();
    const QString path = Holder->Path("keys.zvx");
    SetFileChooser([&](QWidget*, const FileDialogSpec&) -> std::optional<QString> { return path; });
    W->FindAction("&Save pattern")->trigger();
    const std::vector<uint8_t> before = FileBytes(path);
    ASSERT_EQ(before.size(), kPatternFileSize);

    // Keys go where a user's would: to the widget holding the focus, else the window.
    auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier, int times = 1) {
        for (int i = 0; i < times; ++i) {
            QWidget* to = QApplication::focusWidget() ? QApplication::focusWidget() : W;
            QTest::keyClick(to, k, m);
        }
        ProcessEvents();
    };
    auto focused = [] { return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(); };

    key(Qt::Key_PageUp);
    EXPECT_EQ(F().PlayPattern, 1) << "no pattern before the first";
    key(Qt::Key_PageDown);
    ASSERT_EQ(F().PlayPattern, 2);
    EXPECT_TRUE(F().LEDButton(2).LedOn());
    ASSERT_EQ(focused(), "MMSlider1") << "choosing a pattern enters its first step";
    EXPECT_TRUE(ShowsFocusFrame(QApplication::focusWidget()));
    EXPECT_FALSE(ShowsFocusFrame(View("MMSlider2")));

    key(Qt::Key_Up, Qt::NoModifier, 5); // step 1: note 13 + 5
    key(Qt::Key_P);                     // and it plays (or not) the other way round
    key(Qt::Key_Right);
    EXPECT_EQ(F().EditStep, 2);
    EXPECT_EQ(F().MMLED(2).Color(), Colours::Maroon);
    key(Qt::Key_Up, Qt::ShiftModifier); // step 2: an octave up, play and slide toggled
    key(Qt::Key_S);
    key(Qt::Key_P);
    key(Qt::Key_Right);
    key(Qt::Key_Down, Qt::NoModifier, 2); // step 3: two down
    key(Qt::Key_Right, Qt::NoModifier, 14);
    EXPECT_EQ(focused(), "MMSlider16") << "Right stops at the last step";
    key(Qt::Key_End);                      // step 16: the lowest note
    key(Qt::Key_Left);
    key(Qt::Key_Home);                     // step 15: the highest
    EXPECT_EQ(F().EditStep, 15);

    key(Qt::Key_Space);
    EXPECT_TRUE(F().Eng.S.Playing);
    key(Qt::Key_Space);
    EXPECT_FALSE(F().Eng.S.Playing);

    W->FindAction("&Save pattern")->trigger();
    SetFileChooser({});
    const std::vector<uint8_t> after = FileBytes(path);

    // Expected: the file before with just these five steps of pattern 2 changed.
    PatternFileRecord r;
    DecodePatternFile(before.data(), r);
    auto note = [&](int step, int32_t n) {
        r.Store.Step(2, step).BassNote = n;
        r.Store.Step(2, step).BassFreq = Note2Freq(n);
    };
    note(1, kDefaultNote + 5);
    r.Store.Step(2, 1).BassPlay ^= 1;
    note(2, kDefaultNote + 12);
    r.Store.Step(2, 2).BassPlay ^= 1;
    r.Store.Step(2, 2).BassSlide ^= 1;
    note(3, kDefaultNote - 2);
    note(16, 1);
    note(15, kNoteCount);
    EXPECT_TRUE(after == EncodePatternFile(r));
    for (size_t i = 0; i < std::min(after.size(), before.size()); ++i)
        if (after[i] != EncodePatternFile(r)[i]) {
            ADD_FAILURE() << "first difference at byte " << i;
            break;
        }
}

TEST_F(GuiMain, KnobsShowTheirValueInTheirUnitsWhileTurnedAndEveryControlItsFocus) {
    QApplication::setActiveWindow(W);
    auto* delay = View<KnobView>("MMWheel16");
    EXPECT_FALSE(delay->ValueShown());
    Wheel(delay, 4);
    ASSERT_TRUE(delay->ValueShown());
    EXPECT_EQ(delay->ValueDisplay()->text(), "429 ms");
    EXPECT_TRUE(delay->ValueDisplay()->isVisibleTo(W)) << "inside the window's picture";
    auto* depth = View<KnobView>("MMWheel17");
    depth->setFocus(Qt::TabFocusReason);
    QTest::keyClick(depth, Qt::Key_Up, Qt::ShiftModifier); // a tenth of 0..100
    ASSERT_TRUE(depth->ValueShown());
    EXPECT_EQ(depth->ValueDisplay()->text(), "10 %");
    EXPECT_EQ(View<QSpinBox>("SpinEdit972")->text(), "140 BPM");
    // Shown at once, not for good: it goes once the turn has ended for a moment.
    EXPECT_TRUE(delay->HidePending());

    // Every focusable control of the panel draws its focus.
    for (const char* name : {"MMWheel17", "MMSwitch1", "MMLabel3", "LEDButton4"}) {
        QWidget* w = View(name);
        w->setFocus(Qt::TabFocusReason);
        ProcessEvents();
        ASSERT_TRUE(w->hasFocus()) << name;
        const bool button = std::string(name) == "LEDButton4"; // dark on the light face
        EXPECT_TRUE(ShowsFocusFrame(w, button ? QColor(0, 0, 160) : kFocusColour)) << name;
    }
}
