#include "platform/profile.h"

#include <QByteArrayList>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QSet>

#include <sys/stat.h>
#include <algorithm>
#include <climits>
#include <optional>

#include "platform/codepage.h"
#include "platform/fileutil.h"

namespace platform {
namespace {

// One physical line of the file, without its line end.
struct Line {
    QByteArray bytes;
    QByteArray ending;  // "\r\n", "\n" or empty for the last line
};

QList<Line> SplitLines(const QByteArray& data) {
    QList<Line> lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype lf = data.indexOf('\n', start);
        if (lf < 0) {
            lines.append({data.mid(start), {}});
            break;
        }
        qsizetype end = lf;
        QByteArray ending = "\n";
        if (end > start && data[end - 1] == '\r') {
            --end;
            ending = "\r\n";
        }
        lines.append({data.mid(start, end - start), ending});
        start = lf + 1;
    }
    return lines;
}

// Blanks around names and values: ASCII white space only, so that a full-width space that is
// part of a Japanese value survives.
bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f'; }

QString TrimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.mid(begin, end - begin);
}

QString SectionName(const QString& trimmed) {
    // "[NAME]" with optional blanks inside the brackets; text after "]" is ignored.
    const qsizetype close = trimmed.indexOf(u']');
    if (close < 0) return TrimBlanks(trimmed.mid(1));
    return TrimBlanks(trimmed.mid(1, close - 1));
}

struct KeyValue {
    QString key;
    QString value;
};

std::optional<KeyValue> ParseKeyValue(const QString& trimmed) {
    const qsizetype eq = trimmed.indexOf(u'=');
    if (eq <= 0) return std::nullopt;
    KeyValue kv{TrimBlanks(trimmed.left(eq)), TrimBlanks(trimmed.mid(eq + 1))};
    if (kv.key.isEmpty()) return std::nullopt;
    if (kv.value.size() >= 2 && kv.value.startsWith(u'"') && kv.value.endsWith(u'"'))
        kv.value = kv.value.mid(1, kv.value.size() - 2);
    return kv;
}

enum class Kind { Other, Section, Entry };

struct Parsed {
    Kind kind = Kind::Other;
    QString name;  // section name or key
    QString value;
};

Parsed ParseLine(const QByteArray& bytes) {
    const QString trimmed = TrimBlanks(FromCp932(bytes));
    if (trimmed.isEmpty() || trimmed.startsWith(u';')) return {};
    if (trimmed.startsWith(u'[')) return {Kind::Section, SectionName(trimmed), {}};
    if (auto kv = ParseKeyValue(trimmed)) return {Kind::Entry, kv->key, kv->value};
    return {};
}

// The parsed content of one settings file: for each section (first occurrence only, names in
// lower case) its keys (first occurrence only) and values.
using SectionMap = QHash<QString, QHash<QString, QString>>;

SectionMap ParseFile(const QByteArray& data) {
    SectionMap sections;
    QSet<QString> seen;
    QHash<QString, QString>* current = nullptr;
    for (const Line& line : SplitLines(data)) {
        const Parsed p = ParseLine(line.bytes);
        if (p.kind == Kind::Section) {
            const QString name = p.name.toLower();
            current = seen.contains(name) ? nullptr : &sections[name];
            seen.insert(name);
        } else if (p.kind == Kind::Entry && current) {
            const QString key = p.name.toLower();
            if (!current->contains(key)) current->insert(key, p.value);
        }
    }
    return sections;
}

// The settings are read from the file at every use, so that a value saved elsewhere takes
// effect at once. Parsing is kept for the last file read and reused only while the file is
// provably the same one: same device, inode, size, modification and change times. Every write
// of this program replaces the file (new inode), so no change can be missed.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    bool operator==(const FileIdentity& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

bool Identify(const QString& path, FileIdentity* id) {
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return false;
    *id = {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return true;
}

struct ParsedCache {
    QMutex mutex;
    QString path;
    FileIdentity identity;
    SectionMap sections;
    bool valid = false;
};

ParsedCache& Cache() {
    static ParsedCache cache;
    return cache;
}

std::optional<QString> FindValue(const QString& path, const QString& section, const QString& key) {
    FileIdentity before;
    if (!Identify(path, &before)) return std::nullopt;
    ParsedCache& cache = Cache();
    QMutexLocker lock(&cache.mutex);
    if (!cache.valid || cache.path != path || !(cache.identity == before)) {
        QByteArray data;
        if (!ReadWholeFile(path, &data)) return std::nullopt;
        FileIdentity after;
        const bool stable = Identify(path, &after) && after == before;
        SectionMap sections = ParseFile(data);
        cache.valid = stable;  // a file changing while read is parsed but not kept
        cache.path = path;
        cache.identity = before;
        cache.sections = std::move(sections);
        if (!stable) {
            const auto s = cache.sections.constFind(section.toLower());
            std::optional<QString> result;
            if (s != cache.sections.cend()) {
                const auto k = s->constFind(key.toLower());
                if (k != s->cend()) result = *k;
            }
            cache.sections.clear();
            return result;
        }
    }
    const auto s = cache.sections.constFind(section.toLower());
    if (s == cache.sections.cend()) return std::nullopt;
    const auto k = s->constFind(key.toLower());
    if (k == s->cend()) return std::nullopt;
    return *k;
}

// A section or key name that reads back as itself: not blank-padded or empty, on one line, not
// looking like a comment or a section, and without the character that ends it.
bool IsWritableName(const QString& name, QStringView terminator) {
    if (name.isEmpty() || TrimBlanks(name) != name) return false;
    if (name.contains(u'\n') || name.contains(u'\r') || name.contains(terminator)) return false;
    return !name.startsWith(u';') && !name.startsWith(u'[');
}

}  // namespace

QString GetProfileString(const QString& path, const QString& section, const QString& key,
                         const QString& defaultValue) {
    return FindValue(path, section, key).value_or(defaultValue);
}

int GetProfileInt(const QString& path, const QString& section, const QString& key,
                  int defaultValue) {
    const std::optional<QString> value = FindValue(path, section, key);
    // A missing key and an empty value both give the default, as on Windows.
    if (!value || value->isEmpty()) return defaultValue;
    const QString& v = *value;
    qsizetype i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == u'+' || v[i] == u'-')) negative = v[i++] == u'-';
    // Saturate instead of wrapping, so that an absurd value never turns into a small one.
    constexpr long long kLimit = static_cast<long long>(INT_MAX) + 1;
    long long n = 0;
    for (; i < v.size() && v[i] >= u'0' && v[i] <= u'9'; ++i) {
        n = n * 10 + (v[i].unicode() - u'0');
        if (n > kLimit) n = kLimit;
    }
    if (negative) return static_cast<int>(-n);
    return static_cast<int>(std::min<long long>(n, INT_MAX));
}

bool WriteProfileString(const QString& path, const QString& section, const QString& key,
                        const QString& value) {
    if (path.isEmpty() || !IsWritableName(section, u"]") || !IsWritableName(key, u"="))
        return false;
    // A line break in the value would plant further lines (keys, sections) in the file.
    if (value.contains(u'\n') || value.contains(u'\r')) return false;
    if (!IsWritableTarget(path)) return false;
    QByteArray data;
    if (FileExists(path) && !ReadWholeFile(path, &data)) return false;

    QList<Line> lines = SplitLines(data);
    const QByteArray newEntry = ToCp932(key) + '=' + ToCp932(value);

    qsizetype sectionLine = -1;  // index of the matching section header
    qsizetype lastContent = -1;  // last non-blank line inside that section
    qsizetype keyLine = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const Parsed p = ParseLine(lines[i].bytes);
        if (p.kind == Kind::Section) {
            if (sectionLine >= 0) break;
            if (p.name.compare(section, Qt::CaseInsensitive) == 0) {
                sectionLine = i;
                lastContent = i;
            }
            continue;
        }
        if (sectionLine < 0) continue;
        if (!TrimBlanks(FromCp932(lines[i].bytes)).isEmpty()) lastContent = i;
        if (p.kind == Kind::Entry && p.name.compare(key, Qt::CaseInsensitive) == 0) {
            keyLine = i;
            break;
        }
    }

    const QByteArray crlf = "\r\n";
    if (keyLine >= 0) {
        // Keep the key as it is spelled in the file.
        const QByteArray& old = lines[keyLine].bytes;
        const qsizetype eq = old.indexOf('=');
        lines[keyLine].bytes = old.left(eq + 1) + ToCp932(value);
    } else if (sectionLine >= 0) {
        if (lines[lastContent].ending.isEmpty()) lines[lastContent].ending = crlf;
        lines.insert(lastContent + 1, Line{newEntry, crlf});
    } else {
        if (!lines.isEmpty() && lines.last().ending.isEmpty()) lines.last().ending = crlf;
        lines.append(Line{'[' + ToCp932(section) + ']', crlf});
        lines.append(Line{newEntry, crlf});
    }

    QByteArray out;
    out.reserve(data.size() + newEntry.size() + 16);
    for (const Line& line : lines) out += line.bytes + line.ending;
    return WriteFileAtomic(path, out);
}

}  // namespace platform
