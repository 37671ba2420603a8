#include "services/applog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

#include "services/resourceset.h"
#include "platform/codepage.h"
#include "resids.h"

namespace {

const char* LevelWord(int level) {
    switch (level) {
        case LOG_DEBUG:
        case LOG_CONFIRM: return "DEBUG";
        case LOG_INFO: return "INFO";
        case LOG_WARN: return "WARN";
        case LOG_ERROR: return "ERROR";
        default: return "FATAL";
    }
}

// Set on the threads whose boxes the application's thread shows.
thread_local bool t_bBoxesToApplicationThread = false;

// How many CQuietTrace live on this thread.
thread_local int t_nQuietTrace = 0;

// "yyyyMMdd-HHmmss" of the local time now, in CP932. The text is made again only when the
// second changes: making it costs more than writing the line.
QByteArray LocalStamp() {
    thread_local qint64 s_second = -1;
    thread_local QByteArray s_stamp;
    const qint64 second = QDateTime::currentSecsSinceEpoch();
    if (second != s_second) {
        s_stamp = platform::ToCp932(QDateTime::fromSecsSinceEpoch(second).toString(
            QStringLiteral("yyyyMMdd-HHmmss")));
        s_second = second;
    }
    return s_stamp;
}

}  // namespace

void CAppLog::HandBoxesToApplicationThread(bool on) { t_bBoxesToApplicationThread = on; }

void DebugOutput(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
}

void CAppLog::SetLogLevel(const QString& word) {
    static const struct {
        const char16_t* word;
        int level;
    } kWords[] = {{u"DEBUG", LOG_DEBUG}, {u"INFO", LOG_INFO}, {u"WARN", LOG_WARN},
                  {u"ERROR", LOG_ERROR}, {u"FATAL", LOG_FATAL}};
    for (const auto& w : kWords) {
        if (word.compare(QStringView(w.word), Qt::CaseInsensitive) == 0) {
            m_nLogLevel = w.level;
            return;
        }
    }
}

int CAppLog::AppendLog(int level, const QString& text) {
    if (m_nLogLevel > level) return 1;
    if (level > LOG_FATAL) {
        DebugOutput(QStringLiteral("AppendLogのログレベルが不正です"));
        return 0;
    }
    // One pass: commas become "\," and line feeds the two characters "\n".
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (c == u',') {
            escaped += QStringLiteral("\\,");
        } else if (c == u'\n') {
            escaped += QStringLiteral("\\n");
        } else {
            escaped += c;
        }
    }
    const QByteArray message = platform::ToCp932(escaped);
    QByteArray line;
    line.reserve(24 + message.size());
    line += LocalStamp();
    line += ',';
    line += LevelWord(level);
    line += ',';
    line += message;
    line += "\r\n";
    // One write per line on a descriptor opened for appending: lines of two processes sharing
    // the log never interleave. A read-only log (or folder, when the log is missing) refuses.
    if (!m_clFile.Append(m_sLogPath, line)) {
        ReportUnwritableLog();
        return 0;
    }
    return 1;
}

void CAppLog::ReportUnwritableLog() {
    // Once per run: a user who may not write the system's log (an installation's, run without
    // rights) is told once, and the run goes on unlogged. While start-up is still choosing the
    // language the notice waits for it.
    m_bLogFailed = true;
    if (m_bHoldFailureNotice || m_bLogFailureReported.exchange(true)) return;
    // The file the log really is: an installation links it to the system's log folder.
    const QFileInfo info(m_sLogPath);
    const QString path = info.isSymLink() ? info.symLinkTarget() : m_sLogPath;
    QString text = FormatMessage(LoadString(strid::kLogNotWritable), {path});
    if (text.isEmpty()) text = QStringLiteral("ログファイルが開けませんでした。");
    DebugOutput(text);
}

void CAppLog::HoldFailureNotice(bool hold) {
    m_bHoldFailureNotice = hold;
    if (!hold && m_bLogFailed) ReportUnwritableLog();
}

QString CAppLog::LoadString(int id) const {
    return m_pResources ? m_pResources->String(id) : QString();
}

QString CAppLog::FormatMessage(const QString& text, const QStringList& inserts) {
    if (inserts.isEmpty() || inserts.size() > 4) return text;
    // One pass, so that an insert holding "%2" is never expanded again.
    QString out;
    out.reserve(text.size() + 32);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'%' && i + 1 < text.size()) {
            const QChar d = text[i + 1];
            if (d >= u'1' && d <= u'4') {
                const int index = d.unicode() - u'1';
                if (index < inserts.size()) {
                    out += inserts[index];
                    ++i;
                    continue;
                }
                // An insert the list does not have: the marker stays as written.
            }
            if (d == u'%') {
                out += u'%';
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

int CAppLog::LogString(int id) { return AppendLog(LOG_DEBUG, LoadString(id)); }

int CAppLog::LogFormat(const QStringList& inserts, int id, int level) {
    if (m_nLogLevel > level) return 1;  // filtered out: no need to load and format the text
    return AppendLog(level, FormatMessage(LoadString(id), inserts));
}

CAppLog::CQuietTrace::CQuietTrace() { ++t_nQuietTrace; }
CAppLog::CQuietTrace::~CQuietTrace() { --t_nQuietTrace; }

int CAppLog::TraceStart(const QString& className, const QString& methodName) {
    if (t_nQuietTrace > 0) return 1;
    return LogFormat({className, methodName}, strid::kTraceStart, LOG_DEBUG);
}

int CAppLog::TraceEnd(const QString& className, const QString& methodName) {
    if (t_nQuietTrace > 0) return 1;
    return LogFormat({className, methodName}, strid::kTraceEnd, LOG_DEBUG);
}

int CAppLog::TraceValue(const QString& name, const QString& value) {
    if (t_nQuietTrace > 0) return 1;
    return LogFormat({name, value}, strid::kTraceValue, LOG_DEBUG);
}

int CAppLog::ShowMessage(const QString& text, int kind) { return Show(text, kind, 0); }

int CAppLog::Show(const QString& text, int kind, int id) {
    // A box asked for by a worker thread is shown by the application's thread, which keeps its
    // event loop running while the worker runs; the worker waits for the answer.
    QCoreApplication* app = QCoreApplication::instance();
    if (t_bBoxesToApplicationThread && app && QThread::currentThread() != app->thread()) {
        int answer = IDOK;
        QMetaObject::invokeMethod(app, [&] { answer = Show(text, kind, id); },
                                  Qt::BlockingQueuedConnection);
        return answer;
    }
    CMessageBoxRequest request;
    request.text = text;
    request.kind = kind;
    request.id = id;
    request.caption = LoadString(strid::kProductName);
    request.yesText = LoadString(strid::kButtonYes);
    request.noText = LoadString(strid::kButtonNo);
    request.cancelText = LoadString(strid::kButtonCancel);
    request.owner = m_hOwnerWnd.data();
    int answer = kind == LOG_CONFIRM ? IDNO : IDOK;
    if (m_pPresenter) {
        answer = m_pPresenter->Present(request);
    } else {
        DebugOutput(request.caption + QStringLiteral(": ") + text);
    }
    AppendLog(kind, text);
    return answer;
}

int CAppLog::ShowMessageId(int id, int kind) { return Show(LoadString(id), kind, id); }

int CAppLog::ShowMessageFormat(const QStringList& inserts, int id, int kind) {
    return Show(FormatMessage(LoadString(id), inserts), kind, id);
}
