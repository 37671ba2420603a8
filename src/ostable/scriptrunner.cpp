// Registration commands through netsh scripts: CPolicyListManager::RunChanges runs the deletes
// and adds of a registration or a restore in scripts of at most BATCH commands, one netsh
// process each (`netsh -f FILE`), and reads each command's output as if it had run alone. A
// cancel takes effect between scripts: the commands of a script that has started all run.
#include <QDir>
#include <QTemporaryFile>

#include <algorithm>

#include "ostable/netshscript.h"
#include "ostable/oscommands.h"
#include "platform/process.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/appservices.h"
#include "services/settingskeys.h"

namespace {

// The commands of a script when BATCH is 1: a cancel waits for at most this many. A script of
// this many costs about what one command run alone costs (one process start dominates), so a
// cancel takes effect about as soon as it did; ::/1 on Vista (134 changes) is one script.
constexpr qsizetype kDefaultPiece = 256;

struct CRowCommand {
    QString line;
    bool isDelete = false;
    bool wordsOk = true;  // every word stays one word; else the command is never run ("NG")
};

QList<CRowCommand> RowCommands(const CPolicyList& rows, bool isDelete, ostable::EOsKind kind, const QString& prefix) {
    const QString commandTemplate = isDelete ? ostable::DeleteTemplate(kind) : ostable::AddTemplate(kind);
    QList<CRowCommand> commands;
    commands.reserve(rows.size());
    for (const CPolicy& row : rows) {
        const QStringList words = isDelete ? QStringList{row.m_csAddress}
                                           : QStringList{row.m_csAddress, row.m_csPriority, row.m_csLabel};
        commands.append({prefix + ostable::FillTemplate(commandTemplate, words.join(u' ')), isDelete,
                         std::all_of(words.begin(), words.end(), ostable::IsSingleWord)});
    }
    return commands;
}

}  // namespace

qsizetype CPolicyListManager::ScriptPieceLength() const {
    if (!m_pApp) return 0;
    bool ok = false;
    const qlonglong value = m_pApp->GetProfileString(settings::Application(), settings::Batch(), QStringLiteral("1"))
                                .trimmed()
                                .toLongLong(&ok);
    if (!ok || value == 1) return kDefaultPiece;
    return value <= 0 ? 0 : qsizetype(std::min<qlonglong>(value, 100000));
}

QStringList CPolicyListManager::RunScript(const QStringList& commandLines) {
    CAppLog& log = m_pApp->m_clLog;
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/corvane-netsh-XXXXXX.txt"));
    const QByteArray text = ostable::ScriptText(commandLines);
    if (!file.open() || file.write(text) != text.size() || !file.flush()) {
        log.TraceValue(QStringLiteral("QTemporaryFile::write"), QStringLiteral("FALSE"));
        return ostable::SplitScriptOutput(QStringLiteral("NG"), commandLines.size());
    }
    log.TraceValue(QStringLiteral("nScriptCommands"), QString::number(commandLines.size()));
    const QString program = platform::SplitCommandLine(m_csNetshPrefix).value(0);
    return ostable::SplitScriptOutput(ExecuteWords({program, QStringLiteral("-f"), file.fileName()}),
                                      commandLines.size());
}

int CPolicyListManager::RunChanges(const CPolicyList& deletes, const CPolicyList& adds, EOnFailure onFailure,
                                   bool* inDeletes) {
    const bool stop = onFailure == EOnFailure::StopAndShow;
    const qsizetype piece = ScriptPieceLength();
    if (piece == 0) {
        if (inDeletes) *inDeletes = true;
        const int failed = RunRowCommands(deletes, true, onFailure);
        if (stop && failed != 0) return failed;
        if (inDeletes) *inDeletes = false;
        const int more = RunRowCommands(adds, false, onFailure);
        return stop ? more : failed + more;
    }
    CAppLog& log = m_pApp->m_clLog;
    const ostable::EOsKind kind = ostable::ClassifyOs(ostable::ReadOsSetting(m_pApp));
    const QList<CRowCommand> commands = RowCommands(deletes, true, kind, m_csNetshPrefix) +
                                        RowCommands(adds, false, kind, m_csNetshPrefix);
    const QString notFound = m_pApp->LoadString(strid::kFileNotFound).trimmed();
    int failures = 0;
    for (qsizetype first = 0; first < commands.size();) {
        if (inDeletes) *inDeletes = first < deletes.size();
        if (stop && CancelRequested()) {
            log.TraceValue(QStringLiteral("bCancel"), QStringLiteral("TRUE"));
            return -1;
        }
        // A script ends before a command that cannot be written as words; that one is not run.
        qsizetype end = first;
        QStringList lines;
        while (end < commands.size() && end - first < piece && commands[end].wordsOk) lines << commands[end++].line;
        const QStringList outputs = lines.isEmpty() ? QStringList{QStringLiteral("NG")} : RunScript(lines);
        end = std::max(end, first + 1);
        for (qsizetype i = first; i < end; ++i) {
            const CRowCommand& c = commands[i];
            if (m_command) m_command(c.line);
            if (ReportCommand(c.line, c.isDelete, outputs[i - first], onFailure, c.isDelete ? notFound : QString()) == 0)
                continue;
            ++failures;
            if (!stop) continue;
            if (inDeletes) *inDeletes = i < deletes.size();
            // The script's later commands ran too; the restore reads the table as they left it.
            log.TraceValue(QStringLiteral("nScriptCommandsAfterFailure"), QString::number(end - i - 1));
            return failures;
        }
        first = end;
    }
    return failures;
}
