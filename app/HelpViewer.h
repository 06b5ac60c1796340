#pragma once
// The program's own help viewer: a window that shows the help document, opened at its
// contents. The document is "Zelvox.html" in the program's folder.

#include <QTextBrowser>
#include <QWidget>

namespace zelvox::app {

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
