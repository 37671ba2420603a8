// Fuzzes the policy file line reader. Every input is read as a line (UTF-8 and raw UTF-16)
// and checked against the plain reading rule; every row read must survive a write and a read;
// and rows built from the input must come back from their own line.
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "policy/policy.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "policy csv fuzz: %s\n", what);
    std::abort();
}

CPolicy Sentinel() {
    CPolicy row;
    row.m_pApp = nullptr;
    row.m_bDisabled = false;
    row.m_nSource = 77;  // no line gives this origin
    row.m_csNetworkName = QStringLiteral("n?");
    row.m_csLabel = QStringLiteral("l?");
    row.m_csPriority = QStringLiteral("p?");
    row.m_csAddress = QStringLiteral("a?");
    return row;
}

bool Same(const CPolicy& a, const CPolicy& b) {
    return a.m_bDisabled == b.m_bDisabled && a.m_nSource == b.m_nSource &&
           a.m_csNetworkName == b.m_csNetworkName && a.m_csLabel == b.m_csLabel &&
           a.m_csPriority == b.m_csPriority && a.m_csAddress == b.m_csAddress;
}

// The reading rule written the plain way: replace, split, count six, turn the name back.
bool PlainRead(const QString& line, CPolicy& row) {
    if (line.isEmpty()) return false;
    QString work = line;
    work.replace(QStringLiteral("\\,"), QStringLiteral("&canma;"));
    const QStringList f = SplitString(work, QStringLiteral(","));
    if (f.size() != 6) return false;
    row.m_bDisabled = f[0].compare(u"1", Qt::CaseInsensitive) != 0;
    row.m_nSource = f[1] == u"0" ? 2 : (f[1] == u"1" ? 1 : 0);
    row.m_csNetworkName = QString(f[2]).replace(QStringLiteral("&canma;"), QStringLiteral(","));
    row.m_csLabel = f[3];
    row.m_csPriority = f[4];
    row.m_csAddress = f[5];
    return true;
}

void CheckLine(const QString& line) {
    CPolicy row = Sentinel();
    row.SetStringCsv(line);
    const bool accepted = row.m_nSource != 77;
    if (!accepted && !Same(row, Sentinel())) Fail("a rejected line changed the row");

    // Every line the plain rule accepts reads exactly as the plain rule says.
    CPolicy plain = Sentinel();
    if (PlainRead(line, plain)) {
        if (!accepted || !Same(row, plain)) Fail("a six-field line read differently from the plain rule");
    } else if (accepted) {
        const QStringList f =
            SplitString(QString(line).replace(QStringLiteral("\\,"), QStringLiteral("&canma;")), QStringLiteral(","));
        if (f.size() != 7 || f[6] != u"|") Fail("a line the plain rule rejects was accepted without the guard mark");
    }

    // A row that was read survives its own line.
    if (accepted) {
        CPolicy again = Sentinel();
        again.SetStringCsv(row.GetStringCsv());
        if (!Same(again, row)) Fail("a row read from a line did not survive a write and a read");
    }
}

// Builds a row from four pieces of the text and checks it against its own line.
void CheckWrite(const QString& text) {
    const QStringList pieces = text.split(QChar(0x1F));
    CPolicy row;
    row.m_pApp = nullptr;
    row.m_bDisabled = text.size() % 2 == 0;
    row.m_nSource = int(text.size() % 4);
    row.m_csNetworkName = pieces.value(0);
    row.m_csLabel = pieces.value(1);
    row.m_csPriority = pieces.value(2);
    row.m_csAddress = pieces.value(3);
    const QString line = row.GetStringCsv();
    CPolicy back = Sentinel();
    back.SetStringCsv(line);
    // The two things the format does not keep: a literal placeholder in the name reads as a
    // comma, and a comma in fields 4 to 6 reads as the placeholder.
    CPolicy expected = row;
    expected.m_nSource = row.m_nSource == 3 ? 0 : row.m_nSource;
    expected.m_csNetworkName.replace(QStringLiteral("&canma;"), QStringLiteral(","));
    expected.m_csLabel.replace(u',', QStringLiteral("&canma;"));
    expected.m_csPriority.replace(u',', QStringLiteral("&canma;"));
    expected.m_csAddress.replace(u',', QStringLiteral("&canma;"));
    if (!Same(back, expected)) Fail("a row did not come back from its own line");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString utf8 = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    CheckLine(utf8);
    CheckWrite(utf8);
    const QString utf16 = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), qsizetype(size / 2));
    CheckLine(utf16);
    return 0;
}
