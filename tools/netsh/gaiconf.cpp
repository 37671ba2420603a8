#include "gaiconf.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>

namespace gaiconf {
namespace {

enum class EKind { Precedence, Label, Other };

struct CPrefixValue {
    std::array<std::uint8_t, 16> address{};
    int length = 0;
    std::uint32_t value = 0;
    QByteArray text;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The line's words as glibc splits them: everything from "#" on is a comment; the command and
// two values, blank-separated; the rest of the line is ignored.
QList<QByteArray> Words(QByteArray line) {
    const qsizetype hash = line.indexOf('#');
    if (hash >= 0) line.truncate(hash);
    const qsizetype nul = line.indexOf('\0');  // glibc sees a C string
    if (nul >= 0) line.truncate(nul);
    QList<QByteArray> words;
    qsizetype i = 0;
    while (words.size() < 3) {
        while (i < line.size() && IsSpace(line[i])) ++i;
        const qsizetype start = i;
        while (i < line.size() && !IsSpace(line[i])) ++i;
        if (i == start) break;
        words.append(line.mid(start, i - start));
    }
    return words;
}

EKind KindOf(const QList<QByteArray>& words) {
    if (words.isEmpty()) return EKind::Other;
    if (words[0] == "precedence") return EKind::Precedence;
    if (words[0] == "label") return EKind::Label;
    return EKind::Other;
}

// strtoul with glibc's acceptance test: the whole word, no overflow.
std::optional<unsigned long> WholeNumber(const QByteArray& word) {
    const std::string text = word.toStdString();
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if ((value == ULONG_MAX && errno == ERANGE) || *end != '\0') return std::nullopt;
    return value;
}

// "<address>[/<bits>] <value>" as glibc accepts it: an address inet_pton reads, at most 128
// bits, a value of at most INT_MAX (an empty value reads as 0, as strtoul gives it).
std::optional<CPrefixValue> ParseEntry(const QList<QByteArray>& words) {
    if (words.size() < 2) return std::nullopt;
    CPrefixValue entry;
    entry.text = words[1];
    QByteArray address = words[1];
    entry.length = 128;
    const qsizetype slash = address.indexOf('/');
    if (slash >= 0) {
        const std::optional<unsigned long> bits = WholeNumber(address.mid(slash + 1));
        if (!bits || *bits > 128) return std::nullopt;
        entry.length = int(*bits);
        address.truncate(slash);
    }
    if (::inet_pton(AF_INET6, address.constData(), entry.address.data()) != 1) return std::nullopt;
    const std::optional<unsigned long> value =
        WholeNumber(words.size() > 2 ? words[2] : QByteArray());
    if (!value || *value > kMaxValue) return std::nullopt;
    entry.value = std::uint32_t(*value);
    return entry;
}

bool Covers(const CPrefixValue& entry, const std::array<std::uint8_t, 16>& address) {
    int bits = entry.length;
    std::size_t i = 0;
    for (; bits >= 8; bits -= 8, ++i) {
        if (entry.address[i] != address[i]) return false;
    }
    if (bits == 0) return true;
    const unsigned mask = 0xFF00u >> bits;
    return (entry.address[i] & mask) == (address[i] & mask);
}

bool SamePrefix(const CPrefixValue& a, const CPrefixValue& b) {
    return a.length == b.length && Covers(a, b.address);
}

// A table as glibc uses it: the file's entries, longest first (ties in file order, as its stable
// sort leaves them), with "::/0" given `nullValue` when the file has no zero-length entry; the
// built-in table when the file has no entries.
QList<CPrefixValue> Prepared(QList<CPrefixValue> entries, std::uint32_t nullValue,
                             const QList<CPrefixValue>& builtIn) {
    if (entries.isEmpty()) return builtIn;
    if (std::none_of(entries.begin(), entries.end(),
                     [](const CPrefixValue& e) { return e.length == 0; })) {
        CPrefixValue all;
        all.value = nullValue;
        entries.append(all);
    }
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const CPrefixValue& a, const CPrefixValue& b) { return a.length > b.length; });
    return entries;
}

// The value of the longest entry that covers the whole prefix.
std::uint32_t ValueFor(const QList<CPrefixValue>& table, const CPrefixValue& prefix) {
    for (const CPrefixValue& e : table) {
        if (e.length <= prefix.length && Covers(e, prefix.address)) return e.value;
    }
    return 0;  // unreachable: every prepared table holds ::/0
}

CPrefixValue BuiltIn(const char* text, std::uint32_t value) {
    const QList<QByteArray> words{QByteArray("label"), QByteArray(text), QByteArray::number(value)};
    return *ParseEntry(words);
}

// glibc's built-in tables, in the order its gai.conf documentation lists them.
const QList<CPrefixValue>& BuiltInPrecedences() {
    static const QList<CPrefixValue> table = {BuiltIn("::1/128", 50), BuiltIn("::/0", 40),
                                              BuiltIn("2002::/16", 30), BuiltIn("::/96", 20),
                                              BuiltIn("::ffff:0:0/96", 10)};
    return table;
}

const QList<CPrefixValue>& BuiltInLabels() {
    static const QList<CPrefixValue> table = {
        BuiltIn("::1/128", 0),       BuiltIn("::/0", 1),      BuiltIn("2002::/16", 2),
        BuiltIn("::/96", 3),         BuiltIn("::ffff:0:0/96", 4), BuiltIn("fec0::/10", 5),
        BuiltIn("fc00::/7", 6),      BuiltIn("2001::/32", 7)};
    return table;
}

const QList<CPrefixValue>& DefaultPrecedences() {
    static const QList<CPrefixValue> table = Prepared(BuiltInPrecedences(), 40, {});
    return table;
}

const QList<CPrefixValue>& DefaultLabels() {
    static const QList<CPrefixValue> table = Prepared(BuiltInLabels(), 1, {});
    return table;
}

void AddNamed(QList<CPrefixValue>& named, const CPrefixValue& entry) {
    if (std::none_of(named.begin(), named.end(),
                     [&](const CPrefixValue& n) { return SamePrefix(n, entry); }))
        named.append(entry);
}

QList<QByteArray> SplitLines(const QByteArray& file) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    while (start < file.size()) {
        const qsizetype end = file.indexOf('\n', start);
        const qsizetype next = end < 0 ? file.size() : end + 1;
        lines.append(file.mid(start, next - start));
        start = next;
    }
    return lines;
}

}  // namespace

QList<CRow> EffectiveTable(const QByteArray& file) {
    QList<CPrefixValue> precedences;
    QList<CPrefixValue> labels;
    QList<CPrefixValue> named;  // every prefix, in order of first mention
    qsizetype fromFile = 0;
    for (const QByteArray& line : SplitLines(file)) {
        const QList<QByteArray> words = Words(line);
        const EKind kind = KindOf(words);
        if (kind == EKind::Other) continue;
        const std::optional<CPrefixValue> entry = ParseEntry(words);
        if (!entry) continue;
        (kind == EKind::Precedence ? precedences : labels).append(*entry);
        AddNamed(named, *entry);
    }
    fromFile = named.size();
    // Then the prefixes glibc adds: "::/0" to a table of the file's that has none, and the whole
    // built-in table of a kind the file has no lines of.
    CPrefixValue all;
    all.text = "::/0";
    if (!named.isEmpty()) AddNamed(named, all);
    for (const CPrefixValue& e : precedences.isEmpty() ? BuiltInPrecedences() : QList<CPrefixValue>())
        AddNamed(named, e);
    for (const CPrefixValue& e : labels.isEmpty() ? BuiltInLabels() : QList<CPrefixValue>())
        AddNamed(named, e);
    const QList<CPrefixValue> precedenceTable = Prepared(precedences, 40, DefaultPrecedences());
    const QList<CPrefixValue> labelTable = Prepared(labels, 1, DefaultLabels());
    QList<CRow> rows;
    rows.reserve(named.size());
    for (const CPrefixValue& n : named) {
        CRow row;
        row.named = rows.size() < fromFile;
        row.prefix = n.text;
        row.address = n.address;
        row.length = n.length;
        row.precedence = ValueFor(precedenceTable, n);
        row.label = ValueFor(labelTable, n);
        rows.append(row);
    }
    return rows;
}

bool HasTableLines(const QByteArray& file) {
    const QList<QByteArray> lines = SplitLines(file);
    return std::any_of(lines.begin(), lines.end(), [](const QByteArray& l) {
        const QList<QByteArray> words = Words(l);
        return KindOf(words) != EKind::Other && ParseEntry(words);
    });
}

QByteArray Rewrite(const QByteArray& file, const QList<CRow>& rows) {
    QByteArray tables;
    for (const CRow& r : rows)
        tables += "precedence " + r.prefix + ' ' + QByteArray::number(r.precedence) + '\n';
    for (const CRow& r : rows)
        tables += "label " + r.prefix + ' ' + QByteArray::number(r.label) + '\n';
    QByteArray out;
    out.reserve(file.size() + tables.size());
    bool placed = false;
    for (const QByteArray& line : SplitLines(file)) {
        if (KindOf(Words(line)) == EKind::Other) {
            out += line;
        } else if (!placed) {
            out += tables;
            placed = true;
        }
    }
    if (!placed && !tables.isEmpty()) {
        if (!out.isEmpty() && !out.endsWith('\n')) out += '\n';
        out += tables;
    }
    return out;
}

}  // namespace gaiconf
