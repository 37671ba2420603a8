#pragma once
// The help viewer: shows a compiled HTML help file (help.chm) in a window of its own, with the
// file's table of contents on the left and its pages on the right. Links between the pages of
// the file are followed inside the window; links to the web go to the desktop's browser.
#include <QPointer>
#include <QTextBrowser>
#include <QUrl>
#include <QWidget>
#include <memory>

#include "help/chmfile.h"

class CAppServices;
class QTreeWidget;
class QTreeWidgetItem;
class QAction;

// The page view: loads pages, style sheets and images from the open help file.
class CChmBrowser : public QTextBrowser {
    Q_OBJECT
public:
    // `services` give the texts of the window; they must outlive it.
    explicit CChmBrowser(const CAppServices& services, QWidget* parent = nullptr);
    void SetFile(const CChmFile* file) { m_pFile = file; }

    // "chm:/page.html" for an object path.
    static QUrl UrlOf(const QString& objectPath);
    // The object path a URL names, resolved against the page shown now when relative.
    QString ObjectPathOf(const QUrl& url) const;

    QVariant loadResource(int type, const QUrl& name) override;

protected:
    void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

private:
    const CAppServices& m_services;
    const CChmFile* m_pFile = nullptr;
};

class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    // `services` give the texts of the window; they must outlive it.
    explicit CHelpWindow(const CAppServices& services, QWidget* parent = nullptr);
    ~CHelpWindow() override;

    // Opens a help file and shows its default topic. False when the file cannot be read as a
    // help file; the window then shows a page that says so.
    bool OpenFile(const QString& path);
    // Shows the default topic of the open file (the first page when the file names none).
    void ShowDefaultTopic();
    // Shows a page by its object path ("/editor.html"); false when the file has no such page.
    bool ShowTopic(const QString& objectPath);

    const CChmFile& File() const { return m_file; }
    CChmBrowser* Browser() const { return m_pBrowser; }
    QTreeWidget* ContentsTree() const { return m_pContents; }
    QString CurrentTopic() const;  // object path of the page shown, or empty

    // Shows the help file in the one help window of the program, creating it (as a window of
    // `owner`, so that it stays usable while `owner` runs modally) or reusing it, at the file's
    // default topic. Returns the window.
    static CHelpWindow* DisplayHelp(const CAppServices& services, QWidget* owner,
                                    const QString& path);
    static CHelpWindow* Instance();

private:
    void FillContents();
    void AddTopics(QTreeWidgetItem* parent, const QList<CHelpTopic>& topics);
    void OnContentsClicked(QTreeWidgetItem* item);
    void OnSourceChanged(const QUrl& url);
    void ShowError(const QString& path);
    QString Text(int id) const;

    const CAppServices& m_services;
    CChmFile m_file;
    QTreeWidget* m_pContents = nullptr;
    CChmBrowser* m_pBrowser = nullptr;
    QAction* m_pBack = nullptr;
    QAction* m_pForward = nullptr;
    QAction* m_pHome = nullptr;
};
