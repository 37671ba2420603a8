#include "ui/chmfile.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <chm_lib.h>
#include <cstring>

#include "platform/codepage.h"

void CChmFile::Closer::operator()(chmFile* file) const {
    if (file) chm_close(file);
}

CChmFile::CChmFile() = default;
CChmFile::~CChmFile() = default;

bool CChmFile::Open(const QString& path) {
    Close();
    const QByteArray name = QFile::encodeName(path);
    chmFile* file = chm_open(name.constData());
    if (!file) return false;
    m_file.reset(file);
    m_path = path;
    ReadSystemRecord();
    return true;
}

void CChmFile::Close() {
    m_file.reset();
    m_path.clear();
    m_defaultTopic.clear();
    m_title.clear();
    m_contentsFile.clear();
}

std::optional<QByteArray> CChmFile::Read(const QString& objectPath) const {
    if (!m_file || objectPath.isEmpty()) return std::nullopt;
    const QByteArray path = objectPath.toUtf8();
    chmUnitInfo info{};
    if (chm_resolve_object(m_file.get(), path.constData(), &info) != CHM_RESOLVE_SUCCESS)
        return std::nullopt;
    if (info.length > static_cast<LONGUINT64>(kMaxObjectSize)) return std::nullopt;
    QByteArray data;
    if (info.length == 0) return data;
    data.resize(static_cast<qsizetype>(info.length));
    const LONGINT64 got = chm_retrieve_object(m_file.get(), &info,
                                              reinterpret_cast<unsigned char*>(data.data()), 0,
                                              static_cast<LONGINT64>(info.length));
    if (got != static_cast<LONGINT64>(info.length)) return std::nullopt;
    return data;
}

bool CChmFile::Contains(const QString& objectPath) const {
    if (!m_file || objectPath.isEmpty()) return false;
    const QByteArray path = objectPath.toUtf8();
    chmUnitInfo info{};
    return chm_resolve_object(m_file.get(), path.constData(), &info) == CHM_RESOLVE_SUCCESS;
}

namespace {

int CollectPath(chmFile*, chmUnitInfo* info, void* context) {
    auto* paths = static_cast<QStringList*>(context);
    const size_t length = strnlen(info->path, sizeof(info->path));
    const QString path = QString::fromUtf8(info->path, static_cast<qsizetype>(length));
    if (path.startsWith(QLatin1String("/#")) || path.startsWith(QLatin1String("/$")) ||
        path.startsWith(QLatin1String("::")) || path.endsWith(u'/'))
        return CHM_ENUMERATOR_CONTINUE;
    paths->append(path);
    return CHM_ENUMERATOR_CONTINUE;
}

// Text up to the first NUL of a #SYSTEM entry.
QString EntryText(const QByteArray& data) {
    const qsizetype nul = data.indexOf('\0');
    return CChmFile::DecodeText(nul >= 0 ? data.left(nul) : data);
}

}  // namespace

QStringList CChmFile::Paths() const {
    QStringList paths;
    if (m_file) chm_enumerate(m_file.get(), CHM_ENUMERATE_ALL, &CollectPath, &paths);
    return paths;
}

void CChmFile::ReadSystemRecord() {
    const std::optional<QByteArray> system = Read(QStringLiteral("/#SYSTEM"));
    if (!system) return;
    const QByteArray& data = *system;
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
