#pragma once
// Read access to a compiled HTML help file (help.chm): the stored pages, the default topic, the
// title and the table of contents named in the file's #SYSTEM record. The file itself is read
// by the helper program chmread (chmlib) in a process of its own, with bounded output and time,
// so that a damaged or hostile help file cannot harm the program.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

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

    // The helper's longest run.
    static constexpr int kReaderTimeoutMs = 10000;

    // Opens the file; false when it is missing, not a CHM file, or the helper cannot be run.
    // A second Open closes the first.
    bool Open(const QString& path);
    void Close();
    bool IsOpen() const { return m_bOpen; }
    QString Path() const { return m_path; }

    // Reads one stored object by its path inside the file ("/index.html"). Empty when the
    // object is missing, too large or cannot be read in full. Objects read are kept while the
    // file is open (up to 32 MiB in all).
    std::optional<QByteArray> Read(const QString& objectPath) const;
    bool Contains(const QString& objectPath) const;
    // Paths of every stored page and file, internal objects (starting with "/#" or "/$" or
    // "::") left out; at most 100000 entries are looked at.
    QStringList Paths() const;

    // The helper program: set explicitly, or "chmread" found in the program directory of the
    // running application, the folder of the running executable, then PATH.
    static QString ReaderProgram();
    static void SetReaderProgram(const QString& path);

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
    void ReadSystemRecord(const QByteArray& data);
    // Runs the helper; returns its exit code (-1 when it could not run, crashed, ran too long or
    // printed more than maxBytes), its standard output in *output.
    int RunReader(const QStringList& arguments, qint64 maxBytes, QByteArray* output) const;

    bool m_bOpen = false;
    QString m_path;
    QString m_reader;
    mutable QHash<QString, std::optional<QByteArray>> m_cache;
    mutable qint64 m_nCachedBytes = 0;
    QString m_defaultTopic;
    QString m_title;
    QString m_contentsFile;
};
