#include "ui/helpwindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTextDocument>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>

#include "services/appservices.h"
#include "resids.h"

namespace {


const QString kScheme = QStringLiteral("chm");
constexpr int kPathRole = Qt::UserRole + 1;

bool IsWebScheme(const QString& scheme) {
    const QString s = scheme.toLower();
    return s == QLatin1String("http") || s == QLatin1String("https") ||
           s == QLatin1String("mailto") || s == QLatin1String("ftp");
}

bool IsPage(const QString& path) {
    return path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) ||
           path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
}

QPointer<CHelpWindow>& TheWindow() {
    static QPointer<CHelpWindow> window;
    return window;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

CChmBrowser::CChmBrowser(const CAppServices& services, QWidget* parent)
    : QTextBrowser(parent), m_services(services) {
    // Links are followed by doSetSource, which hands web links to the desktop. The browser's own
    // external-link handling would treat every page of the help file as external.
    setOpenLinks(true);
    setOpenExternalLinks(false);
}

QUrl CChmBrowser::UrlOf(const QString& objectPath) {
    QUrl url;
    url.setScheme(kScheme);
    url.setPath(objectPath);
    return url;
}

QString CChmBrowser::ObjectPathOf(const QUrl& url) const {
    const QString current = source().scheme() == kScheme ? source().path() : QStringLiteral("/");
    if (url.scheme() == kScheme) return CChmFile::ObjectPath(url.path());
    if (url.scheme().isEmpty()) {
        if (url.path().isEmpty()) return CChmFile::ObjectPath(current);  // "#anchor" alone
        return CChmFile::ObjectPath(url.path(), current);
    }
    // "ms-its:help.chm::/page.html" and "mk:@MSITStore:help.chm::/page.html".
    return CChmFile::ObjectPath(url.toString(QUrl::RemoveFragment | QUrl::PrettyDecoded), current);
}

QVariant CChmBrowser::loadResource(int type, const QUrl& name) {
    if (!m_pFile) return {};
    const std::optional<QByteArray> bytes = m_pFile->Read(ObjectPathOf(name));
    if (!bytes) return {};
    if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource ||
        type == QTextDocument::MarkdownResource)
        return CChmFile::DecodeText(*bytes);
    return *bytes;
}

void CChmBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
    if (IsWebScheme(name.scheme())) {
        QDesktopServices::openUrl(name);
        return;
    }
    if (name.isEmpty()) {
        QTextBrowser::doSetSource(name, type);
        return;
    }
    const QString path = ObjectPathOf(name);
    if (!m_pFile || !m_pFile->Contains(path)) {
        setHtml(QStringLiteral("<h3>%1</h3><p>%2</p>").arg(m_services.LoadString(strid::kHelpPageUnavailable), path.toHtmlEscaped()));
        return;
    }
    QUrl target = UrlOf(path);
    if (name.hasFragment()) target.setFragment(name.fragment());
    QTextBrowser::doSetSource(target, type);
}

// ---------------------------------------------------------------------------------------------

CHelpWindow::CHelpWindow(const CAppServices& services, QWidget* parent)
    : QWidget(parent, Qt::Window), m_services(services) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Text(strid::kHelpTitle));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_pBack = toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowBack), Text(strid::kHelpBack));
    m_pForward =
        toolbar->addAction(style()->standardIcon(QStyle::SP_ArrowForward), Text(strid::kHelpForward));
    m_pHome = toolbar->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), Text(strid::kHelpHome));
    m_pBack->setEnabled(false);
    m_pForward->setEnabled(false);
    layout->addWidget(toolbar);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    m_pContents = new QTreeWidget(splitter);
    m_pContents->setHeaderLabel(Text(strid::kHelpContents));
    m_pContents->setRootIsDecorated(true);
    m_pBrowser = new CChmBrowser(m_services, splitter);
    splitter->addWidget(m_pContents);
    splitter->addWidget(m_pBrowser);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({230, 630});
    layout->addWidget(splitter, 1);

    connect(m_pBack, &QAction::triggered, m_pBrowser, &QTextBrowser::backward);
    connect(m_pForward, &QAction::triggered, m_pBrowser, &QTextBrowser::forward);
    connect(m_pHome, &QAction::triggered, this, &CHelpWindow::ShowDefaultTopic);
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, m_pBack, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, m_pForward, &QAction::setEnabled);
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this, &CHelpWindow::OnSourceChanged);
    connect(m_pContents, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { OnContentsClicked(item); });
    connect(m_pContents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { OnContentsClicked(item); });

    resize(860, 620);
}

CHelpWindow::~CHelpWindow() {
    // The browser may ask for resources while it is torn down; the file goes first otherwise.
    m_pBrowser->SetFile(nullptr);
}

bool CHelpWindow::OpenFile(const QString& path) {
    m_pBrowser->SetFile(nullptr);
    if (!m_file.Open(path)) {
        ShowError(path);
        return false;
    }
    setWindowTitle(m_file.Title().isEmpty() ? QFileInfo(path).fileName() : m_file.Title());
    m_pBrowser->SetFile(&m_file);
    FillContents();
    ShowDefaultTopic();
    m_pBrowser->clearHistory();
    return true;
}

void CHelpWindow::ShowDefaultTopic() {
    if (!m_file.IsOpen()) return;
    QString topic = m_file.DefaultTopic();
    if (topic.isEmpty() || !m_file.Contains(topic)) {
        // A file without a usable default topic opens at its first page.
        topic.clear();
        QStringList pages;
        for (const QString& p : m_file.Paths())
            if (IsPage(p)) pages.append(p);
        pages.sort(Qt::CaseInsensitive);
        if (!pages.isEmpty()) topic = pages.first();
    }
    if (topic.isEmpty() || !ShowTopic(topic))
        m_pBrowser->setHtml(QStringLiteral("<h3>%1</h3>").arg(Text(strid::kHelpNoPage)));
}

bool CHelpWindow::ShowTopic(const QString& objectPath) {
    if (!m_file.IsOpen() || !m_file.Contains(objectPath)) return false;
    const QUrl url = CChmBrowser::UrlOf(CChmFile::ObjectPath(objectPath));
    if (m_pBrowser->source() == url)
        m_pBrowser->reload();
    else
        m_pBrowser->setSource(url);
    return true;
}

QString CHelpWindow::CurrentTopic() const {
    const QUrl url = m_pBrowser->source();
    if (url.scheme() != kScheme) return {};
    return url.path();
}

void CHelpWindow::FillContents() {
    const QSignalBlocker blocker(m_pContents);
    m_pContents->clear();
    const QList<CHelpTopic> topics = m_file.Contents();
    AddTopics(nullptr, topics);
    m_pContents->expandAll();
    m_pContents->setVisible(!topics.isEmpty());
}

void CHelpWindow::AddTopics(QTreeWidgetItem* parent, const QList<CHelpTopic>& topics) {
    for (const CHelpTopic& topic : topics) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(m_pContents);
        item->setText(0, topic.name);
        if (!topic.local.isEmpty())
            item->setData(0, kPathRole, CChmFile::ObjectPath(topic.local, m_file.ContentsFile()));
        AddTopics(item, topic.children);
    }
}

void CHelpWindow::OnContentsClicked(QTreeWidgetItem* item) {
    if (!item) return;
    const QString path = item->data(0, kPathRole).toString();
    if (path.isEmpty() || path == CurrentTopic()) return;
    ShowTopic(path);
}

void CHelpWindow::OnSourceChanged(const QUrl& url) {
    if (url.scheme() != kScheme) return;
    const QString path = url.path();
    for (QTreeWidgetItemIterator it(m_pContents); *it; ++it) {
        if ((*it)->data(0, kPathRole).toString() == path) {
            const QSignalBlocker blocker(m_pContents);
            m_pContents->setCurrentItem(*it);
            return;
        }
    }
}

void CHelpWindow::ShowError(const QString& path) {
    {
        const QSignalBlocker blocker(m_pContents);
        m_pContents->clear();
    }
    m_pContents->setVisible(false);
    setWindowTitle(Text(strid::kHelpTitle));
    m_pBrowser->setHtml(
        QStringLiteral("<h3>%1</h3><p>%2</p>").arg(Text(strid::kHelpFileUnreadable), path.toHtmlEscaped()));
}

QString CHelpWindow::Text(int id) const { return m_services.LoadString(id); }

CHelpWindow* CHelpWindow::Instance() { return TheWindow().data(); }

CHelpWindow* CHelpWindow::DisplayHelp(const CAppServices& services, QWidget* owner,
                                      const QString& path) {
    QPointer<CHelpWindow>& window = TheWindow();
    if (window && window->parentWidget() != owner) {
        window->close();
        delete window.data();
    }
    if (!window) {
        window = new CHelpWindow(services, owner);
        window->OpenFile(path);
        // Opens a little below and to the right of its owner, inside the owner's screen.
        if (owner) {
            QPoint at = owner->frameGeometry().topLeft() + QPoint(40, 40);
            if (const QScreen* screen = owner->screen()) {
                const QRect area = screen->availableGeometry();
                at.setX(qBound(area.left(), at.x(), qMax(area.left(), area.right() - window->width())));
                at.setY(qBound(area.top(), at.y(), qMax(area.top(), area.bottom() - window->height())));
            }
            window->move(at);
        }
    } else if (window->File().Path() != path || !window->File().IsOpen()) {
        window->OpenFile(path);
    } else {
        window->ShowDefaultTopic();
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}
