#include "app/HelpViewer.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zelvox::app {

QString HelpFilePath() { return QCoreApplication::applicationDirPath() + "/Zelvox.html"; }

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
