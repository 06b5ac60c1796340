#include "app/MainWindow.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>

#include "app/ErrorDisplay.h"
#include "app/DiceWindow.h"
#include "app/LearnMenu.h"
#include "program/ExampleBank.h"
#include "ui/qt/Container.h"
#include "ui/qt/Knob.h"
#include "ui/qt/LcdLabel.h"
#include "ui/qt/Led.h"
#include "ui/qt/ModelLink.h"
#include "ui/qt/NoteSlider.h"
#include "ui/qt/StdViews.h"
#include "ui/qt/Switch.h"

namespace zelvox::app {

using namespace zelvox::qt;

namespace {
// Layout of the client area (pixels). Columns of the 16 steps: 24 pixels apiece.
constexpr int kStripHeight = 61;
constexpr int kColumn0 = 7;
constexpr int kColumnPitch = 24;
constexpr int kMiddleTop = kStripHeight;
constexpr int kMiddleHeight = 176;
constexpr int kLedTop = kMiddleTop + kMiddleHeight + 3;
constexpr int kLowerTop = kLedTop + 17;
constexpr QSize kKnobSize(44, 58);
constexpr QSize kSwitchSize(42, 58);

int ColumnX(int n) { return kColumn0 + (n - 1) * kColumnPitch; }

// A raised panel look for the areas of the window.
void Bevel(QFrame* f) {
    f->setFrameStyle(QFrame::Panel | QFrame::Raised);
    f->setLineWidth(1);
}

QLabel* Caption(QWidget* parent, const QString& text, QRect where, int px = 10, bool bold = false,
                QColor colour = QColor(0, 0, 0)) {
    auto* l = new QLabel(text, parent);
    l->setFont(PanelFont(px, bold));
    l->setGeometry(where);
    l->setAlignment(Qt::AlignCenter);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    return l;
}
} // namespace

MainWindow::MainWindow(MainForm& form, QWidget* parent) : QMainWindow(parent), Form_(form) {
    setObjectName("Form1");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(ToQString(Form_.Form1.Caption()));
    CaptionLink_ = Form_.Form1.AddViewListener([this] { setWindowTitle(ToQString(Form_.Form1.Caption())); });

    Panel_ = new QWidget(this);
    Panel_->setObjectName("Panel");
    Panel_->setAutoFillBackground(true);
    QPalette pal = Panel_->palette();
    pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
    Panel_->setPalette(pal);
    Panel_->setFixedSize(kClientWidth, kClientHeight - kStatusHeight);
    Panel_->setFont(PanelFont(11));
    setCentralWidget(Panel_);

    // The step context menu, shared by the 16 note sliders and the bass panel's switches, and
    // the pattern buttons' menu. Both are filled before the views that use them are built.
    StepMenu_ = new QMenu(this);
    StepMenu_->setObjectName("PopupMenu1");
    StepMenu_->addAction(new MenuAction(Form_.Play1, StepMenu_));
    StepMenu_->addAction(new MenuAction(Form_.Slide1, StepMenu_));
    connect(StepMenu_, &QMenu::aboutToShow, this, [this] { Guarded([this] { Form_.PopupMenu1Popup(); }); });
    PatternMenu_ = new QMenu(this);
    PatternMenu_->setObjectName("PopupMenu2");
    PatternMenu_->addAction(new MenuAction(Form_.Copy1, PatternMenu_));
    PatternMenu_->addAction(new MenuAction(Form_.Paste1, PatternMenu_));

    // The knobs' and spin edits' menu: MIDI learn, once the program gives it the model.
    LearnMenu_ = new LearnMenu(this);

    BuildKnobStrip();
    BuildEditor();
    BuildArranger();
    BuildStepLeds();
    BuildLowerPanel();

    Status_ = new QLabel;
    Status_->setObjectName("StatusBar1");
    Status_->setFont(PanelFont(11));
    statusBar()->addWidget(Status_, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(kStatusHeight);
    Timer2Timer();
    Timer2_.setInterval(1000);
    connect(&Timer2_, &QTimer::timeout, this, [this] { Timer2Timer(); });
    Timer2_.start();

    BuildMenus();
    BuildKeys();
    setFixedSize(kClientWidth, menuBar()->sizeHint().height() + kClientHeight);
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
}

MainWindow::~MainWindow() {
    // The swing model is this window's member, gone before QWidget deletes the children:
    // its view goes first.
    delete SwingView_;
    SwingView_ = nullptr;
    LearnLink_.reset();
    LearnMenu_->SetModel(nullptr);
    Form_.Form1.RemoveViewListener(CaptionLink_);
}

void MainWindow::BuildKnobStrip() {
    // Each voice's strip shows its rows of the control table, knobs then switches.
    auto knobRow = [this](Control& panelModel, ControlPanel which, const char* title) {
        auto* panel = new ContainerView(panelModel, Panel_);
        Bevel(panel);
        panel->setGeometry(0, 0, kClientWidth, kStripHeight);
        int x = 4;
        for (const ControlRow& row : kControls) {
            if (row.Panel != which || row.Kind != ControlKind::Knob) continue;
            auto* v = new KnobView(*Form_.ControlFor(row.Id), panel);
            v->setGeometry(QRect(QPoint(x, 2), kKnobSize));
            LearnMenu_->Attach(v, row.Id);
            x += kKnobSize.width();
        }
        for (const ControlRow& row : kControls) {
            if (row.Panel != which || row.Kind != ControlKind::Switch) continue;
            auto* v = new SwitchView(static_cast<Switch&>(*Form_.ControlFor(row.Id)), panel);
            v->setGeometry(QRect(QPoint(x, 2), kSwitchSize));
            v->SetContextMenu(StepMenu_);
            x += kSwitchSize.width();
        }
        if (title) {
            // The voice's name in the free part of the strip.
            auto* t = Caption(panel, title, QRect(x + 8, 8, kClientWidth - x - 16, 44), 15, true, QColor(32, 32, 32));
            t->setObjectName(QString(panelModel.Name.c_str()) + "Title");
        }
    };
    knobRow(Form_.BassPanel, ControlPanel::Bass, nullptr);
    knobRow(Form_.TwinTPanel, ControlPanel::TwinT, "TWIN-T DRUM");
    knobRow(Form_.NoisePanel, ControlPanel::Noise, "NOISE");
}

void MainWindow::BuildEditor() {
    auto* editor = new ContainerView(Form_.EditorPanel, Panel_);
    editor->setGeometry(0, kMiddleTop, kClientWidth, kMiddleHeight);
    for (int n = 1; n <= kStepsPerPattern; ++n) {
        const int x = ColumnX(n);
        auto* button = new LedButtonView(Form_.LEDButton(n), editor);
        button->setGeometry(x, 4, kColumnPitch - 1, 28);
        button->SetContextMenu(PatternMenu_);
        auto* slider = new NoteSliderView(Form_.MMSlider(n), editor);
        slider->setGeometry(x + 2, 38, kColumnPitch - 5, 116);
        slider->SetContextMenu(StepMenu_);
        auto* name = new LcdLabel(Form_.NoteLabel(n), QColor(0, 255, 0), false, editor);
        name->setGeometry(x, 158, kColumnPitch - 1, 15);
        name->setFont(PanelFont(9, true));
    }
}

void MainWindow::BuildArranger() {
    auto* table = new ContainerView(Form_.ArrangerPanel, Panel_);
    Bevel(table);
    table->setGeometry(0, kMiddleTop, kClientWidth, kMiddleHeight);
    constexpr int kRowTop = 24, kRowPitch = 19, kSpinW = 60, kSpinH = 18;
    for (int col = 0; col < 2; ++col) {
        const int x0 = 24 + col * 192;
        auto* ph = new LabelView(*Form_.PhraseHeadings[size_t(col * 2)], table);
        ph->setGeometry(x0 + 28, 4, kSpinW, 16);
        ph->setAlignment(Qt::AlignCenter);
        ph->setFont(PanelFont(11, true));
        auto* ch = new LabelView(*Form_.PhraseHeadings[size_t(col * 2 + 1)], table);
        ch->setGeometry(x0 + 28 + kSpinW + 12, 4, kSpinW, 16);
        ch->setAlignment(Qt::AlignCenter);
        ch->setFont(PanelFont(11, true));
        for (int row = 0; row < 8; ++row) {
            const int k = col * 8 + row + 1;
            const int y = kRowTop + row * kRowPitch;
            auto* number = new LabelView(Form_.PhraseLabel(k), table);
            number->setGeometry(x0, y, 24, kSpinH);
            number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            number->setFont(PanelFont(11, true));
            auto* p = new SpinEditView(Form_.PhrasePatternSpin(k), true, table);
            p->setGeometry(x0 + 28, y, kSpinW, kSpinH);
            p->setFont(PanelFont(11));
            auto* c = new SpinEditView(Form_.PhraseCountSpin(k), true, table);
            c->setGeometry(x0 + 28 + kSpinW + 12, y, kSpinW, kSpinH);
            c->setFont(PanelFont(11));
        }
    }
}

void MainWindow::BuildStepLeds() {
    for (int n = 1; n <= kStepsPerPattern; ++n) {
        auto* led = new LedView(Form_.MMLED(n), Panel_);
        led->setGeometry(ColumnX(n) + 4, kLedTop, kColumnPitch - 9, 13);
    }
}

void MainWindow::BuildLowerPanel() {
    auto* lower = new QFrame(Panel_);
    lower->setObjectName("LowerPanel");
    Bevel(lower);
    lower->setGeometry(0, kLowerTop, kClientWidth, kClientHeight - kStatusHeight - kLowerTop);

    const int y = (lower->height() - kKnobSize.height()) / 2;
    auto knob = [&](ControlId id, QPoint at) {
        auto* v = new KnobView(*Form_.ControlFor(id), lower);
        v->setGeometry(QRect(at, kKnobSize));
        LearnMenu_->Attach(v, id);
    };
    knob(ControlId::Delay, QPoint(6, y));
    knob(ControlId::Depth, QPoint(52, y));

    // The arrows as a cross: transpose up/down, rotate left/right.
    const int ax = 104, ay = lower->height() / 2 - 10;
    const QSize a(24, 20);
    auto arrow = [&](Label& m, int dx, int dy) {
        auto* v = new LcdLabel(m, QColor(0, 255, 0), true, lower);
        v->setGeometry(QRect(QPoint(ax + dx, ay + dy), a));
        v->setToolTip(&m == &Form_.MMLabel1   ? "Transpose up"
                      : &m == &Form_.MMLabel2 ? "Transpose down"
                      : &m == &Form_.MMLabel3 ? "Rotate left"
                                              : "Rotate right");
    };
    arrow(Form_.MMLabel1, 26, -22);
    arrow(Form_.MMLabel2, 26, 22);
    arrow(Form_.MMLabel3, 0, 0);
    arrow(Form_.MMLabel4, 52, 0);

    auto* start = new ButtonView(Form_.Button1, lower);
    start->setGeometry(190, ay - 18, 64, 24);
    auto* stop = new ButtonView(Form_.Button2, lower);
    stop->setGeometry(190, ay + 14, 64, 24);
    // Swing, shown where the program plays the window's own synth (ShowSwing): then Loop and
    // Stop move up to make room for it under them, level with Tempo.
    auto* swing = new SpinEditView(Swing, /*typable=*/false, lower);
    swing->setGeometry(190, ay + 26, 64, 20);
    swing->setFont(PanelFont(11));
    swing->setPrefix("Sw ");
    swing->setSuffix("%"); // "Sw 75%" fits beside the arrows at this width
    swing->setToolTip("Swing: every second sixteenth begins this share of a step late");
    swing->hide();
    SwingView_ = swing;

    auto spin = [&](SpinEdit& m, ControlId id, int top) {
        Caption(lower, ToQString(m.Caption()), QRect(264, top, 76, 14), 10)->setObjectName(
            QString("%1Caption").arg(m.Name.c_str()));
        auto* v = new SpinEditView(m, /*typable=*/false, lower);
        v->setGeometry(264, top + 14, 76, 20); // wide enough for "240 BPM"
        v->setFont(PanelFont(11));
        LearnMenu_->Attach(v, id);
    };
    spin(Form_.SpinEdit971, ControlId::Steps, ay - 26);
    spin(Form_.SpinEdit972, ControlId::Tempo, ay + 12);
    // The tempo reads in its unit.
    ViewOf<QSpinBox>("SpinEdit972")->setSuffix(QString(" ") + UnitSymbol(UnitOf(ControlId::Tempo)));

    knob(ControlId::MasterVolume, QPoint(kClientWidth - kKnobSize.width() - 8, y));
}

QAction* MainWindow::AddCommand(QMenu* menu, const char* caption, const char* name, std::function<void()>* handler) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    // A command that fails shows its error and ends; the window carries on.
    connect(a, &QAction::triggered, this, [handler] {
        if (*handler) Guarded(*handler);
    });
    return a;
}

void MainWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    QMenu* file = bar->addMenu("&File");
    AddCommand(file, "&Load pattern", "Loadpattern1", &OnLoadPattern);
    // The factory bank by name; an example is read as Load pattern reads a file, and Save
    // pattern asks for a file as always, so the installed bank is never written.
    QMenu* examples = file->addMenu("Open example");
    examples->setObjectName("OpenExample1");
    for (const Example& e : ListExamples(QCoreApplication::applicationDirPath().toStdString())) {
        QAction* a = examples->addAction(QString::fromStdString(e.Name));
        connect(a, &QAction::triggered, this, [this, path = e.Path] {
            if (OnOpenExample) Guarded([&] { OnOpenExample(path); });
        });
    }
    examples->setEnabled(!examples->isEmpty());
    AddCommand(file, "&Save pattern", "Savepattern1", &OnSavePattern);
    AddCommand(file, "&Record to wav", "Recordtowav1", &OnRecordToWav);
    AddCommand(file, "Export audio...", "ExportAudio1", &OnExportAudio);
    AddCommand(file, "Export MIDI file...", "ExportMidi1", &OnExportMidi);
    file->addSeparator();
    file->addAction("&Exit", this, &QWidget::close)->setObjectName("Exit1");

    QMenu* edit = bar->addMenu("&Edit");
    auto* undo = new MenuAction(Form_.Undo1, edit);
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    edit->addAction(undo);
    auto* redo = new MenuAction(Form_.Redo1, edit);
    redo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit->addAction(redo);
    edit->addSeparator();
    edit->addAction(new MenuAction(Form_.Copy2, edit));
    edit->addAction(new MenuAction(Form_.Paste2, edit));
    edit->addSeparator();
    QAction* randomise = edit->addAction("Ra&ndomise...", this, [this] { Guarded([this] { Dice(false); }); });
    randomise->setObjectName("Randomise1");
    randomise->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    QAction* mutate = edit->addAction("&Mutate...", this, [this] { Guarded([this] { Dice(true); }); });
    mutate->setObjectName("Mutate1");
    mutate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));

    QMenu* mode = bar->addMenu("Edit-&mode");
    auto* modes = new QActionGroup(mode);
    for (MenuItem* m : {&Form_.AllNotes1, &Form_.SelectedNote1}) mode->addAction(new MenuAction(*m, modes));

    QMenu* synth = bar->addMenu("S&ynth-mode");
    for (MenuItem* m : {&Form_.Synth1, &Form_.SSynth1, &Form_.Noisesynth1, &Form_.Arranger1})
        synth->addAction(new MenuAction(*m, synth));

    QMenu* setup = bar->addMenu("&Setup");
    AddCommand(setup, "&Audio", "Audio1", &OnAudioSetup);
    AddCommand(setup, "&MIDI", "MIDI1", &OnMidiSetup);
    AddCommand(setup, "&Envelopes", "Envelopes1", &OnEnvelopeSetup);

    QMenu* help = bar->addMenu("&Help");
    AddCommand(help, "&About", "About1", &OnAbout);
    AddCommand(help, "&Help", "Help2", &OnHelp);
}

void MainWindow::ShowSwing() {
    SwingView_->show();
    if (auto* b = ViewOf<QWidget>(Form_.Button1.Name)) b->move(b->x(), b->y() - 12);
    if (auto* b = ViewOf<QWidget>(Form_.Button2.Name)) b->move(b->x(), b->y() - 16);
}

// Randomise or Mutate the pattern shown: one undo step, playback left as it is.
void MainWindow::Dice(bool mutate) {
    DiceWindow dialog(mutate, Dice_, MutateAmount_, this, Form_.SelectedNoteMode);
    if (dialog.exec() != QDialog::Accepted) return;
    uint64_t seed = 0;
    if (!dialog.Seed(seed)) throw std::runtime_error("The seed must be a whole number from 0 to 18446744073709551615");
    Dice_ = dialog.Options();
    MutateAmount_ = dialog.Amount();
    Form_.DicePattern(mutate, seed, MutateAmount_, Dice_);
}

QAction* MainWindow::FindAction(const QString& caption) const {
    for (QAction* top : menuBar()->actions())
        if (top->menu())
            for (QAction* a : top->menu()->actions())
                if (a->text() == caption) return a;
    return nullptr;
}

void MainWindow::ShowStartupProblem(const QString& text) {
    Problem_ = text;
    ProblemTicks_ = 0;
    Status_->setToolTip(text);
    Timer2Timer();
}

void MainWindow::SetMidiLearn(MidiLearn* learn) {
    LearnLink_.reset();
    Learn_ = learn;
    LearnMenu_->SetModel(learn);
    if (!learn) return;
    LearnLink_ = std::make_unique<ModelLink>(*learn, [this] {
        // A learn done (or a save that failed) is told for a few seconds; waiting, for as long
        // as it waits.
        const QString text = ToQString(Learn_->StatusText());
        Notice_ = Learn_->Pending() ? QString() : text;
        NoticeTicks_ = 0;
        Timer2Timer();
    });
}

void MainWindow::Timer2Timer() {
    if (Learn_ && Learn_->Pending()) {
        Status_->setText(ToQString(Learn_->StatusText()));
        return;
    }
    if (!Notice_.isEmpty()) {
        if (NoticeTicks_++ < kNoticeTicks) {
            Status_->setText(Notice_);
            return;
        }
        Notice_.clear();
    }
    if (!Problem_.isEmpty()) {
        // Counted only while the window is shown: the splash comes first, and a hidden
        // window's message would go by unseen.
        if (isVisible()) ++ProblemTicks_;
        if (ProblemTicks_ <= kProblemTicks) {
            Status_->setText(Problem_);
            return;
        }
        Problem_.clear();
    }
    const int load = DspLoad ? DspLoad() : 0;
    Status_->setText(QStringLiteral("DSP Usage : %1%").arg(load));
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (HideOnClose) {
        e->ignore();
        HideOnClose();
        return;
    }
    // Stop playback (which also finishes a recording), let pending messages run once, then
    // end the program.
    Guarded([this] { Form_.FormClose(); });
    QCoreApplication::processEvents();
    e->accept();
    if (OnClosed) OnClosed();
}

// ---- Keyboard ----

void MainWindow::BuildKeys() {
    auto key = [this](QKeySequence k, const char* name, std::function<void()> run) {
        auto* s = new QShortcut(k, this);
        s->setObjectName(name);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, [run = std::move(run)] { Guarded(run); });
    };
    key(Qt::Key_Space, "KeyStartStop", [this] { KeySpace(); });
    key(Qt::Key_PageUp, "KeyPreviousPattern", [this] { KeyPattern(-1); });
    key(Qt::Key_PageDown, "KeyNextPattern", [this] { KeyPattern(+1); });
    // The step menu's items on the edit step (the slider that holds the focus, or the step
    // chosen with its LED), as the menu would do them.
    key(Qt::Key_P, "KeyPlay", [this] {
        if (Form_.SynthMode <= 2) Form_.Play1Click();
    });
    key(Qt::Key_S, "KeySlide", [this] {
        if (Form_.SynthMode == 0) Form_.Slide1Click();
    });
}

void MainWindow::KeySpace() {
    if (Form_.Eng.S.Playing) Form_.Button2.Click();
    else Form_.Button1.Click();
}

void MainWindow::KeyPattern(int direction) {
    // The pattern buttons are on the synth pages only.
    if (Form_.SynthMode > 2) return;
    int lit = 1;
    for (int n = 1; n <= kStepsPerPattern; ++n)
        if (Form_.LEDButton(n).LedOn()) lit = n;
    const int next = lit + direction;
    if (next >= 1 && next <= kStepsPerPattern) Form_.LEDButton(next).Click();
}

} // namespace zelvox::app
