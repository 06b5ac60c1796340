#pragma once
// The program's file choosers. Each is described by its title, filter (in the "Text|pattern|"
// form the program's texts use), default extension and whether it asks before replacing a
// file. Tests replace the chooser to inject the chosen name without a dialog.

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

namespace zelvox::app {

struct FileDialogSpec {
    enum Mode { Open, Save } Mode = Open;
    QString Title;
    QString Filter;           // "Zelvox settings (*.zvx)|*.zvx|All files (*.*)|*.*"
    QString DefaultExtension; // appended when the chosen name has none ("zvx" or ".wav")
    bool ConfirmOverwrite = false;
    QString InitialFolder;    // empty: the last folder used
};

// The three dialogs of the File menu.
FileDialogSpec SavePatternDialog();
FileDialogSpec LoadPatternDialog();
FileDialogSpec RecordWavDialog();
// File, "Export MIDI file..." and "Export audio...".
FileDialogSpec ExportMidiDialog();
FileDialogSpec ExportAudioDialog();

// "A|a|B|b" -> {"A", "B"}: the names Qt shows, whose parenthesised patterns it filters by.
QStringList QtNameFilters(const QString& filter);
// The name with the default extension appended when it has none.
QString WithDefaultExtension(const QString& name, const QString& extension);

using FileChooser = std::function<std::optional<QString>(QWidget* parent, const FileDialogSpec&)>;

// Shows the chooser (the real dialog unless a test installed another); empty when cancelled.
std::optional<QString> ChooseFile(QWidget* parent, const FileDialogSpec& dialog);
// Tests: the chooser to use instead of the dialog; an empty function restores the dialog.
void SetFileChooser(FileChooser chooser);

} // namespace zelvox::app
