// Registration as one planned step: CPolicyListManager::RegisterPolicy, PlanPolicy and
// RestorePolicy. The editor and apply mode both install a table through RegisterPolicy.
#include <QHash>

#include <algorithm>
#include <functional>

#include "services/appservices.h"
#include "ostable/journal.h"
#include "ostable/oscommands.h"
#include "platform/cancelevent.h"
#include "policy/policylistmanager.h"
#include "resids.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListManager");

// One prefix the plan would add: the row, the prefix it came from and whether it was divided.
struct CCandidate {
    CPolicy row;
    QByteArray key;  // address bytes and length: the system keys its entries by these
    int originalLength = 0;
    bool divided = false;
};

// With `masked` (Linux: glibc and the kernel clear the host bits) "2001:db8::1/32" and
// "2001:db8::/32" are one prefix.
QByteArray PrefixKey(IPv6Bytes address, int length, bool masked = false) {
    for (int bit = masked ? std::max(length, 0) : 128; bit < 128; ++bit)
        address[std::size_t(bit / 8)] &= std::uint8_t(~(0x80u >> (bit % 8)));
    QByteArray key(reinterpret_cast<const char*>(address.data()), qsizetype(address.size()));
    key.append(char(length));
    return key;
}

// A row's own prefix beats one produced by dividing a shorter row; of two divided ones, the
// one from the longer original prefix wins, and of equal ones the earlier (`held`).
bool Beats(const CCandidate& challenger, const CCandidate& held) {
    if (challenger.divided != held.divided) return !challenger.divided;
    return challenger.originalLength > held.originalLength;
}

// The winner of each prefix, then the winners in the order the rows gave them; the others are
// traced as overlapped.
void KeepWinners(CAppLog& log, const QList<CCandidate>& candidates, CPolicyList& plan) {
    QHash<QByteArray, qsizetype> winner;
    winner.reserve(candidates.size());
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        auto it = winner.find(candidates[i].key);
        if (it == winner.end())
            winner.insert(candidates[i].key, i);
        else if (Beats(candidates[i], candidates[*it]))
            *it = i;
    }
    plan.reserve(winner.size());
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        if (winner.value(candidates[i].key) == i)
            plan.append(candidates[i].row);
        else
            log.TraceValue(QStringLiteral("csOverlapped"), candidates[i].row.m_csAddress);
    }
}

// The command whose effect is missing from the table read back: the first planned row that is
// absent or has other values, else the first row that should not be there; empty when the table
// is the plan. Prefixes compare as the system keys them (host bits cleared on Linux), values as
// numbers, so the forms the system prints do not count. On Linux glibc adds "::/0" (40, 1) to a
// table without it, and an empty plan leaves glibc's built-in table, which is not ours to check.
QString ReadBackDifference(const CPolicyList& plan, const CPolicyList& read, ostable::EOsKind kind,
                           const QString& netshPrefix) {
    const bool linux = kind == ostable::EOsKind::Linux;
    if (linux && plan.isEmpty()) return QString();
    const auto key = [linux](const CPolicy& row) {
        IPv6Bytes address{};
        row.GetPrefix(address);
        return PrefixKey(address, row.GetPrefixLen(), linux);
    };
    const auto values = [](const CPolicy& row) {
        return std::make_pair(row.m_csPriority.trimmed().toULongLong(), row.m_csLabel.trimmed().toULongLong());
    };
    QHash<QByteArray, std::pair<qulonglong, qulonglong>> listed;
    for (const CPolicy& row : read) listed.insert(key(row), values(row));
    QHash<QByteArray, int> planned;
    for (const CPolicy& row : plan) {
        planned.insert(key(row), 0);
        const auto found = listed.constFind(key(row));
        if (found == listed.constEnd() || *found != values(row))
            return netshPrefix + ostable::FillTemplate(ostable::AddTemplate(kind), row.m_csAddress + u' ' + row.m_csPriority + u' ' + row.m_csLabel);
    }
    for (const CPolicy& row : read) {
        const bool impliedDefault = linux && row.GetPrefixLen() == 0 && values(row) == std::make_pair(40ull, 1ull);
        if (!planned.contains(key(row)) && !impliedDefault)
            return netshPrefix + ostable::FillTemplate(ostable::DeleteTemplate(kind), row.m_csAddress);
    }
    return QString();
}

// Reads the table back after a registration's last command; false, with message 501 naming the
// command whose effect is missing (the listing command when the table cannot be read), when it
// is not the plan.
bool ReadBackIsPlan(CAppLog& log, const CPolicyList& plan, ostable::EOsKind kind, const QString& netshPrefix,
                    const std::function<bool(CPolicyList&)>& readCurrent) {
    CPolicyList read;
    const QString differs = readCurrent(read) ? ReadBackDifference(plan, read, kind, netshPrefix)
                                              : netshPrefix + ostable::ShowSubcommand(kind);
    if (differs.isEmpty()) return true;
    log.ShowMessageFormat({differs}, strid::kCommandFailed, LOG_ERROR);
    return false;
}

}  // namespace

int CPolicyListManager::PlanPolicy(const CPolicyList& rows, CPolicyList& plan) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("PlanPolicy"));
    plan.clear();

    const ostable::EOsKind kind = ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp));
    const bool divide = kind == ostable::EOsKind::WindowsVista || kind == ostable::EOsKind::Windows7;

    QList<CCandidate> candidates;
    candidates.reserve(rows.size());
    QHash<QByteArray, qsizetype> typed;
    typed.reserve(rows.size());
    for (const CPolicy& original : rows) {
        CPolicy row(original);
        int field = 0;
        bool valid = false;
        IPv6Bytes address{};
        int length = 0;
        {
            const CAppLog::CQuietTrace quiet;  // only a refused row gets lines
            valid = row.ValidateFields(&field) != 0;
            if (valid) {
                row.GetPrefix(address);
                length = row.GetPrefixLen();
            }
        }
        if (!valid) {
            log.TraceValue(QStringLiteral("csAddress"), original.m_csAddress);
            log.ShowMessageFormat({m_pApp->LoadString(field)}, row.m_stError.nId, row.m_stError.nKind);
            return 0;
        }
        const QByteArray key = PrefixKey(address, length, kind == ostable::EOsKind::Linux);
        if (typed.contains(key)) {
            log.ShowMessageFormat({row.m_csAddress}, strid::kPrefixDuplicate, LOG_ERROR);
            return 0;
        }
        typed.insert(key, candidates.size());

        if (!divide || length % 8 == 0) {
            candidates.append({row, key, length, false});
            continue;
        }
        CPolicyList parts;
        ostable::DivideRow(log, row, parts);
        const CAppLog::CQuietTrace quiet;
        for (const CPolicy& part : parts) {
            IPv6Bytes partAddress{};
            part.GetPrefix(partAddress);
            candidates.append({part, PrefixKey(partAddress, part.GetPrefixLen()), length, true});
        }
    }

    KeepWinners(log, candidates, plan);
    log.TraceEnd(kClass, QStringLiteral("PlanPolicy"));
    return 1;
}

bool CPolicyListManager::CancelRequested() const { return m_pCancel && m_pCancel->IsSet(); }

int CPolicyListManager::RegisterPolicy(const CPolicyList& rows, ERestore* restore) {
    if (restore) *restore = ERestore::NotNeeded;
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("RegisterPolicy"));

    CPolicyList clPolicy;
    for (const CPolicy& row : rows)
        if (!row.m_bDisabled) clPolicy.append(row);
    CPolicyList clPlan;
    if (!PlanPolicy(clPolicy, clPlan)) {
        log.TraceValue(QStringLiteral("PlanPolicy"), QStringLiteral("FALSE"));
        return 0;
    }
    // The table as it is, to be put back if anything fails.
    CPolicyList clSaved;
    if (!GetCurrent(clSaved)) {
        log.TraceValue(QStringLiteral("GetCurrent(&clSaved)"), QStringLiteral("FALSE"));
        return 0;
    }
    // On disk before the first change, for what no handler catches; kept while not put back.
    ostable::CRegistrationJournal journal(*m_pApp);
    if (!journal.Begin(clSaved, clPlan)) return 0;
    m_nProgressDone = 0;
    m_nProgressTotal = clSaved.size() + clPlan.size();
    bool inDeletes = true;
    int failed = RunChanges(clSaved, clPlan, EOnFailure::StopAndShow, &inDeletes);
    if (failed > 0)
        log.TraceValue(inDeletes ? QStringLiteral("RemoveAllPolicy") : QStringLiteral("AddPolicy"), QStringLiteral("FALSE"));
    // The table read back must be the plan: a command that said OK but did not take effect fails
    // the registration here (501) and the table is put back.
    if (failed == 0 && !CancelRequested() &&
        !ReadBackIsPlan(log, clPlan, ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp)), m_csNetshPrefix,
                        [this](CPolicyList& read) { return ReadCurrent(read, false) == 1; }))
        failed = 1;
    // A cancel that came during the last command still takes the table back.
    if (failed == 0 && CancelRequested()) {
        log.TraceValue(QStringLiteral("bCancel"), QStringLiteral("TRUE"));
        failed = -1;
    }
    const bool changed = m_nProgressDone > 0;
    m_nProgressTotal = 0;
    if (failed == 0) {
        journal.End();
        log.TraceEnd(kClass, QStringLiteral("RegisterPolicy"));
        return 1;
    }
    // A cancel before the first change command leaves nothing to put back.
    const bool needed = failed > 0 || changed;
    const bool restored = !needed || RestorePolicy(clSaved) == 1;
    if (restored) journal.End();
    if (restore)
        *restore = !needed ? ERestore::NotNeeded
                           : restored ? ERestore::Restored : ERestore::NotRestored;
    log.ShowMessageId(restored ? strid::kTableRestored : strid::kTableNotRestored, restored ? LOG_INFO : LOG_ERROR);
    return 0;
}

// The table is read again rather than undoing step by step: whatever the failed registration
// left (its adds, the entries it had not deleted yet, a half-done command), deleting what is
// listed now and adding the saved rows in their order gives the saved table.
int CPolicyListManager::RestorePolicy(const CPolicyList& saved) {
    if (!m_pApp) return 0;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("RestorePolicy"));
    CPolicyList clCurrent;
    if (!ReadCurrent(clCurrent, false)) {
        log.TraceValue(QStringLiteral("GetCurrent(&clCurrent)"), QStringLiteral("FALSE"));
        return 0;
    }
    const int failures = RunChanges(clCurrent, saved, EOnFailure::LogAndContinue, nullptr);
    log.TraceValue(QStringLiteral("nFailures"), QString::number(failures));
    if (failures != 0) return 0;
    log.TraceEnd(kClass, QStringLiteral("RestorePolicy"));
    return 1;
}
