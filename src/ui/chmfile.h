#pragma once
// Read access to a compiled HTML help file (help.chm) through chmlib: the stored pages, the
// default topic, the title and the table of contents named in the file's #SYSTEM record.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

struct chmFile;

// One entry of a help file's table of contents.
struct CHelpTopic {
    QString name;    // caption shown in the contents tree
    QString local;   // page inside the help file, as written in the contents file
    QList<CHelpTopic> children;
};

class CChmFile {
public:
    // Objects larger than this are refused rather than read into memory.
    static constexpr qint64 kMaxObjectSize = 16 * 1024 * 1024;

    CChmFile();
    ~CChmFile();
    CChmFile(const CChmFile&) = delete;
    CChmFile& operator=(const CChmFile&) = delete;

    // Opens the file; false when it is missing or not a CHM file. A second Open closes the first.
    bool Open(const QString& path);
    void Close();
    bool IsOpen() const { return m_file != nullptr; }
    QString Path() const { return m_path; }

    // Reads one stored object by its path inside the file ("/index.html"). Empty when the
    // object is missing, too large or cannot be read in full.
    std::optional<QByteArray> Read(const QString& objectPath) const;
    bool Contains(const QString& objectPath) const;
    // Paths of every stored page and file, internal objects (starting with "/#" or "/$" or
    // "::") left out.
    QStringList Paths() const;

    // From the #SYSTEM record; paths are returned as object paths starting with "/".
    QString DefaultTopic() const { return m_defaultTopic; }
    QString Title() const { return m_title; }
    QString ContentsFile() const { return m_contentsFile; }

    // The table of contents (empty when the file names none or it cannot be read).
    QList<CHelpTopic> Contents() const;

    // Makes an object path from a link as written in a page or contents file: relative to
    // `basePath` ("/dir/page.html"), with "ms-its:" / "mk:@MSITStore:" prefixes and the
    // "#fragment" removed, "." and ".." resolved.
    static QString ObjectPath(const QString& link, const QString& basePath = QStringLiteral("/"));

    // Decodes help text: UTF-8 when it is valid UTF-8 or declares it, otherwise the Japanese
    // ANSI code page (the code page help files compiled on Japanese Windows use).
    static QString DecodeText(const QByteArray& bytes);

    // Parses a contents file (HTML sitemap with <UL>/<LI>/<OBJECT type="text/sitemap">).
    static QList<CHelpTopic> ParseSitemap(const QString& html);

private:
    void ReadSystemRecord();

    struct Closer {
        void operator()(chmFile* file) const;
    };
    std::unique_ptr<chmFile, Closer> m_file;
    QString m_path;
    QString m_defaultTopic;
    QString m_title;
    QString m_contentsFile;
};
