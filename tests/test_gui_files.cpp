// File menu through the file-dialog code path (names injected in place of the dialog):
// save and load pattern files, record to WAV; and the setup dialogs' windows.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include <algorithm>
#include <cstring>

#include <sndfile.h>
#include <vector>

#include "app/FileDialogs.h"
#include "app/LearnMenu.h"
#include "program/MidiFileExport.h"
#include "support/RendererProgram.h"
#include "support/TempFiles.h"
#include "support/GuiProgram.h"
#include "ui/qt/Knob.h"

using namespace zelvox;
using namespace zelvox::app;
using namespace zelvox::testing;

namespace {

class GuiFiles : public ::testing::Test {
protected:
    void SetUp() override {
        H = std::make_unique<GuiProgram>();
        P = H->P.get();
        P->Main().show();
    }
    void TearDown() override {
        SetFileChooser({});
        H.reset();
        GuiErrors().clear();
    }
    // The next file dialog answers name (or is cancelled when name is empty).
    void Answer(const QString& name) {
        SetFileChooser([this, name](QWidget*, const FileDialogSpec& s) -> std::optional<QString> {
            Asked << s.Title;
            if (name.isEmpty()) return std::nullopt;
            return name;
        });
    }
    void Menu(const char* caption) { P->Main().FindAction(caption)->trigger(); }
    QPushButton* Start() { return ViewOf<QPushButton>(P->Main(), "Button1"); }
    QPushButton* Stop() { return ViewOf<QPushButton>(P->Main(), "Button2"); }

    static std::vector<uint8_t> Bytes(const QString& path) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return {};
        const QByteArray a = f.readAll();
        return std::vector<uint8_t>(a.begin(), a.end());
    }
    static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
    }
    static std::string Tag(const std::vector<uint8_t>& b, size_t at) {
        return std::string(reinterpret_cast<const char*>(b.data() + at), 4);
    }

    std::unique_ptr<GuiProgram> H;
    Program* P = nullptr;
    QStringList Asked;
};

} // namespace

TEST_F(GuiFiles, SaveAndLoadThroughTheFileDialogsRestoreTheSong) {
    MainForm& f = P->Form;
    // A song state worth keeping: per-step sound in Selected Note mode, tempo, steps,
    // phrases, echo knobs, an envelope contour.
    Menu("&Selected Note");
    f.MMSliderEnter(3);
    f.MMWheel3.SetValue(99);
    f.SpinEdit972.SetValue(120);
    f.SpinEdit971.SetValue(12);
    f.PhrasePatternSpin(1).SetValue(2);
    f.PhraseCountSpin(1).SetValue(3);
    f.PhrasePatternSpin(16).SetValue(16);
    f.MMWheel16.SetValue(4);
    f.MMWheel17.SetValue(60);
    P->Envelopes.SpinEdit974.SetValue(33);
    Menu("&All Notes");
    const PatternStore saved = f.Store;

    Answer(H->Path("song"));
    Menu("&Save pattern");
    ASSERT_EQ(Asked.value(0), "Save Zelvox settings");
    const std::vector<uint8_t> file = Bytes(H->Path("song.zvx"));
    ASSERT_EQ(file.size(), 27372u);
    EXPECT_EQ(U32(file, 27228), 120u); // Tempo
    EXPECT_EQ(U32(file, 27232), 12u);  // Steps

    // Spoil everything, then load it back.
    f.SpinEdit972.SetValue(200);
    f.SpinEdit971.SetValue(16);
    f.PhrasePatternSpin(1).SetValue(0);
    P->Envelopes.SpinEdit974.SetValue(20);
    f.MMWheel3.SetValue(5); // All Notes: every step
    Answer(H->Path("song.zvx"));
    Menu("&Load pattern");
    EXPECT_EQ(Asked.value(1), "Load Zelvo settings");
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("|").toStdString();
    EXPECT_EQ(std::memcmp(&f.Store.Step(1, 1), &saved.Step(1, 1), sizeof(StepRecord) * 16 * 16), 0);
    EXPECT_EQ(f.Store.Step(1, 3).BassCutoff, 99);
    EXPECT_EQ(ViewOf<QSpinBox>(P->Main(), "SpinEdit972")->value(), 120);
    EXPECT_EQ(ViewOf<QSpinBox>(P->Main(), "SpinEdit971")->value(), 12);
    EXPECT_EQ(f.PhraseTable[1].Pattern, 2);
    EXPECT_EQ(f.PhraseTable[1].Count, 3);
    EXPECT_EQ(f.PhraseTable[16].Pattern, 16);
    EXPECT_EQ(f.MMWheel16.Value(), 4);
    EXPECT_EQ(f.MMWheel17.Value(), 60);
    EXPECT_EQ(P->Envelopes.SpinEdit974.Value(), 33);
    EXPECT_EQ(f.PlayPattern, 1);
    EXPECT_FALSE(f.SelectedNoteMode); // the mode in force before the load
    EXPECT_TRUE(P->Main().FindAction("&All Notes")->isChecked());

    // Cancelled dialogs change nothing; a short file is refused with the message, unchanged.
    Answer("");
    Menu("&Load pattern");
    Menu("&Save pattern");
    QFile shortFile(H->Path("short.zvx"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly));
    shortFile.write(QByteArray(27371, '\x01'));
    shortFile.close();
    Answer(H->Path("short.zvx"));
    Menu("&Load pattern");
    ASSERT_EQ(GuiErrors().size(), 1);
    EXPECT_TRUE(GuiErrors()[0].startsWith("Read beyond end of file: ")) << GuiErrors()[0].toStdString();
    EXPECT_TRUE(GuiErrors()[0].contains("short.zvx")) << GuiErrors()[0].toStdString();
    EXPECT_EQ(f.SpinEdit972.Value(), 120);
    EXPECT_EQ(f.Store.Step(1, 3).BassCutoff, 99);
}

TEST_F(GuiFiles, OpenExampleLoadsTheBanksFileAndSaveAsksForAnother) {
    auto* examples = P->Main().findChild<QMenu*>("OpenExample1");
    ASSERT_NE(examples, nullptr);
    QAction* song = nullptr;
    for (QAction* a : examples->actions())
        if (a->text() == "song-dub-chain") song = a;
    ASSERT_GE(examples->actions().size(), 16);
    ASSERT_NE(song, nullptr);
    const QString path = QCoreApplication::applicationDirPath() + "/../share/zelvox/patterns/song-dub-chain.zvx";
    const std::vector<uint8_t> example = Bytes(path);
    ASSERT_EQ(example.size(), 27372u);

    song->trigger();
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("|").toStdString();
    EXPECT_EQ(ViewOf<QSpinBox>(P->Main(), "SpinEdit972")->value(), 92); // its tempo
    EXPECT_TRUE(EncodePatternFile(P->PatternRecord()) == example) << "the window holds what the file holds";

    Answer(H->Path("mine"));
    Menu("&Save pattern");
    EXPECT_EQ(Asked.value(0), "Save Zelvox settings");
    EXPECT_TRUE(Bytes(H->Path("mine.zvx")) == example);
    EXPECT_TRUE(Bytes(path) == example);
}

TEST_F(GuiFiles, ExportMidiFileWritesOnePassOfThePatternShown) {
    P->Form.LEDButtonClick(3);
    Answer(H->Path("p3"));
    Menu("Export MIDI file...");
    EXPECT_EQ(Asked.value(0), "Export MIDI file");
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("|").toStdString();
    const std::vector<uint8_t> file = Bytes(H->Path("p3.mid"));
    const MidiPlay pass = PlayMidiNotes(P->Form.Synth, false, 3, 16 * uint64_t(P->Form.Synth.Eng.S.StepLength + 1) - 1, {});
    EXPECT_EQ(pass.Messages.size(), 32u) << "16 bass notes, on and off";
    EXPECT_TRUE(file == EncodeMidiFile(pass));
}

TEST_F(GuiFiles, ExportAudioRendersThePatternShownAsTheRendererDoes) {
    P->Form.LEDButtonClick(2);
    P->Form.SpinEdit972.SetValue(150);
    Answer(H->Path("p2"));
    Menu("Export audio...");
    EXPECT_EQ(Asked.value(0), "Export audio");
    EXPECT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("|").toStdString();
    // One pass: 16 steps, the first a sample short, in whole buffers.
    const int64_t buffers = (16 * int64_t(P->Form.Synth.Eng.S.StepLength + 1) - 1 + 440) / 441;
    P->SavePattern(P->PatternRecord(), H->Path("p2.zvx").toStdString());
    const std::string ref = H->Path("ref.wav").toStdString();
    ASSERT_EQ(std::system((zelvox::test::Quote(zelvox::test::RendererPath()) + " " +
                           zelvox::test::Quote(H->Path("p2.zvx").toStdString()) + " --pattern 2 --buffers " +
                           std::to_string(buffers) + " -o " + zelvox::test::Quote(ref))
                              .c_str()),
              0);
    const std::vector<int16_t> wav = zelvox::test::WavSamples(ref);
    SF_INFO info{};
    SNDFILE* f = sf_open(H->Path("p2.flac").toStdString().c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << "a FLAC file by the name's extension";
    std::vector<short> flac(size_t(info.frames));
    sf_readf_short(f, flac.data(), info.frames);
    sf_close(f);
    EXPECT_EQ((info.format & SF_FORMAT_TYPEMASK), SF_FORMAT_FLAC);
    ASSERT_EQ(flac.size(), size_t(buffers) * 441);
    EXPECT_TRUE(std::equal(flac.begin(), flac.end(), wav.begin(), wav.end()));
}

TEST_F(GuiFiles, RecordToWavWritesWhatPlaysUntilStop) {
    MainForm& f = P->Form;
    f.MMWheel7.SetValue(110); // bass volume on every step, so the recording is not silent
    Answer(H->Path("take"));
    Menu("&Record to wav");
    EXPECT_EQ(Asked.value(0), "Record to wav");
    EXPECT_EQ(Start()->text(), "Record");
    const QString wav = H->Path("take.wav");
    EXPECT_EQ(Bytes(wav).size(), 46u); // created with its header, "data" still empty

    Click(Start());
    ASSERT_TRUE(f.Eng.S.Playing);
    ProcessEvents(2000);
    Click(Stop());
    EXPECT_EQ(Start()->text(), "Loop");
    ASSERT_TRUE(GuiErrors().isEmpty()) << GuiErrors().join("|").toStdString();

    const std::vector<uint8_t> b = Bytes(wav);
    ASSERT_GE(b.size(), 58u);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(U32(b, 4), b.size() - 8);
    EXPECT_EQ(Tag(b, 8), "WAVE");
    EXPECT_EQ(Tag(b, 12), "fmt ");
    EXPECT_EQ(U32(b, 16), 18u);
    EXPECT_EQ(U32(b, 20), 0x00010001u); // PCM, 1 channel
    EXPECT_EQ(U32(b, 24), 44100u);
    EXPECT_EQ(U32(b, 28), 88200u);
    EXPECT_EQ(U32(b, 32), 0x00100002u); // block align 2, 16 bits
    EXPECT_EQ(Tag(b, 38), "data");
    const uint32_t n = U32(b, 42);
    EXPECT_EQ(n % 882, 0u); // whole 10 ms buffers
    // About two seconds, in real time (queued buffers not yet played are not written).
    EXPECT_GT(n, 88200u * 3 / 2);
    EXPECT_LT(n, 88200u * 3);
    EXPECT_EQ(b.size(), 58u + n);
    EXPECT_EQ(Tag(b, 46 + n), "fact");
    EXPECT_EQ(U32(b, 46 + n + 8), n / 2);
    int peak = 0;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
        const int v = int16_t(uint16_t(b[46 + i] | b[46 + i + 1] << 8));
        peak = std::max(peak, std::abs(v));
    }
    EXPECT_GT(peak, 1000);

    // The next start plays without writing.
    Click(Start());
    ProcessEvents(300);
    Click(Stop());
    EXPECT_EQ(Bytes(wav), b);
}

TEST_F(GuiFiles, ExitWhileRecordingFinalisesTheFile) {
    Answer(H->Path("exit.wav"));
    Menu("&Record to wav");
    Click(Start());
    ProcessEvents(500);
    Menu("&Exit");
    EXPECT_FALSE(P->Form.Eng.S.Playing);
    const std::vector<uint8_t> b = Bytes(H->Path("exit.wav"));
    ASSERT_GE(b.size(), 58u);
    const uint32_t n = U32(b, 42);
    EXPECT_GT(n, 0u);
    EXPECT_EQ(b.size(), 58u + n);
    EXPECT_EQ(U32(b, 4), b.size() - 8);
}

TEST_F(GuiFiles, RecordToAFileThatIsNotAWaveShowsTheError) {
    QFile other(H->Path("notes.wav"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    const QByteArray text = "these are not samples, just some text that is long enough to be read";
    other.write(text);
    other.close();
    Answer(H->Path("notes.wav"));
    Menu("&Record to wav");
    EXPECT_EQ(GuiErrors(), QStringList({"Invalid wave file..."}));
    EXPECT_EQ(Start()->text(), "Record");
    EXPECT_EQ(Bytes(H->Path("notes.wav")).size(), size_t(text.size())); // untouched
}

TEST_F(GuiFiles, AudioSetupWindowStoresTheBufferCount) {
    Menu("&Audio");
    AudioSetupWindow& w = P->AudioDialog();
    ASSERT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), "Audio setup");
    EXPECT_EQ(w.size(), QSize(AudioSetupWindow::kClientWidth, AudioSetupWindow::kClientHeight));
    auto* slider = w.findChild<QSlider*>("TrackBar1");
    ASSERT_NE(slider, nullptr);
    EXPECT_EQ(slider->minimum(), 1);
    EXPECT_EQ(slider->maximum(), 120);
    EXPECT_EQ(slider->value(), 40);
    slider->setValue(64);
    // The latency beside the slider (the low-latency output plays one JACK period behind).
    EXPECT_EQ(w.findChild<QLabel*>("Label4")->text(),
              GuiProgram::LowLatencyRun() ? "one JACK period" : "640 ms");
    // The systems found: at least the automatic choice and the virtual output.
    auto* systems = w.findChild<QComboBox*>("ComboBox1");
    ASSERT_NE(systems, nullptr);
    EXPECT_EQ(systems->itemText(0), "Automatic");
    EXPECT_GE(systems->findText("Virtual (no sound)"), 1);
    EXPECT_EQ(w.findChild<QComboBox*>("ComboBox2")->itemText(0), "Default");
    w.findChild<QPushButton*>("Button1")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(P->Audio().MMWaveOut2.NumBuffers(), 64);
    EXPECT_EQ(P->Settings().ReadInteger("Audio", "Buffers", 0), 64);

    // Cancel keeps the slider where it was left but applies nothing.
    Menu("&Audio");
    slider->setValue(10);
    w.findChild<QPushButton*>("Button2")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(P->Audio().MMWaveOut2.NumBuffers(), 64);
    EXPECT_EQ(slider->value(), 10);
}

TEST_F(GuiFiles, EnvelopeWindowRedrawsItsPreviewAndOkHidesIt) {
    Menu("&Envelopes");
    EnvelopeWindow& w = P->EnvelopeDialog();
    ASSERT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowTitle(), "Synth envelopes");
    auto* preview = w.findChild<QWidget*>("Image2");
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(preview->size(), QSize(128, 100));
    // Linear decay at 20: column 64 is black from y = 50 down; lime above.
    QImage img = preview->grab().toImage();
    EXPECT_EQ(img.pixelColor(64, 20), QColor(0, 255, 0));
    EXPECT_EQ(img.pixelColor(64, 80), QColor(0, 0, 0));
    w.findChild<QSpinBox*>("SpinEdit972")->setValue(40); // holds the level: bars almost full
    img = preview->grab().toImage();
    EXPECT_EQ(img.pixelColor(64, 20), QColor(0, 0, 0));
    EXPECT_EQ(w.findChild<QLabel*>("FlatEdit972")->text(), "100");
    w.findChild<QPushButton*>("Button1")->click();
    EXPECT_FALSE(w.isVisible());
}

TEST_F(GuiFiles, MidiSetupWindowShowsTheLastMessageAndCcTurnsAKnob) {
    ASSERT_NE(P->Midi(), nullptr);
    Menu("&MIDI");
    MidiSetupWindow* w = P->MidiDialog();
    ASSERT_TRUE(w && w->isVisible());
    EXPECT_EQ(w->windowTitle(), "MIDI Setup");
    EXPECT_EQ(w->size(), QSize(275, 600));
    auto* device = w->findChild<QComboBox*>("Combobox1");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->currentText(), "Scripted keyboard");

    // Enable MIDI, assign CC 7 to the bass Cut-off, send it.
    w->findChild<QCheckBox*>("CheckBox1")->click();
    ASSERT_TRUE(P->Midi()->DevicesOpen);
    auto* bass = w->findChild<QComboBox*>("SComboBox971");
    emit bass->activated(2); // "Cut-off"
    EXPECT_EQ(bass->currentText(), "Cut-off");
    w->findChild<QSpinBox*>("SpinEdit972")->setValue(7);
    ASSERT_TRUE(H->Midi->SendShort(0xB0, 7, 100));
    ASSERT_TRUE(WaitFor([&] { return P->Form.MMWheel3.Value() == 100; }, 3000));
    EXPECT_EQ(w->findChild<QLabel*>("edit1")->text(), "B0 07 64");
    EXPECT_EQ(P->Form.Store.Step(5, 9).BassCutoff, 100); // All Notes, as if turned by hand
    EXPECT_EQ(ViewOf<qt::KnobView>(P->Main(), "MMWheel3")->toolTip(), "Cut-off: 100");

    // A note is only shown.
    ASSERT_TRUE(H->Midi->SendShort(0x90, 60, 90));
    ASSERT_TRUE(WaitFor([&] { return w->findChild<QLabel*>("edit1")->text() == "90 3C 5A"; }, 3000));
    EXPECT_EQ(P->Form.MMWheel3.Value(), 100);
    // With "Notes transpose" ticked it transposes the window's bass (from the next step).
    w->findChild<QCheckBox*>("NotesTranspose")->click();
    ASSERT_TRUE(H->Midi->SendShort(0x90, 64, 90));
    ASSERT_TRUE(WaitFor([&] { return P->Form.Synth.Seq.PendingTranspose() == 4; }, 3000));

    w->findChild<QPushButton*>("Button1")->click(); // OK stores the settings and hides
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(P->Settings().ReadInteger("MIDI", "2", 0), 7);
    EXPECT_EQ(P->Settings().ReadInteger("MIDI", "ENABLED", 0), 1);
}

// A right click, as the window system delivers it, on a view (for a spin edit: on its text).
static void RightClick(QWidget* w) {
    QContextMenuEvent e(QContextMenuEvent::Mouse, QPoint(4, 4), w->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(w, &e);
}

TEST_F(GuiFiles, KnobsAndSpinEditsLearnControllersThatTheMidiSetupListsAndClears) {
    ASSERT_NE(P->Midi(), nullptr);
    P->Midi()->CheckBox1.SetChecked(true);
    ASSERT_TRUE(P->Midi()->DevicesOpen);
    LearnMenu* menu = P->Main().ControlMenu();
    QLabel* status = P->Main().StatusText();

    // The Cut-off knob: right click, "Learn MIDI controller"; Escape cancels.
    RightClick(ViewOf<qt::KnobView>(P->Main(), "MMWheel3"));
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->LearnAction()->text(), "Learn MIDI controller");
    EXPECT_FALSE(menu->ForgetAction()->isEnabled());
    menu->LearnAction()->trigger();
    menu->hide();
    EXPECT_EQ(status->text(), "Move a controller for Bass Cut-off ...");
    QApplication::setActiveWindow(&P->Main());
    QTest::keyClick(&P->Main(), Qt::Key_Escape);
    EXPECT_FALSE(P->Midi()->Learn.Pending());
    EXPECT_TRUE(status->text().startsWith("DSP Usage")) << status->text().toStdString();

    RightClick(ViewOf<qt::KnobView>(P->Main(), "MMWheel3"));
    menu->LearnAction()->trigger();
    menu->hide();
    ASSERT_TRUE(H->Midi->SendShort(0xB0, 30, 127));
    ASSERT_TRUE(WaitFor([&] { return P->Form.MMWheel3.Value() == 126; }, 3000));
    EXPECT_EQ(status->text(), "Bass Cut-off: channel 1, CC 30");

    // The Tempo spin edit, right-clicked on its text.
    auto* tempo = ViewOf<QSpinBox>(P->Main(), "SpinEdit972");
    RightClick(tempo->findChild<QLineEdit*>());
    ASSERT_TRUE(menu->isVisible());
    EXPECT_EQ(menu->Target(), ControlId::Tempo);
    menu->LearnAction()->trigger();
    menu->hide();
    ASSERT_TRUE(H->Midi->SendShort(0xB1, 31, 0));
    ASSERT_TRUE(WaitFor([&] { return P->Form.SpinEdit972.Value() == 20; }, 3000));
    EXPECT_EQ(tempo->value(), 20);

    // The envelope dialog's contour spin edits have the same menu.
    RightClick(P->EnvelopeDialog().findChild<QSpinBox*>("SpinEdit971")->findChild<QLineEdit*>());
    ASSERT_TRUE(P->EnvelopeDialog().ControlMenu()->isVisible());
    EXPECT_EQ(P->EnvelopeDialog().ControlMenu()->Target(), ControlId::BassAttackContour);
    P->EnvelopeDialog().ControlMenu()->hide();

    // The MIDI setup lists both; "Clear" forgets the chosen one, "Clear all" the rest.
    Menu("&MIDI");
    MidiSetupWindow* w = P->MidiDialog();
    auto* list = w->findChild<QListWidget*>("LearnList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "Bass Cut-off: channel 1, CC 30");
    EXPECT_EQ(list->item(1)->text(), "Tempo: channel 2, CC 31");
    list->setCurrentRow(1);
    w->findChild<QPushButton*>("Button3")->click();
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(P->Settings().ReadString("MIDI Learn", "tempo", "?"), "");
    EXPECT_EQ(P->Settings().ReadString("MIDI Learn", "bass_cutoff", "?"), "1,30");
    w->findChild<QPushButton*>("Button4")->click();
    EXPECT_EQ(list->count(), 0);
    ASSERT_TRUE(H->Midi->SendShort(0xB0, 30, 0));
    ASSERT_TRUE(WaitFor([&] { return P->Midi()->edit1.Caption() == "B0 1E 00"; }, 3000));
    EXPECT_EQ(P->Form.MMWheel3.Value(), 126);
}
