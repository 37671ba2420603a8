#include "policy/policy.h"

#include <algorithm>

#include "services/appservices.h"
#include "platform/charclass.h"
#include "platform/ipv6text.h"
#include "resids.h"
#include "services/settingskeys.h"

namespace {

const QString kClass = QStringLiteral("CPolicy");

CAppLog* LogOf(CAppServices* app) { return app ? &app->m_clLog : nullptr; }

void TraceStart(CAppServices* app, const QString& method) {
    if (CAppLog* log = LogOf(app)) log->TraceStart(kClass, method);
}
void TraceEnd(CAppServices* app, const QString& method) {
    if (CAppLog* log = LogOf(app)) log->TraceEnd(kClass, method);
}
void TraceValue(CAppServices* app, const QString& name, const QString& value) {
    if (CAppLog* log = LogOf(app)) log->TraceValue(name, value);
}

// Parses a numeric IPv6 address text (never a name lookup).
bool ParseIPv6(const QString& text, IPv6Bytes& out) {
    for (QChar c : text)
        if (c.unicode() == 0 || c.unicode() > 0x7F) return false;
    return platform::ParseIpv6Address(text.toLatin1().constData(), out);
}

// Reads a decimal integer the way the C runtime's _wtol does: leading white space, an
// optional sign, then digits up to the first other character. A value too large to hold
// saturates at kSaturated instead of wrapping, so a long run of digits can never overflow.
constexpr long long kSaturated = 1'000'000'000'000'000'000LL;

long long ReadLeadingInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' ||
                               text[i] == u'\r' || text[i] == u'\v' || text[i] == u'\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value > (kSaturated - 9) / 10) {  // one more digit would reach kSaturated
            value = kSaturated;
            break;
        }
        value = value * 10 + (text[i].unicode() - u'0');
    }
    return negative ? -value : value;
}

constexpr long long kMaxNumber = 4294967295LL;

int DecimalDigits(long long value) {
    int digits = 1;
    while (value >= 10) {
        value /= 10;
        ++digits;
    }
    return digits;
}

}  // namespace

ErrorInfo MakeError(int id) {
    ErrorInfo info;
    info.nId = id;
    if (CAppServices* app = CAppServices::Current()) info.csText = app->LoadString(id);
    info.nKind = LOG_ERROR;
    return info;
}

bool IsControlCharacter(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7F || u == 0x85 || u == 0x2028 || u == 0x2029;
}

namespace {
bool HasControlCharacter(QStringView text) {
    return std::any_of(text.begin(), text.end(), IsControlCharacter);
}
}  // namespace

QStringList SplitString(const QString& text, const QString& separator) {
    QStringList fields;
    if (text.isEmpty() || separator.isEmpty()) {
        if (!text.isEmpty()) fields << text;
        return fields;
    }
    const QChar sep = separator[0];
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == sep) {
            fields << text.mid(start, i - start);
            start = i + 1;
        }
    }
    if (start < text.size()) fields << text.mid(start);
    return fields;
}

CPolicy::CPolicy() : m_pApp(CAppServices::Current()) {}

CPolicy::CPolicy(const CPolicy& other)
    : m_bDisabled(other.m_bDisabled),
      m_nSource(other.m_nSource),
      m_csNetworkName(other.m_csNetworkName),
      m_csLabel(other.m_csLabel),
      m_csPriority(other.m_csPriority),
      m_csAddress(other.m_csAddress),
      m_pApp(other.m_pApp) {}

CPolicy& CPolicy::operator=(const CPolicy& other) {
    if (this != &other) {
        m_bDisabled = other.m_bDisabled;
        m_nSource = other.m_nSource;
        m_csNetworkName = other.m_csNetworkName;
        m_csLabel = other.m_csLabel;
        m_csPriority = other.m_csPriority;
        m_csAddress = other.m_csAddress;
        m_pApp = other.m_pApp;
    }
    m_stError = ErrorInfo();
    return *this;
}

void CPolicy::SetError(const ErrorInfo& error) {
    TraceStart(m_pApp, QStringLiteral("SetError"));
    m_stError = error;
    TraceEnd(m_pApp, QStringLiteral("SetError"));
}

int CPolicy::SetAddress(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("SetAddress"));
    m_csAddress = text;
    TraceEnd(m_pApp, QStringLiteral("SetAddress"));
    return 1;
}

// A decimal number as label, priority or prefix length: ASCII digits, no leading "0", value
// from 1 to 4294967295. The upper bound is the largest value netsh takes (labels and
// precedences are 32-bit unsigned there); a larger value would pass here only to make the
// registration fail half-way, after the operating system's table has been emptied.
int CPolicy::CheckNumber(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("CheckNumber"));
    auto fail = [this] {
        SetError(MakeError(strid::kFieldDigitsOnly));
        return 0;
    };
    if (text.startsWith(u'0')) return fail();
    const long long value = ReadLeadingInteger(text);
    if (value == 0) return fail();
    if (value < 0 || DecimalDigits(value) != text.size()) return fail();
    if (value > kMaxNumber) return fail();
    if (!platform::IsAllHalfWidth(text)) return fail();
    TraceEnd(m_pApp, QStringLiteral("CheckNumber"));
    return 1;
}

int CPolicy::SetAndValidNetworkName(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("SetAndValidNetworkName"));
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        SetError(MakeError(strid::kFieldRequired));
        return 0;
    }
    if (trimmed.size() > 128) {
        SetError(MakeError(strid::kFieldTooLong));
        return 0;
    }
    if (HasControlCharacter(trimmed)) {
        SetError(MakeError(strid::kFieldControlCharacter));
        return 0;
    }
    m_csNetworkName = trimmed;
    TraceEnd(m_pApp, QStringLiteral("SetAndValidNetworkName"));
    return 1;
}

namespace {
// Label and priority share one rule; only the member they set differs.
int ValidDecimalField(CPolicy& row, const QString& text, QString& member) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        row.SetError(MakeError(strid::kFieldRequired));
        return 0;
    }
    if (trimmed.size() > 10) {
        row.SetError(MakeError(strid::kFieldTooLong));
        return 0;
    }
    if (HasControlCharacter(trimmed)) {
        row.SetError(MakeError(strid::kFieldControlCharacter));
        return 0;
    }
    if (trimmed != QStringLiteral("0") && !row.CheckNumber(trimmed)) return 0;
    member = trimmed;
    return 1;
}
}  // namespace

int CPolicy::SetAndValidLabel(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("SetAndValidLabel"));
    if (!ValidDecimalField(*this, text, m_csLabel)) return 0;
    TraceEnd(m_pApp, QStringLiteral("SetAndValidLabel"));
    return 1;
}

int CPolicy::SetAndValidPriority(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("SetAndValidPriority"));
    if (!ValidDecimalField(*this, text, m_csPriority)) return 0;
    TraceEnd(m_pApp, QStringLiteral("SetAndValidPriority"));
    return 1;
}

int CPolicy::SetAndValidAddress(const QString& text) {
    TraceStart(m_pApp, QStringLiteral("SetAndValidAddress"));
    auto fail = [this] {
        SetError(MakeError(strid::kFieldNotPrefix));
        return 0;
    };
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        SetError(MakeError(strid::kFieldRequired));
        return 0;
    }
    if (HasControlCharacter(trimmed)) {
        SetError(MakeError(strid::kFieldControlCharacter));
        return 0;
    }
    const qsizetype slash = trimmed.indexOf(u'/');
    if (slash < 0 || slash != trimmed.lastIndexOf(u'/')) return fail();
    const QString lengthText = trimmed.mid(slash + 1);
    if (lengthText != QStringLiteral("0") && !CheckNumber(lengthText)) return fail();
    if (ReadLeadingInteger(lengthText) > 128) return fail();
    IPv6Bytes bytes{};
    if (!ParseIPv6(trimmed.left(slash), bytes)) return fail();
    SetAddress(trimmed);
    TraceEnd(m_pApp, QStringLiteral("SetAndValidAddress"));
    return 1;
}

int CPolicy::ValidateFields(int* fieldId) {
    TraceStart(m_pApp, QStringLiteral("ValidateFields"));
    auto fail = [&](int column) {
        if (fieldId) *fieldId = column;
        TraceValue(m_pApp, QStringLiteral("nInvalidField"), QString::number(column));
        return 0;
    };
    // The name is free text and is never part of a command; only what would split a line is
    // refused, so a name kept in an older file (empty, or longer than the editor allows)
    // still reads.
    if (HasControlCharacter(m_csNetworkName)) {
        SetError(MakeError(strid::kFieldControlCharacter));
        return fail(strid::kColumnNetworkName);
    }
    if (!SetAndValidLabel(m_csLabel)) return fail(strid::kColumnLabel);
    if (!SetAndValidPriority(m_csPriority)) return fail(strid::kColumnPriority);
    if (!SetAndValidAddress(m_csAddress)) return fail(strid::kColumnAddress);
    TraceEnd(m_pApp, QStringLiteral("ValidateFields"));
    return 1;
}

int CPolicy::GetPrefixLen() const {
    TraceStart(m_pApp, QStringLiteral("GetPrefixLen"));
    const qsizetype slash = m_csAddress.lastIndexOf(u'/');
    if (slash < 0) return -1;
    long long value = ReadLeadingInteger(m_csAddress.mid(slash + 1));
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    TraceEnd(m_pApp, QStringLiteral("GetPrefixLen"));
    return static_cast<int>(value);
}

int CPolicy::GetPrefix(IPv6Bytes& out) const {
    TraceStart(m_pApp, QStringLiteral("GetPrefix"));
    const qsizetype slash = m_csAddress.lastIndexOf(u'/');
    if (slash < 0) {
        TraceValue(m_pApp, QStringLiteral("iPos"), QStringLiteral("-1"));
        return 0;
    }
    if (!ParseIPv6(m_csAddress.left(slash), out)) {
        TraceValue(m_pApp, QStringLiteral("GetAddrInfoW"), QStringLiteral("!0"));
        return 0;
    }
    TraceEnd(m_pApp, QStringLiteral("GetPrefix"));
    return 1;
}

QString CPolicy::FixAddress(const QString& address) const {
    TraceStart(m_pApp, QStringLiteral("FixAddress"));
    TraceValue(m_pApp, QStringLiteral("csAddress"), address);
    // A "/length" after the last group is kept apart, so that the group before it is read as a
    // group: "…:0000:0000/96" ends in two zero groups, not in one and a "/96".
    const qsizetype slash = address.indexOf(u'/');
    const QString suffix = slash >= 0 ? address.mid(slash) : QString();
    const QString groups = slash >= 0 ? address.left(slash) : address;
    QString text;
    if (!groups.contains(u':')) {
        text.reserve(groups.size() + groups.size() / 4);
        for (qsizetype i = 0; i < groups.size(); ++i) {
            text += groups[i];
            if ((i + 1) % 4 == 0 && i + 1 < groups.size()) text += u':';
        }
    } else {
        text = groups;
    }
    QStringList fields = SplitString(text, QStringLiteral(":"));
    while (fields.size() < 8) fields << QStringLiteral("0");
    for (QString& field : fields) {
        qsizetype zeros = 0;
        while (zeros < field.size() && field[zeros] == u'0') ++zeros;
        field.remove(0, zeros);
        if (field.isEmpty()) field = QStringLiteral("0");
    }
    // Longest run of "0" fields; the first of equally long runs wins.
    qsizetype bestStart = -1, bestLength = 0;
    for (qsizetype i = 0; i < fields.size();) {
        if (fields[i] != QStringLiteral("0")) {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < fields.size() && fields[j] == QStringLiteral("0")) ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    QString result;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i == bestStart) {
            result += QStringLiteral("::");
        } else if (bestStart >= 0 && i > bestStart && i < bestStart + bestLength) {
            continue;
        } else {
            result += fields[i];
            if (i + 1 < fields.size()) result += u':';
        }
    }
    result.replace(QStringLiteral(":::"), QStringLiteral("::"));
    result += suffix;
    TraceValue(m_pApp, QStringLiteral("csRetAddress"), result);
    TraceEnd(m_pApp, QStringLiteral("FixAddress"));
    return result;
}

namespace {

// Stands in for an escaped comma ("\,") while a policy file line is split.
const QString kCommaPlaceholder = QStringLiteral("&canma;");

// Guards a field that ends in a backslash (see GetStringCsv).
constexpr char16_t kGuard = u'|';
const QString kGuardMark = QStringLiteral("|");

// Replaces every occurrence of `before` (a short, non-empty text) in one left-to-right pass:
// linear in the text, unlike repeated in-place replacement, so a huge line costs no more than
// its length. Occurrences are found by their first character, then compared in full.
QString ReplaceAll(const QString& text, QStringView before, QStringView after) {
    const QStringView all(text);
    const QChar first = before.front();
    const auto find = [&](qsizetype from) {
        for (qsizetype at = all.indexOf(first, from); at >= 0; at = all.indexOf(first, at + 1))
            if (all.sliced(at).startsWith(before)) return at;
        return qsizetype(-1);
    };
    const qsizetype firstFound = find(0);
    if (firstFound < 0) return text;  // shared, not copied
    qsizetype count = 0;
    for (qsizetype at = firstFound; at >= 0; at = find(at + before.size())) ++count;
    QString out;
    out.reserve(text.size() + count * (after.size() - before.size()));
    qsizetype from = 0;
    for (qsizetype at = firstFound; at >= 0; at = find(from)) {
        out.append(all.sliced(from, at - from));
        out.append(after);
        from = at + before.size();
    }
    out.append(all.sliced(from));
    return out;
}

}  // namespace

// Fields 3 to 6 are written with every "," as "\,". Two kinds of row would not read back from
// that ordinary form: a field 3, 4 or 5 ending in a backslash swallows the separator after it
// ("\," reads as an escaped comma), and an empty field 6 leaves a trailing "," that the split
// drops; either way the line no longer has six fields. Such a row is written in a guarded form
// instead: every field from 3 to 6 that ends in a backslash or in the guard "|" gets one "|"
// appended, and the line ends with a seventh field "|" that marks the form. Every other row is
// written exactly as before. No line of the ordinary form can have seven fields, so every file
// written before reads exactly as before.
QString CPolicy::GetStringCsv() const {
    TraceStart(m_pApp, QStringLiteral("GetStringCsv"));
    const QString* texts[4] = {&m_csNetworkName, &m_csLabel, &m_csPriority, &m_csAddress};
    bool guarded = m_csAddress.isEmpty();
    for (int i = 0; i < 3; ++i) guarded = guarded || texts[i]->endsWith(u'\\');
    QString line;
    line += m_bDisabled ? u'0' : u'1';
    line += u',';
    line += m_nSource == 2 ? u'0' : (m_nSource == 1 ? u'1' : u'2');
    for (const QString* text : texts) {
        line += u',';
        line += ReplaceAll(*text, u",", u"\\,");
        if (guarded && (text->endsWith(u'\\') || text->endsWith(kGuard))) line += kGuard;
    }
    if (guarded) {
        line += u',';
        line += kGuardMark;
    }
    TraceValue(m_pApp, QStringLiteral("csLine"), line);
    TraceEnd(m_pApp, QStringLiteral("GetStringCsv"));
    return line;
}

int CPolicy::SetStringCsv(const QString& line) {
    TraceStart(m_pApp, QStringLiteral("SetStringCsv"));
    if (line.isEmpty()) {
        TraceValue(m_pApp, QStringLiteral("csLine.IsEmpty"), QStringLiteral("TRUE"));
        return 0;
    }
    QStringList fields = SplitString(ReplaceAll(line, u"\\,", kCommaPlaceholder), QStringLiteral(","));
    // Seven fields ending in the mark: the guarded form (see GetStringCsv); each field 3 to 6
    // loses the one guard character it was given.
    const bool guarded = fields.size() == 7 && fields[6] == kGuardMark;
    if (fields.size() != 6 && !guarded) {
        TraceValue(m_pApp, QStringLiteral("csaPolicy.GetCount"), QStringLiteral("!6"));
        return 0;
    }
    if (guarded) {
        for (qsizetype i = 2; i < 6; ++i)
            if (fields[i].endsWith(kGuard)) fields[i].chop(1);
    }
    m_bDisabled = fields[0].compare(u"1", Qt::CaseInsensitive) != 0;
    if (fields[1] == u"0")
        m_nSource = 2;
    else if (fields[1] == u"1")
        m_nSource = 1;
    else
        m_nSource = 0;
    m_csNetworkName = ReplaceAll(fields[2], kCommaPlaceholder, u",");
    m_csLabel = fields[3];
    m_csPriority = fields[4];
    m_csAddress = fields[5];
    TraceEnd(m_pApp, QStringLiteral("SetStringCsv"));
    return 1;
}

void CPolicy::SetStringHttp(const QString& line) {
    TraceStart(m_pApp, QStringLiteral("SetStringHttp"));
    const QStringList fields = SplitString(line, QStringLiteral(","));
    if (fields.size() < 2) {
        TraceValue(m_pApp, QStringLiteral("GetCount()"), QStringLiteral("<= 1"));
        return;
    }
    m_bDisabled = true;
    m_nSource = 1;
    if (m_pApp) {
        m_csNetworkName = m_pApp->GetProfileString(settings::Http(), settings::NetworkName(),
                                                   QStringLiteral("Network(HTTP_DEFAULT)"));
        m_csLabel = m_pApp->GetProfileString(settings::Http(), settings::Label(),
                                             QStringLiteral("0"));
        m_csPriority = m_pApp->GetProfileString(settings::Http(), settings::Priority(),
                                                QStringLiteral("0"));
    } else {
        m_csNetworkName = QStringLiteral("Network(HTTP_DEFAULT)");
        m_csLabel = QStringLiteral("0");
        m_csPriority = QStringLiteral("0");
    }
    // White space, then carriage returns, then line feeds, each trimmed at both ends.
    QStringView address = QStringView(fields[1]).trimmed();
    for (const char16_t c : {u'\r', u'\n'}) {
        while (address.startsWith(c)) address = address.sliced(1);
        while (address.endsWith(c)) address.chop(1);
    }
    m_csAddress = address.toString();
    TraceEnd(m_pApp, QStringLiteral("SetStringHttp"));
}
