// Fuzzes the policy table file reader with whole files: every non-empty line is either a row that
// passes the editor's rules or a rejected line with its number, whatever the bytes; and the rows
// read are the same after a write and a read.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/codepage.h"
#include "policy/policylistmanager.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "policy file fuzz: %s\n", what);
    std::abort();
}

// A folder of its own under TMPDIR (a tmpfs such as /dev/shm keeps the runs fast), removed at exit.
QString WorkDir() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/corvane-policy-fuzz-XXXXXX"));
    if (!dir.isValid()) Fail("no temporary folder");
    return dir.path() + u'/';
}

bool Same(const CPolicy& a, const CPolicy& b) {
    return a.m_bDisabled == b.m_bDisabled && a.m_nSource == b.m_nSource &&
           a.m_csNetworkName == b.m_csNetworkName && a.m_csLabel == b.m_csLabel &&
           a.m_csPriority == b.m_csPriority && a.m_csAddress == b.m_csAddress;
}

bool Substituted(const CPolicy& row) {
    for (const QString* t : {&row.m_csNetworkName, &row.m_csLabel, &row.m_csPriority, &row.m_csAddress})
        if (t->contains(QChar::ReplacementCharacter)) return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString in = WorkDir() + QStringLiteral("in.conf");
    const QString out = WorkDir() + QStringLiteral("out.conf");
    {
        QFile f(in);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) Fail("setup");
    }
    CPolicyListManager manager;
    manager.m_pApp = nullptr;
    CPolicyList rows;
    QList<qsizetype> rejected;
    if (manager.GetPolicyFile(rows, in, &rejected) != 1) Fail("a readable file was not read");

    // Lines end in LF (a CR before it is dropped), and a last line without one counts; every
    // non-empty line is a row or a rejected line, and the rejected numbers rise.
    const QString text = platform::FromCp932(bytes);
    QStringList lines = text.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    qsizetype nonEmpty = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const bool ended = i + 1 < lines.size() || text.endsWith(u'\n');  // a CR before an LF is no text
        nonEmpty += (lines[i].isEmpty() || (ended && lines[i] == u"\r")) ? 0 : 1;
    }
    if (rows.size() + rejected.size() != nonEmpty) Fail("rows and rejected lines do not add up to the lines");
    for (qsizetype i = 0; i < rejected.size(); ++i) {
        if (rejected[i] < 1 || rejected[i] > lines.size()) Fail("a rejected line number is out of range");
        if (i > 0 && rejected[i] <= rejected[i - 1]) Fail("rejected line numbers do not rise");
    }
    for (CPolicy& row : rows) {
        CPolicy check(row);
        if (!check.ValidateFields() || !Same(check, row)) Fail("a row read does not pass the editor's rules as read");
    }

    bool substituted = false;
    for (const CPolicy& row : rows) substituted = substituted || Substituted(row);
    if (substituted) return 0;  // "?" replaces what CP932 cannot hold; no round trip to expect

    for (CPolicy& row : rows) row.m_pApp = nullptr;
    if (manager.WritePolicyFile(rows, out) != 1) Fail("write failed");
    CPolicyList back;
    if (manager.GetPolicyFile(back, out) != 1) Fail("written file not read");
    if (back.size() != rows.size()) Fail("row count changed by a write and a read");
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (!Same(back[i], rows[i])) Fail("a row changed by a write and a read");
    return 0;
}
