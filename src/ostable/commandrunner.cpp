// CPolicyListManager::ExecuteCommand: runs one console command and returns what it printed.
#include "services/appservices.h"
#include "platform/codepage.h"
#include "platform/process.h"
#include "platform/selfpath.h"
#include "policy/policylistmanager.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListManager");
const QString kFailed = QStringLiteral("NG");

// The trace name and value a failed step is reported under.
QPair<QString, QString> StepTrace(platform::ERunFailure failure) {
    using platform::ERunFailure;
    switch (failure) {
        case ERunFailure::Pipe: return {QStringLiteral("CreatePipe"), QStringLiteral("FALSE")};
        case ERunFailure::NullInput: return {QStringLiteral("GetStdHandle"), QStringLiteral("FALSE")};
        case ERunFailure::Read: return {QStringLiteral("GetLastError"), QStringLiteral("!ERROR_BROKEN_PIPE")};
        case ERunFailure::Close: return {QStringLiteral("CloseHandle(hOutputRead)"), QStringLiteral("FALSE")};
        case ERunFailure::Spawn:
        case ERunFailure::None: break;
    }
    return {QStringLiteral("CreateProcess"), QStringLiteral("FALSE")};
}

}  // namespace

// The command line is split into words (blanks separate, double quotes group) and the first
// word names the program, looked up in the program's folder and then on PATH; no shell sees
// the line, so text taken from files or the network can only ever become arguments. Both
// output streams share one pipe; the whole output is converted from CP932 once at the end,
// so a double-byte character split across two reads is still decoded correctly.
QString CPolicyListManager::ExecuteCommand(const QString& commandLine) {
    return ExecuteWords(platform::SplitCommandLine(commandLine));
}

QString CPolicyListManager::ExecuteWords(const QStringList& words) {
    if (!m_pApp) return kFailed;
    CAppLog& log = m_pApp->m_clLog;
    log.TraceStart(kClass, QStringLiteral("ExecuteCommand"));

    if (words.isEmpty()) {
        log.TraceValue(QStringLiteral("CreateProcess"), QStringLiteral("FALSE"));
        return kFailed;
    }
    const QString programDir = m_pApp->m_szAppDir.isEmpty() ? platform::ProgramDirectory() : m_pApp->m_szAppDir;
    const QString program = platform::FindProgram(words.first(), programDir);
    if (program.isEmpty()) {
        log.TraceValue(QStringLiteral("FindProgram(") + words.first() + u')', QStringLiteral("FALSE"));
        log.TraceValue(QStringLiteral("CreateProcess"), QStringLiteral("FALSE"));
        return kFailed;
    }

    const platform::CRunResult run = platform::RunCaptured(program, words);
    if (run.failure != platform::ERunFailure::None) {
        log.TraceValue(run.failedCall, QString::number(run.error));
        const auto [name, value] = StepTrace(run.failure);
        log.TraceValue(name, value);
        return kFailed;
    }

    const QString output = platform::FromCp932(run.output);
    log.TraceEnd(kClass, QStringLiteral("ExecuteCommand"));
    return output;
}
