#pragma once
// The registration journal (state/registration.journal): the system's table as it was and the
// rows planned, written before the first change command of a registration and removed when
// it has ended, done or put back. A journal found at start-up means a registration was cut
// off by something no handler catches (a crash, kill -9, a power cut): the table it saved is
// put back before anything else can change the table. A damaged journal is never acted on.
#include <QByteArray>
#include <QString>

#include "policy/policy.h"

class CAppServices;
class CPolicyListManager;

namespace ostable {

// The file's bytes: a header line, "saved N" and N rows, "planned M" and M rows, then "end" and
// the SHA-256 of all that came before; each row "precedence label prefix"; CP932 with CR LF.
QByteArray JournalBytes(const CPolicyList& saved, const CPolicyList& planned);

// Reads journal bytes into `saved` and `planned`. False, both left empty, for anything but a
// whole journal: another header, a count that does not match, a row the system's listing
// would not give, a missing end line, bytes after it, or a checksum that does not match.
bool ParseJournal(const QByteArray& bytes, CAppServices* app, CPolicyList& saved,
                  CPolicyList& planned);

// One registration's journal.
class CRegistrationJournal {
public:
    explicit CRegistrationJournal(CAppServices& app) : m_app(app) {}

    // Writes the journal durably, making its folder when missing. On failure shows message 528:
    // the registration must then change nothing.
    bool Begin(const CPolicyList& saved, const CPolicyList& planned);
    // Removes the journal: the registration was done, or its table was put back.
    void End();

private:
    CAppServices& m_app;
};

// What start-up found.
enum class ERecovery { None, Restored, NotRestored, Damaged };

// At start-up: a journal left behind has its saved table put back through the manager's
// restore, with message 525 and the journal removed, or message 526 and the journal kept for
// the next start. A damaged one is renamed aside ("registration.journal.damaged-<time>") and
// reported with message 527; nothing is changed then.
ERecovery RecoverInterruptedRegistration(CPolicyListManager& manager);

}  // namespace ostable
