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
#include <functional>
#include <memory>

#include "app/application.h"
#include "cli/ordercommand.h"
#include "net/policywatcher.h"
#include "ostable/exportfile.h"
#include "platform/cancelevent.h"
#include "platform/fileutil.h"
#include "platform/signalwatch.h"
#include "platform/profile.h"
#include "platform/selfpath.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/settingskeys.h"

namespace {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNotRestored = 3;  // the previous table could not be put back
constexpr int kExitSignal = 128;     // plus the signal's number: stopped by SIGINT, SIGTERM, SIGHUP

// A progress line is being shown on the terminal: the next line starts after it.
bool g_progressShown = false;

void EndProgressLine() {
    if (!g_progressShown) return;
    std::fputc('\n', stderr);
    g_progressShown = false;
}

void Write(std::FILE* stream, const QString& text) {
    EndProgressLine();
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

QString Compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// A precedence or label as a JSON number with its exact value (values reach 4294967295, past
// an int). A text that is no decimal number a JSON reader takes exactly stays text, never 0.
QJsonValue JsonNumber(const QString& text) {
    constexpr qulonglong kExactInJson = 1ULL << 53;
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    return ok && value <= kExactInJson ? QJsonValue(qint64(value)) : QJsonValue(text);
}

struct COptions {
    QString command;
    QStringList args;  // the command's own words
    bool json = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool acceptTerms = false;
    bool once = false;   // watch: one exchange per link, then exit
    QString address;     // fetch http: the server, in place of the settings file's
    QString optionCode;  // fetch dhcp: the option code, in place of the settings file's
    QString output;      // fetch: the file to write; empty: standard output
    QString table;       // order: the policy table file to preview; empty: the system's table
    QString bad;         // the first word not understood; empty when all were
};

// The first word the command does not take (too many or too few words, an option that
// belongs to another command, a bad option code), or an empty text.
QString MisplacedWord(const COptions& o) {
    // Words each command takes (at least, at most), and the options that belong to it.
    const bool installs = o.command == u"apply" || o.command == u"default" || o.command == u"watch";
    qsizetype maxArgs = -1;
    qsizetype minArgs = 0;
    if (o.command == u"show" || o.command == u"default" || o.command == u"watch")
        maxArgs = 0;
    if (o.command == u"check" || o.command == u"apply")
        maxArgs = 1;
    if (o.command == u"export" || o.command == u"fetch" || o.command == u"table")
        minArgs = maxArgs = 1;
    if (o.command == u"order") {
        minArgs = 1;
        maxArgs = o.args.size();
    }
    const bool fetch = o.command == u"fetch";
    const bool http = fetch && !o.args.isEmpty() && o.args.first() == u"http";
    const bool dhcp = fetch && !o.args.isEmpty() && o.args.first() == u"dhcp";
    bool codeOk = false;
    const int code = o.optionCode.toInt(&codeOk);
    if (maxArgs < 0)
        return o.command;
    if (o.args.size() > maxArgs)
        return o.args[maxArgs];
    if (o.args.size() < minArgs)
        return o.command;
    if (fetch && !http && !dhcp)
        return o.args.first();
    if (o.acceptTerms && !installs)
        return QStringLiteral("--accept-terms");
    if (o.once && o.command != u"watch")
        return QStringLiteral("--once");
    if (!o.address.isEmpty() && !http)
        return QStringLiteral("--address");
    const bool watch = o.command == u"watch";
    if (!o.optionCode.isEmpty() && (!(dhcp || watch) || !codeOk || code < 1 || code > 65535))
        return QStringLiteral("--option-code");
    if (!o.output.isEmpty() && !fetch)
        return QStringLiteral("-o");
    if (!o.table.isEmpty() && o.command != u"order")
        return QStringLiteral("--table");
    return {};
}

COptions Parse(const QStringList& words) {
    COptions o;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& w = words[i];
        QString* value = w == u"--address"       ? &o.address
                         : w == u"--option-code" ? &o.optionCode
                         : w == u"-o"            ? &o.output
                         : w == u"--table"       ? &o.table
                                                 : nullptr;
        if (value) {
            if (i + 1 < words.size() && !words[i + 1].isEmpty()) {
                *value = words[++i];
            } else if (o.bad.isEmpty()) {
                o.bad = w;
            }
        } else if (w == u"--json")
            o.json = true;
        else if (w == u"--quiet" || w == u"-q")
            o.quiet = true;
        else if (w == u"--help" || w == u"-h")
            o.help = true;
        else if (w == u"--version")
            o.version = true;
        else if (w == u"--accept-terms")
            o.acceptTerms = true;
        else if (w == u"--once")
            o.once = true;
        else if (w.startsWith(u'-') && w.size() > 1) {
            if (o.bad.isEmpty()) o.bad = w;
        } else if (o.command.isEmpty())
            o.command = w;
        else
            o.args << w;
    }
    if (o.bad.isEmpty() && !o.help && !o.version) o.bad = MisplacedWord(o);
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
QString FileArgument(const COptions& o, const QString& fallback) {
    return o.args.isEmpty() ? fallback : QFileInfo(o.args.first()).absoluteFilePath();
}

int Show(CZarntoolApp& app, const COptions& o) {
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    if (!manager.GetCurrent(rows)) return kExitFailed;
    QJsonArray array;
    for (const CPolicy& row : rows) {
        if (o.json)
            array.append(QJsonObject{{QStringLiteral("precedence"), JsonNumber(row.m_csPriority)},
                                     {QStringLiteral("label"), JsonNumber(row.m_csLabel)},
                                     {QStringLiteral("prefix"), row.m_csAddress}});
        else
            Write(stdout, row.m_csPriority + u' ' + row.m_csLabel + u' ' + row.m_csAddress);
    }
    if (o.json) Write(stdout, Compact({{QStringLiteral("rows"), array}}));
    return kExitOk;
}

int Check(CZarntoolApp& app, const COptions& o) {
    const QString path = FileArgument(o, app.Paths().PolicyTable());
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    QList<qsizetype> rejected;
    QList<ErrorInfo> reasons;
    if (manager.GetPolicyFile(rows, path, &rejected, &reasons) != 1) {
        app.m_clLog.ShowMessageId(strid::kFileNotFound, LOG_ERROR);
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
int Install(CZarntoolApp& app, const COptions& o, const QString& path,
            const platform::CCancelEvent* cancel) {
    CAppLog& log = app.m_clLog;
    if (!o.acceptTerms) {
        log.ShowMessageFormat({app.m_csLicensePath}, strid::kCliAcceptTerms, LOG_WARN);
        return kExitUsage;
    }
    CPolicyListManager manager;
    manager.m_pApp = &app;
    manager.m_pCancel = cancel;
    // A long registration shows how far it is, on a terminal only.
    if (!o.quiet && !o.json && platform::StandardErrorIsTerminal()) {
        const QString format = app.LoadString(strid::kCliProgress);
        manager.m_progress = [format](qsizetype done, qsizetype total) {
            const QString line =
                CAppLog::FormatMessage(format, {QString::number(done), QString::number(total)});
            std::fprintf(stderr, "\r%s", line.toUtf8().constData());
            std::fflush(stderr);
            g_progressShown = true;
        };
    }
    using EInstall = CPolicyListManager::EInstall;
    switch (manager.InstallPolicyFile(path)) {
    case EInstall::Installed:
        log.ShowMessageId(strid::kApplyDone, LOG_DEBUG);
        return kExitOk;
    case EInstall::FileNotFound:
        log.ShowMessageId(strid::kFileNotFound, LOG_ERROR);
        return kExitFailed;
    case EInstall::NotRestored: return kExitNotRestored;
    case EInstall::LineRefused:
    case EInstall::NotChanged:
    case EInstall::Restored: break;
    }
    return kExitFailed;
}

// Rows from the network as the editor's menu fetches them, in the policy table file format.
int Fetch(CZarntoolApp& app, const COptions& o, const platform::CCancelEvent* cancel) {
    CAppLog& log = app.m_clLog;
    const QString section = settings::Application();
    // The settings file can switch network use off; the editor's menu item is then disabled.
    if (app.GetProfileString(section, settings::UseNetwork(), QStringLiteral("0"))
            .compare(QLatin1String("0"), Qt::CaseInsensitive) == 0) {
        log.ShowMessageId(strid::kCliNetworkDisabled, LOG_ERROR);
        return kExitFailed;
    }
    if (!o.address.isEmpty())
        app.OverrideProfileString(section, settings::Address(), o.address);
    if (!o.optionCode.isEmpty())
        app.OverrideProfileString(settings::DhcpOption(), settings::OptionCode(),
                                  o.optionCode);
    CPolicyListManager manager;
    manager.m_pApp = &app;
    manager.m_pCancel = cancel;
    CPolicyList fetched;
    const bool ok =
        o.args.first() == u"http" ? manager.GetHttp(fetched) != 0 : manager.GetDhcp(fetched) != 0;
    if (!ok) return kExitFailed;
    // A body line that is not a policy line leaves a row without an address space: no policy.
    CPolicyList rows;
    for (const CPolicy& row : std::as_const(fetched))
        if (!row.m_csAddress.isEmpty()) rows.append(row);
    const QByteArray bytes = CPolicyListManager::PolicyFileBytes(rows);
    if (!o.output.isEmpty()) {
        const QString path = QFileInfo(o.output).absoluteFilePath();
        if (!platform::WriteFileAtomic(path, bytes)) {
            log.ShowMessageFormat({path}, strid::kCliFileNotWritable, LOG_ERROR);
            return kExitFailed;
        }
    }
    if (o.json) {
        QJsonArray array;
        for (const CPolicy& row : std::as_const(rows))
            array.append(QJsonObject{{QStringLiteral("enabled"), !row.m_bDisabled},
                                     {QStringLiteral("networkName"), row.m_csNetworkName},
                                     {QStringLiteral("precedence"), JsonNumber(row.m_csPriority)},
                                     {QStringLiteral("label"), JsonNumber(row.m_csLabel)},
                                     {QStringLiteral("prefix"), row.m_csAddress}});
        Write(stdout, Compact({{QStringLiteral("rows"), array}}));
    } else if (o.output.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
    }
    return kExitOk;
}

// The diagnostic snapshot the editor's export command writes, to the file given.
int Export(CZarntoolApp& app, const COptions& o) {
    CPolicyListManager manager;
    manager.m_pApp = &app;
    const QString policy = manager.GetCurrentString();
    if (policy.isEmpty()) return kExitFailed;
    const QString ipconfig = manager.GetCurrentIpconfigString();
    if (ipconfig.isEmpty()) return kExitFailed;
    const QString path = QFileInfo(o.args.first()).absoluteFilePath();
    if (!platform::WriteFileAtomic(path, exportfile::Bytes(policy, ipconfig))) {
        app.m_clLog.ShowMessageFormat({path}, strid::kCliFileNotWritable, LOG_ERROR);
        return kExitFailed;
    }
    app.m_clLog.ShowMessageFormat({path}, strid::kExportDone, LOG_DEBUG);
    return kExitOk;
}

// Logs which stop signal came.
platform::CSignalWatch::Notify SignalLogger(CZarntoolApp& app) {
    return [&app](int signal) {
        app.m_clLog.LogFormat({QString::number(signal), platform::CSignalWatch::Name(signal)},
                              strid::kSignalReceived, LOG_WARN);
    };
}

// Runs a command that changes the table or waits on the network with SIGINT, SIGTERM and SIGHUP
// turned into its cancel: a registration puts the previous table back, a fetch stops waiting.
// Stopped that way, the status is 128 plus the signal's number, unless the command had already
// completed (0) or the table could not be put back (3).
int Interruptible(CZarntoolApp& app, const std::function<int(const platform::CCancelEvent*)>& command) {
    platform::CCancelEvent cancel;
    const platform::CSignalWatch watch(cancel, SignalLogger(app));
    const int status = command(&cancel);
    const int signal = watch.Signal();
    if (signal == 0 || status == kExitOk || status == kExitNotRestored) return status;
    return kExitSignal + signal;
}

// Follows the network's policy: with --once one exchange per link and at most one
// registration, with apply's exit statuses; else until SIGTERM, SIGINT or SIGHUP.
int Watch(CZarntoolApp& app, const COptions& o) {
    if (!o.acceptTerms) {
        app.m_clLog.ShowMessageFormat({app.m_csLicensePath}, strid::kCliAcceptTerms, LOG_WARN);
        return kExitUsage;
    }
    if (app.GetProfileString(settings::Application(), settings::UseNetwork(), QStringLiteral("0"))
            .compare(QLatin1String("0"), Qt::CaseInsensitive) == 0) {
        app.m_clLog.ShowMessageId(strid::kCliNetworkDisabled, LOG_ERROR);
        return kExitFailed;
    }
    if (!o.optionCode.isEmpty())
        app.OverrideProfileString(settings::DhcpOption(), settings::OptionCode(), o.optionCode);
    platform::CCancelEvent stop;
    const platform::CSignalWatch watch(stop, SignalLogger(app));
    net::CPolicyWatcher watcher(app, stop, net::CPolicyWatcher::ReadSettings(app));
    return o.once ? watcher.RunOnce() : watcher.Run();
}

// The language library the settings file beside the program names, read before any word of
// help or a usage error is printed; the program's own set when there is none to load.
CResourceSet SettingsLanguageTexts() {
    const CInstallPaths paths(platform::ProgramDirectory());
    const QString lang = platform::GetProfileString(paths.Settings(), settings::Application(),
                                                    settings::Lang(), QString());
    CResourceSet set;
    if (!lang.isEmpty() && platform::FileExists(paths.Settings()) &&
        set.Load(paths.LanguageLibrary(lang)) == CResourceSet::LoadStatus::Loaded)
        return set;
    return CResourceSet::ProgramSet();
}

int RunCommand(CZarntoolApp& app, const COptions& o) {
    if (o.command == u"watch") return Watch(app, o);
    if (o.command == u"show") return Show(app, o);
    if (o.command == u"check") return Check(app, o);
    if (o.command == u"export") return Export(app, o);
    if (o.command == u"order") return cli::Order(app, o.args, o.table, o.json, Write);
    if (o.command == u"table") return cli::Table(app, o.args.first(), o.json, Write);
    return Interruptible(app, [&](const platform::CCancelEvent* cancel) {
        if (o.command == u"fetch") return Fetch(app, o, cancel);
        if (o.command == u"apply")
            return Install(app, o, FileArgument(o, app.Paths().PolicyTable()), cancel);
        return Install(app, o, app.Paths().FactoryTable(), cancel);
    });
}

}  // namespace

int main(int argc, char** argv) {
    QStringList words;
    for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
    const COptions options = Parse(words);
    // Help, version and usage errors in the settings file's language; without an installation
    // (or its language library) the program's own texts serve.
    const CResourceSet own = SettingsLanguageTexts();
    if (!options.bad.isEmpty() ||
        (options.command.isEmpty() && !options.help && !options.version)) {
        const QString text = CAppLog::FormatMessage(own.String(strid::kCliBadArguments), {options.bad});
        Write(stderr, options.json ? Compact({{QStringLiteral("id"), strid::kCliBadArguments},
                                              {QStringLiteral("text"), text},
                                              {QStringLiteral("error"), true}})
                                   : text);
        return kExitUsage;
    }
    if (options.help) {
        Write(stdout, own.String(strid::kCliUsage));
        return kExitOk;
    }
    if (options.version) {
        Write(stdout, CAppLog::FormatMessage(own.String(strid::kCliVersion),
                                             {QStringLiteral(CORVANE_FILE_VERSION)}));
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
    // The watcher takes the guard around each registration only.
    appOptions.lockAtStart = options.command != u"watch";
    appOptions.changesTable =
        options.command == u"apply" || options.command == u"default" || options.command == u"watch";
    appOptions.run = [&](CZarntoolApp& app, const CZarnCommandLineInfo&) {
        status = RunCommand(app, options);
    };
    CZarntoolApp app(appOptions);
    // The window program's own words are not given: the command was read above.
    app.InitInstance(QStringList());
    app.ExitInstance();
    EndProgressLine();
    return status;
}
