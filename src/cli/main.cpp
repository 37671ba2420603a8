// corvane: the command-line companion of zarntool. It starts up like the window program (same
// program directory, settings file, language library, log, single-instance guard and policy
// table file) and installs tables through the same registration. Message boxes become lines
// on standard error.
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <memory>

#include "app/zarntoolapp.h"
#include "policy/policylistmanager.h"

namespace {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotRestored = 3;  // the previous table could not be put back

void Write(std::FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString Compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

struct COptions {
    QString command;
    QStringList args;  // the command's own words
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool acceptTerms = false;
    QString bad;  // the first word not understood; empty when all were
};

COptions Parse(const QStringList& words) {
    COptions o;
    for (const QString& w : words) {
        if (w == u"--json")
            o.json = true;
        else if (w == u"--quiet" || w == u"-q")
            o.quiet = true;
        else if (w == u"--help" || w == u"-h")
            o.help = true;
        else if (w == u"--version")
            o.version = true;
        else if (w == u"--accept-terms")
            o.acceptTerms = true;
        else if (w.startsWith(u'-') && w.size() > 1) {
            if (o.bad.isEmpty()) o.bad = w;
        } else if (o.command.isEmpty())
            o.command = w;
        else
            o.args << w;
    }
    if (!o.bad.isEmpty() || o.help || o.version) return o;
    // Words each command takes at most, and whether the terms option belongs to it.
    const bool installs = o.command == u"apply" || o.command == u"default";
    qsizetype maxArgs = -1;
    if (o.command == u"show" || o.command == u"default")
        maxArgs = 0;
    else if (o.command == u"check" || o.command == u"apply")
        maxArgs = 1;
    if (maxArgs < 0)
        o.bad = o.command;
    else if (o.args.size() > maxArgs)
        o.bad = o.args[maxArgs];
    else if (o.acceptTerms && !installs)
        o.bad = QStringLiteral("--accept-terms");
    return o;
}

// Boxes as lines on standard error: the text, or with --json an object with the message number
// and text. --quiet keeps only warnings and errors. Questions are answered No, the safe answer.
class CStderrPresenter : public IMessagePresenter {
public:
    explicit CStderrPresenter(const COptions& options) : m_options(options) {}
    int Present(const CMessageBoxRequest& request) override {
        const int answer = request.kind == LOG_CONFIRM ? IDNO : IDOK;
        const bool problem = request.kind >= LOG_WARN;
        if (m_options.quiet && !problem) return answer;
        if (m_options.json)
            Write(stderr, Compact({{QStringLiteral("id"), request.id},
                                   {QStringLiteral("text"), request.text},
                                   {QStringLiteral("error"), problem}}));
        else
            Write(stderr, request.text);
        return answer;
    }

private:
    const COptions& m_options;
};

// A path the user gave, relative to the working folder; none: the installation's `fallback`.
QString FileArgument(const CZarntoolApp& app, const COptions& o, const QString& fallback) {
    return o.args.isEmpty() ? app.m_szAppDir + fallback
                            : QFileInfo(o.args.first()).absoluteFilePath();
}

int Show(CZarntoolApp& app, const COptions& o) {
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    if (!manager.GetCurrent(rows)) return kExitFailed;
    QJsonArray array;
    for (const CPolicy& row : rows) {
        if (o.json)
            array.append(QJsonObject{{QStringLiteral("precedence"), row.m_csPriority.toInt()},
                                     {QStringLiteral("label"), row.m_csLabel.toInt()},
                                     {QStringLiteral("prefix"), row.m_csAddress}});
        else
            Write(stdout, row.m_csPriority + u' ' + row.m_csLabel + u' ' + row.m_csAddress);
    }
    if (o.json) Write(stdout, Compact({{QStringLiteral("rows"), array}}));
    return kExitOk;
}

int Check(CZarntoolApp& app, const COptions& o) {
    const QString path = FileArgument(app, o, QStringLiteral("conf/policytable.conf"));
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    QList<qsizetype> rejected;
    QList<ErrorInfo> reasons;
    if (manager.GetPolicyFile(rows, path, &rejected, &reasons) != 1) {
        app.m_clLog.ShowMessageId(700, LOG_ERROR);
        return kExitFailed;
    }
    QJsonArray array;
    for (qsizetype i = 0; i < rejected.size(); ++i) {
        if (o.json)
            array.append(QJsonObject{{QStringLiteral("line"), rejected[i]},
                                     {QStringLiteral("id"), reasons[i].nId},
                                     {QStringLiteral("text"), reasons[i].csText}});
        else
            Write(stdout, path + u':' + QString::number(rejected[i]) + QStringLiteral(": ") +
                              reasons[i].csText);
    }
    if (o.json)
        Write(stdout, Compact({{QStringLiteral("file"), path},
                               {QStringLiteral("rows"), rows.size()},
                               {QStringLiteral("rejected"), array}}));
    return rejected.isEmpty() ? kExitOk : kExitFailed;
}

// Installs the switched-on rows of a policy table file as apply mode does: a file with any
// damaged line changes nothing (message 521); a failed registration puts the table back.
int Install(CZarntoolApp& app, const COptions& o, const QString& path) {
    CAppLog& log = app.m_clLog;
    if (!o.acceptTerms) {
        log.ShowMessageFormat({app.m_csLicensePath}, 801, LOG_WARN);
        return kExitUsage;
    }
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    QList<qsizetype> rejected;
    if (manager.GetPolicyFile(rows, path, &rejected) != 1) {
        log.ShowMessageId(700, LOG_ERROR);
        return kExitFailed;
    }
    if (!rejected.isEmpty()) {
        log.ShowMessageFormat({QString::number(rejected.first())}, 521, LOG_ERROR);
        return kExitFailed;
    }
    CPolicyListManager::ERestore restore = CPolicyListManager::ERestore::NotNeeded;
    if (manager.RegisterPolicy(rows, &restore) == 0) {
        log.TraceValue(QStringLiteral("RegisterPolicy"), QStringLiteral("FALSE"));
        return restore == CPolicyListManager::ERestore::NotRestored ? kExitNotRestored
                                                                    : kExitFailed;
    }
    log.ShowMessageId(404, LOG_DEBUG);
    return kExitOk;
}

int RunCommand(CZarntoolApp& app, const COptions& o) {
    if (o.command == u"show") return Show(app, o);
    if (o.command == u"check") return Check(app, o);
    if (o.command == u"apply")
        return Install(app, o, FileArgument(app, o, QStringLiteral("conf/policytable.conf")));
    return Install(app, o, app.m_szAppDir + QStringLiteral("conf/policytable.conf.default"));
}

}  // namespace

int main(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
    const COptions options = Parse(words);
    // Help, version and usage errors need no installation: the program's own texts serve.
    const CResourceSet& own = CResourceSet::ProgramSet();
    if (!options.bad.isEmpty() ||
        (options.command.isEmpty() && !options.help && !options.version)) {
        const QString text = CAppLog::FormatMessage(own.String(802), {options.bad});
        Write(stderr, options.json ? Compact({{QStringLiteral("id"), 802},
                                              {QStringLiteral("text"), text},
                                              {QStringLiteral("error"), true}})
                                   : text);
        return kExitUsage;
    }
    if (options.help) {
        Write(stdout, own.String(803));
        return kExitOk;
    }
    if (options.version) {
        Write(stdout, QStringLiteral(CORVANE_FILE_VERSION));
        return kExitOk;
    }

    CStderrPresenter presenter(options);
    int status = kExitFailed;  // start-up stopped before the command ran
    CZarntoolApp::Options appOptions;
    // The window program's guard: only one of the two changes the table at a time.
    appOptions.exeName = QStringLiteral("zarntool");
    appOptions.makeQtApp = [](int& qtArgc, char** qtArgv) {
        return std::make_unique<QCoreApplication>(qtArgc, qtArgv);
    };
    appOptions.presenter = &presenter;
    appOptions.run = [&](CZarntoolApp& app, const CZarnCommandLineInfo&) {
        status = RunCommand(app, options);
    };
    CZarntoolApp app(appOptions);
    // The window program's own words are not given: the command was read above.
    app.InitInstance(QStringList());
    app.ExitInstance();
    return status;
}
