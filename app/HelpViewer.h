#pragma once
// The program's own help viewer: a window that shows the help document, opened at its
// contents. The document is "Zelvox.html", beside the program in the build tree and in the
// program's data folder once installed.

#include <QStringList>
#include <QTextBrowser>
#include <QWidget>

namespace zelvox::app {

// The places Help looks for the document, in order, for a program in programDir:
//   1. beside the program (the build tree);
//   2. the installed data folder relative to the program (<bin>/../share/zelvox), so that an
//      install staged under DESTDIR or moved to another prefix still finds its own copy;
//   3. the data folder of the prefix the program was configured for.
QStringList HelpFileCandidates(const QString& programDir);
// The first candidate that exists; when none does, the first (where the viewer then says
// the file is missing).
QString FindHelpFile(const QString& programDir);
// FindHelpFile for this program's own folder.
QString HelpFilePath();

class HelpViewer : public QWidget {
    Q_OBJECT
public:
    explicit HelpViewer(QWidget* parent = nullptr);
    // Shows the file at its contents; a missing file is reported inside the viewer.
    void OpenContents(const QString& path);
    QTextBrowser* Browser() const { return Browser_; }

private:
    QTextBrowser* Browser_;
};

} // namespace zelvox::app
