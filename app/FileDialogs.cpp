#include "app/FileDialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace zelvox::app {

namespace {
FileChooser& Installed() {
    static FileChooser chooser;
    return chooser;
}

std::optional<QString> RealDialog(QWidget* parent, const FileDialogSpec& dialog) {
    QFileDialog dlg(parent, dialog.Title, dialog.InitialFolder);
    dlg.setObjectName(dialog.Mode == FileDialogSpec::Save ? "SaveDialog" : "OpenDialog");
    dlg.setNameFilters(QtNameFilters(dialog.Filter));
    dlg.setAcceptMode(dialog.Mode == FileDialogSpec::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(dialog.Mode == FileDialogSpec::Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    QString ext = dialog.DefaultExtension;
    if (ext.startsWith('.')) ext.remove(0, 1);
    dlg.setDefaultSuffix(ext);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !dialog.ConfirmOverwrite);
    dlg.setOption(QFileDialog::DontUseNativeDialog, true); // the same titles and filters everywhere
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().first();
}
} // namespace

FileDialogSpec SavePatternDialog() {
    return {FileDialogSpec::Save, "Save Zelvox settings", "Zelvox settings (*.zvx)|*.zvx|All files (*.*)|*.*",
            "zvx", false, {}};
}

FileDialogSpec LoadPatternDialog() {
    return {FileDialogSpec::Open, "Load Zelvo settings", "Zelvox data files (*.zvx)|*.zvx|All files (*.*)|*.*",
            ".zvx", false, {}};
}

FileDialogSpec RecordWavDialog() {
    // The first time in the user's home folder (there is no drive c: here), then wherever
    // the dialog was last left.
    return {FileDialogSpec::Save, "Record to wav", "Wave audio files (*.wav)|*.wav|All files (*.*)|*.*", ".wav",
            true, QDir::homePath()};
}

FileDialogSpec ExportMidiDialog() {
    return {FileDialogSpec::Save, "Export MIDI file", "MIDI files (*.mid)|*.mid|All files (*.*)|*.*", "mid", true,
            {}};
}

FileDialogSpec ExportAudioDialog() {
    // The format goes by the name's extension; a name without one gets ".flac".
    return {FileDialogSpec::Save, "Export audio",
            "FLAC files (*.flac)|*.flac|Ogg Vorbis files (*.ogg)|*.ogg|Wave audio files (*.wav)|*.wav|"
            "All files (*.*)|*.*",
            "flac", true, {}};
}

QStringList QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split('|');
    QStringList names;
    // Qt shows the name and filters by the patterns in its parentheses, which repeat the
    // pattern part of each pair.
    for (int i = 0; i + 1 < parts.size(); i += 2) names << parts[i];
    return names;
}

QString WithDefaultExtension(const QString& name, const QString& extension) {
    QString ext = extension;
    if (ext.startsWith('.')) ext.remove(0, 1);
    if (ext.isEmpty() || !QFileInfo(name).suffix().isEmpty()) return name;
    return name + "." + ext;
}

std::optional<QString> ChooseFile(QWidget* parent, const FileDialogSpec& dialog) {
    std::optional<QString> chosen = Installed() ? Installed()(parent, dialog) : RealDialog(parent, dialog);
    if (chosen && dialog.Mode == FileDialogSpec::Save) chosen = WithDefaultExtension(*chosen, dialog.DefaultExtension);
    return chosen;
}

void SetFileChooser(FileChooser chooser) { Installed() = std::move(chooser); }

} // namespace zelvox::app
