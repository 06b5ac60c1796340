// Program services of the desktop shell: the error display, the file choosers, the help viewer.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTimer>

#include <stdexcept>

#include "app/ErrorDisplay.h"
#include "app/FileDialogs.h"
#include "app/HelpViewer.h"
#include "support/GuiTest.h"

using namespace zelvox;
using namespace zelvox::app;
using namespace zelvox::testing;

namespace {
class GuiApp_ : public ::testing::Test {
protected:
    void SetUp() override {
        GuiApp();
        SetErrorSink([this](const QString& t) { Errors << t; });
    }
    void TearDown() override {
        SetErrorSink({});
        SetFileChooser({});
    }
    QStringList Errors;
};
} // namespace

TEST_F(GuiApp_, AnExceptionLeavingAnEventHandlerIsShownAndTheLoopGoesOn) {
    QPushButton button("Go");
    int after = 0;
    QObject::connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("Unable to create wave file"); });
    Click(&button); // the mouse release that clicks it reaches the event loop's guard
    QTimer::singleShot(0, [] { throw std::runtime_error("Invalid wave file..."); });
    QTimer::singleShot(5, [&] { ++after; });
    ASSERT_TRUE(WaitFor([&] { return after == 1; }));
    EXPECT_TRUE(Errors.contains("Invalid wave file...")) << Errors.join("|").toStdString();
    EXPECT_TRUE(Errors.contains("Unable to create wave file")) << Errors.join("|").toStdString();
    EXPECT_FALSE(Guarded([] { throw 42; }));
    EXPECT_EQ(Errors.last(), "Unknown error");
    EXPECT_TRUE(Guarded([] {}));
}

TEST_F(GuiApp_, FileDialogsCarryTheirTitlesFiltersAndOverwriteRules) {
    const FileDialogSpec save = SavePatternDialog(), load = LoadPatternDialog(), wav = RecordWavDialog();
    EXPECT_EQ(save.Title, "Save Zelvox settings");
    EXPECT_EQ(QtNameFilters(save.Filter), QStringList({"Zelvox settings (*.zvx)", "All files (*.*)"}));
    EXPECT_FALSE(save.ConfirmOverwrite);
    EXPECT_EQ(load.Title, "Load Zelvo settings");
    EXPECT_EQ(QtNameFilters(load.Filter), QStringList({"Zelvox data files (*.zvx)", "All files (*.*)"}));
    EXPECT_EQ(load.Mode, FileDialogSpec::Open);
    EXPECT_EQ(wav.Title, "Record to wav");
    EXPECT_EQ(QtNameFilters(wav.Filter), QStringList({"Wave audio files (*.wav)", "All files (*.*)"}));
    EXPECT_TRUE(wav.ConfirmOverwrite);

    EXPECT_EQ(WithDefaultExtension("/tmp/song", "zvx"), "/tmp/song.zvx");
    EXPECT_EQ(WithDefaultExtension("/tmp/take", ".wav"), "/tmp/take.wav");
    EXPECT_EQ(WithDefaultExtension("/tmp/take.raw", ".wav"), "/tmp/take.raw");

    // An injected chooser stands in for the dialog; a save name gets the default extension.
    QString seenTitle;
    SetFileChooser([&](QWidget*, const FileDialogSpec& s) -> std::optional<QString> {
        seenTitle = s.Title;
        return QString("/tmp/injected");
    });
    EXPECT_EQ(ChooseFile(nullptr, wav).value(), "/tmp/injected.wav");
    EXPECT_EQ(seenTitle, "Record to wav");
    EXPECT_EQ(ChooseFile(nullptr, load).value(), "/tmp/injected"); // opening adds nothing
    SetFileChooser([](QWidget*, const FileDialogSpec&) -> std::optional<QString> { return std::nullopt; });
    EXPECT_FALSE(ChooseFile(nullptr, save).has_value());
}

TEST_F(GuiApp_, HelpOpensTheDocumentAtItsContentsAndCoversEveryPage) {
    const QString path = QString::fromLocal8Bit(qgetenv("ZELVOX_BIN_DIR")) + "/Zelvox.html";
    HelpViewer viewer;
    viewer.OpenContents(path);
    EXPECT_TRUE(viewer.isVisible());
    const QString text = viewer.Browser()->toPlainText();
    EXPECT_TRUE(text.startsWith("Zelvox Help")) << text.left(80).toStdString();
    for (const char* must : {"Bass synth", "Twin-T synth", "Noise synth", "Arranger", "Attack", "Cut-off", "Res.",
                             "Env mod", "Length", "Colour", "Delay", "Depth", "Steps", "Tempo", "Load pattern",
                             "Save pattern", "Record to wav", "Exit", "All Notes", "Selected Note", "Synth envelopes",
                             "Audio setup", "MIDI Setup", "ZLVX3.INI", ".zvx", "DSP Usage"})
        EXPECT_TRUE(text.contains(must)) << must;
    // Every contents link leads to an anchor in the document.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    for (const char* anchor : {"start", "window", "bass", "twint", "noise", "arranger", "editor", "transport",
                               "menus", "envelopes", "audio", "midi", "files", "controls", "problems"})
        EXPECT_TRUE(html.contains(QStringLiteral("name=\"%1\"").arg(anchor))) << anchor;

    HelpViewer missing;
    missing.OpenContents("/nonexistent/Zelvox.html");
    EXPECT_TRUE(missing.Browser()->toPlainText().contains("Help file not found"));
}

// The build tree keeps the document beside the program; an installed program finds it in
// ../share/zelvox relative to itself, whatever prefix (or DESTDIR) it was put under.
TEST_F(GuiApp_, HelpFindsTheDocumentBesideTheProgramThenInTheInstalledDataFolder) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString bin = root.filePath("usr/bin");
    const QString shared = root.filePath("usr/share/zelvox/Zelvox.html");
    const QString beside = bin + "/Zelvox.html";
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(root.filePath("usr/share/zelvox")));
    // None there: the configured prefix's copy if this machine has one installed, else the
    // first place, which the viewer then names as missing.
    const QString configured = HelpFileCandidates(bin).back();
    const QString none = QFileInfo(configured).isFile() ? configured : beside;
    EXPECT_EQ(FindHelpFile(bin), none);

    for (const QString& path : {shared, beside}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(FindHelpFile(bin), beside);
    ASSERT_TRUE(QFile::remove(beside));
    EXPECT_EQ(FindHelpFile(bin), shared);
    // A folder of that name is not the document.
    ASSERT_TRUE(QFile::remove(shared));
    ASSERT_TRUE(QDir().mkpath(shared));
    EXPECT_EQ(FindHelpFile(bin), none);
}
