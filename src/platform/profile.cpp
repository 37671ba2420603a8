#include "platform/profile.h"

#include <QByteArrayList>
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

std::optional<QString> FindValue(const QString& path, const QString& section, const QString& key) {
    QByteArray data;
    if (!ReadWholeFile(path, &data)) return std::nullopt;
    bool inSection = false;
    bool sectionSeen = false;
    for (const Line& line : SplitLines(data)) {
        const Parsed p = ParseLine(line.bytes);
        if (p.kind == Kind::Section) {
            if (inSection) return std::nullopt;  // the first matching section only
            inSection = !sectionSeen && p.name.compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen = sectionSeen || inSection;
        } else if (p.kind == Kind::Entry && inSection &&
                   p.name.compare(key, Qt::CaseInsensitive) == 0) {
            return p.value;
        }
    }
    return std::nullopt;
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
