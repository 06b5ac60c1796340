#include "app/HelpViewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zelvox::app {

// Set by the build from the install folders (GNUInstallDirs); the defaults are a plain
// /usr/local install's.
#ifndef ZELVOX_HELP_RELATIVE_DIR
#define ZELVOX_HELP_RELATIVE_DIR "../share/zelvox"
#endif
#ifndef ZELVOX_HELP_INSTALL_DIR
#define ZELVOX_HELP_INSTALL_DIR "/usr/local/share/zelvox"
#endif

QStringList HelpFileCandidates(const QString& programDir) {
    const QDir dir(programDir);
    QStringList candidates{
        dir.filePath("Zelvox.html"),
        QDir::cleanPath(dir.filePath(QStringLiteral(ZELVOX_HELP_RELATIVE_DIR "/Zelvox.html")))};
    const QString configured =
        QDir::cleanPath(QStringLiteral(ZELVOX_HELP_INSTALL_DIR "/Zelvox.html"));
    if (!candidates.contains(configured)) candidates.append(configured);
    return candidates;
}

QString FindHelpFile(const QString& programDir) {
    const QStringList candidates = HelpFileCandidates(programDir);
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile()) return path;
    return candidates.front();
}

QString HelpFilePath() {
    return FindHelpFile(QCoreApplication::applicationDirPath());
}

HelpViewer::HelpViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("HelpViewer");
    setWindowTitle("Zelvox Help");
    resize(620, 560);
    Browser_ = new QTextBrowser(this);
    Browser_->setOpenExternalLinks(true);
    auto* contents = new QPushButton("&Contents", this);
    auto* back = new QPushButton("&Back", this);
    auto* close = new QPushButton("C&lose", this);
    connect(contents, &QPushButton::clicked, this, [this] { Browser_->scrollToAnchor("contents"); });
    connect(back, &QPushButton::clicked, Browser_, &QTextBrowser::backward);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(contents);
    buttons->addWidget(back);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Browser_, 1);
}

void HelpViewer::OpenContents(const QString& path) {
    if (!QFileInfo::exists(path)) {
        Browser_->setHtml(QStringLiteral("<h2>Help file not found</h2><p>%1</p>").arg(path.toHtmlEscaped()));
    } else {
        QUrl url = QUrl::fromLocalFile(path);
        url.setFragment("contents");
        Browser_->setSource(url, QTextDocument::HtmlResource);
    }
    show();
    raise();
    activateWindow();
}

} // namespace zelvox::app
