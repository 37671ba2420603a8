#include "help/chmfile.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>

#include "services/appservices.h"
#include "platform/codepage.h"
#include "platform/fileutil.h"
#include "platform/process.h"

namespace {

// Exit codes of chmread.
[[maybe_unused]] constexpr int kReaderNotHelpFile = 1;
constexpr int kReaderNoObject = 2;
// Entries of the object list, and bytes of the list, looked at.
constexpr qsizetype kMaxPaths = 100000;
constexpr qint64 kMaxListBytes = 16 * 1024 * 1024;
// Bytes of objects kept in memory while a file is open.
constexpr qint64 kMaxCachedBytes = 32 * 1024 * 1024;

QString& ReaderOverride() {
    static QString path;
    return path;
}

// Text up to the first NUL of a #SYSTEM entry.
QString EntryText(const QByteArray& data) {
    const qsizetype nul = data.indexOf('\0');
    return CChmFile::DecodeText(nul >= 0 ? data.left(nul) : data);
}

}  // namespace

CChmFile::CChmFile() = default;
CChmFile::~CChmFile() = default;

QString CChmFile::ReaderProgram() {
    if (!ReaderOverride().isEmpty()) return ReaderOverride();
    const QString name = QStringLiteral("chmread");
    QString found;
    if (const CAppServices* app = CAppServices::Current(); app && !app->m_szAppDir.isEmpty())
        found = platform::FindProgram(name, app->m_szAppDir);
    if (found.isEmpty() && QCoreApplication::instance())
        found = platform::FindProgram(name, QCoreApplication::applicationDirPath() + u'/');
    return found;
}

void CChmFile::SetReaderProgram(const QString& path) { ReaderOverride() = path; }

int CChmFile::RunReader(const QStringList& arguments, qint64 maxBytes, QByteArray* output) const {
    output->clear();
    if (m_reader.isEmpty()) return -1;
    platform::CRunOptions options;
    options.errorToNull = true;
    options.timeLimitMs = kReaderTimeoutMs;
    options.maxOutputBytes = maxBytes;
    platform::CRunResult run =
        platform::RunCaptured(m_reader, QStringList{m_reader} + arguments, options);
    *output = std::move(run.output);
    if (run.failure != platform::ERunFailure::None || run.limitReached || !run.exited) return -1;
    return run.exitCode;
}

bool CChmFile::Open(const QString& path) {
    Close();
    if (!platform::FileExists(path)) return false;
    m_reader = ReaderProgram();
    m_path = path;
    // The #SYSTEM record both tells the default topic and shows that chmread can read the file.
    QByteArray system;
    const int rc = RunReader({path, QStringLiteral("get"), QStringLiteral("/#SYSTEM")}, kMaxObjectSize, &system);
    if (rc != 0 && rc != kReaderNoObject) {
        m_path.clear();
        m_reader.clear();
        return false;
    }
    m_bOpen = true;
    if (rc == 0) ReadSystemRecord(system);
    return true;
}

void CChmFile::Close() {
    m_bOpen = false;
    m_path.clear();
    m_reader.clear();
    m_defaultTopic.clear();
    m_title.clear();
    m_contentsFile.clear();
    m_cache.clear();
    m_nCachedBytes = 0;
}

std::optional<QByteArray> CChmFile::Read(const QString& objectPath) const {
    if (!m_bOpen || objectPath.isEmpty()) return std::nullopt;
    if (const auto hit = m_cache.constFind(objectPath); hit != m_cache.constEnd()) return *hit;
    QByteArray data;
    const int rc = RunReader({m_path, QStringLiteral("get"), objectPath}, kMaxObjectSize, &data);
    std::optional<QByteArray> result;
    if (rc == 0) result = data;
    if (m_nCachedBytes + data.size() <= kMaxCachedBytes) {
        m_cache.insert(objectPath, result);
        m_nCachedBytes += data.size();
    }
    return result;
}

bool CChmFile::Contains(const QString& objectPath) const { return Read(objectPath).has_value(); }

QStringList CChmFile::Paths() const {
    QStringList paths;
    if (!m_bOpen) return paths;
    QByteArray list;
    if (RunReader({m_path, QStringLiteral("list")}, kMaxListBytes, &list) != 0) return paths;
    for (const QByteArray& entry : list.split('\0')) {
        if (paths.size() >= kMaxPaths) break;
        const QString path = QString::fromUtf8(entry);
        if (path.isEmpty() || path.startsWith(QLatin1String("/#")) || path.startsWith(QLatin1String("/$")) ||
            path.startsWith(QLatin1String("::")) || path.endsWith(u'/'))
            continue;
        paths.append(path);
    }
    return paths;
}

void CChmFile::ReadSystemRecord(const QByteArray& data) {
    // A 4-byte version, then entries of code (16 bits), length (16 bits) and data.
    qsizetype pos = 4;
    while (pos + 4 <= data.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + pos);
        const int code = p[0] | (p[1] << 8);
        const qsizetype length = p[2] | (p[3] << 8);
        pos += 4;
        if (length > data.size() - pos) break;
        const QByteArray entry = data.mid(pos, length);
        pos += length;
        switch (code) {
        case 0: m_contentsFile = ObjectPath(EntryText(entry)); break;
        case 2: m_defaultTopic = ObjectPath(EntryText(entry)); break;
        case 3: m_title = EntryText(entry); break;
        default: break;
        }
    }
    if (m_contentsFile == QLatin1String("/")) m_contentsFile.clear();
    if (m_defaultTopic == QLatin1String("/")) m_defaultTopic.clear();
}

QList<CHelpTopic> CChmFile::Contents() const {
    if (m_contentsFile.isEmpty()) return {};
    const std::optional<QByteArray> data = Read(m_contentsFile);
    if (!data) return {};
    return ParseSitemap(DecodeText(*data));
}

QString CChmFile::ObjectPath(const QString& link, const QString& basePath) {
    QString path = link.trimmed();
    // Links into a help file: "ms-its:help.chm::/page.html", "mk:@MSITStore:help.chm::/page.html".
    static const QRegularExpression storePrefix(
        QStringLiteral("^(ms-its:|its:|mk:@msitstore:)"), QRegularExpression::CaseInsensitiveOption);
    if (storePrefix.match(path).hasMatch()) {
        const qsizetype sep = path.indexOf(QLatin1String("::"));
        path = sep >= 0 ? path.mid(sep + 2) : QString();
    }
    const qsizetype cut = path.indexOf(QRegularExpression(QStringLiteral("[#?]")));
    if (cut >= 0) path.truncate(cut);
    path.replace(u'\\', u'/');
    if (!path.startsWith(u'/')) {
        QString base = basePath;
        base.replace(u'\\', u'/');
        const qsizetype slash = base.lastIndexOf(u'/');
        path = (slash >= 0 ? base.left(slash + 1) : QStringLiteral("/")) + path;
    }
    QStringList parts;
    for (const QString& part : path.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".")) continue;
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty()) parts.removeLast();
            continue;
        }
        parts.append(part);
    }
    return u'/' + parts.join(u'/');
}

QString CChmFile::DecodeText(const QByteArray& bytes) {
    static const QRegularExpression charsetRe(
        QStringLiteral("charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_\\-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(bytes.left(2048));
    const QRegularExpressionMatch m = charsetRe.match(head);
    if (m.hasMatch()) {
        const QString cs = m.captured(1).toLower();
        if (cs == QLatin1String("shift_jis") || cs == QLatin1String("x-sjis") ||
            cs == QLatin1String("windows-31j") || cs == QLatin1String("cp932") ||
            cs == QLatin1String("ms932") || cs == QLatin1String("shift-jis"))
            return platform::FromCp932(bytes);
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError()) return text;
    if (m.hasMatch() && m.captured(1).compare(QLatin1String("utf-8"), Qt::CaseInsensitive) == 0)
        return text;  // declared UTF-8: invalid bytes become replacement characters
    return platform::FromCp932(bytes);
}

namespace {

QString DecodeEntities(const QString& text) {
    if (!text.contains(u'&')) return text;
    static const QRegularExpression entity(QStringLiteral("&(#x[0-9A-Fa-f]+|#[0-9]+|[A-Za-z]+);"));
    QString out;
    qsizetype last = 0;
    auto it = entity.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += QStringView(text).mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        QString replacement = m.captured(0);
        if (name.startsWith(u'#')) {
            bool ok = false;
            const uint cp = name.startsWith(QLatin1String("#x"), Qt::CaseInsensitive)
                                ? name.mid(2).toUInt(&ok, 16)
                                : name.mid(1).toUInt(&ok, 10);
            if (ok && cp > 0 && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF)) {
                const char32_t c = cp;
                replacement = QString::fromUcs4(&c, 1);
            }
        } else if (name == QLatin1String("amp")) {
            replacement = QStringLiteral("&");
        } else if (name == QLatin1String("lt")) {
            replacement = QStringLiteral("<");
        } else if (name == QLatin1String("gt")) {
            replacement = QStringLiteral(">");
        } else if (name == QLatin1String("quot")) {
            replacement = QStringLiteral("\"");
        } else if (name == QLatin1String("apos")) {
            replacement = QStringLiteral("'");
        } else if (name == QLatin1String("nbsp")) {
            replacement = QString(QChar(0xA0));
        }
        out += replacement;
        last = m.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out;
}

QString Attribute(const QString& attributes, const QString& name) {
    static const QRegularExpression attr(
        QStringLiteral("([A-Za-z_:\\-]+)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    auto it = attr.globalMatch(attributes);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).compare(name, Qt::CaseInsensitive) != 0) continue;
        for (int i = 2; i <= 4; ++i)
            if (m.capturedStart(i) >= 0) return DecodeEntities(m.captured(i));
        return {};
    }
    return {};
}

}  // namespace

QList<CHelpTopic> CChmFile::ParseSitemap(const QString& html) {
    // Nesting deeper than this is flattened into the deepest level.
    constexpr qsizetype kMaxDepth = 32;
    QList<CHelpTopic> root;
    QList<QList<CHelpTopic>*> levels{&root};
    bool inTopic = false;
    QString name;
    QString local;

    static const QRegularExpression tagRe(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"));
    auto it = tagRe.globalMatch(html);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const bool closing = !m.captured(1).isEmpty();
        const QString tag = m.captured(2).toLower();
        const QString attributes = m.captured(3);
        if (tag == QLatin1String("ul")) {
            if (closing) {
                if (levels.size() > 1) levels.removeLast();
            } else {
                QList<CHelpTopic>* current = levels.last();
                if (levels.size() < kMaxDepth && !current->isEmpty())
                    levels.append(&current->last().children);
                else
                    levels.append(current);
            }
        } else if (tag == QLatin1String("object")) {
            if (!closing) {
                inTopic = Attribute(attributes, QStringLiteral("type"))
                              .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive) == 0;
                name.clear();
                local.clear();
            } else if (inTopic) {
                inTopic = false;
                if (!name.isEmpty() || !local.isEmpty())
                    levels.last()->append(CHelpTopic{name, local, {}});
            }
        } else if (tag == QLatin1String("param") && inTopic && !closing) {
            const QString key = Attribute(attributes, QStringLiteral("name"));
            const QString value = Attribute(attributes, QStringLiteral("value"));
            if (key.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0 && name.isEmpty())
                name = value;
            else if (key.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0 && local.isEmpty())
                local = value;
        }
    }
    return root;
}
