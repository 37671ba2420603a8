// Registration of ::/1 on WindowsVista, which the division turns into 128 add commands, through
// the real netsh stand-in: unplanned (RemoveAllPolicy then AddPolicy), planned (RegisterPolicy:
// validation, division and overlap check first, the table read for a restore), and the planning
// step alone; and the floor they are measured against: the same 128 add commands run as plain
// processes, with nothing of the program around them. All start every iteration from the same
// table file. The work happens in child processes, so the figures are wall-clock times.
//
// The planned registration also runs as `corvane --quiet apply --accept-terms` on a policy table
// file holding that row: the command-line program's start-up and file reading on top.
//
// What the registration journal adds to a planned registration: written durably before the
// first change command (temporary file, fsync, rename, fsync of the folder) and removed (unlink,
// fsync of the folder) at its end, for the default table saved and the 128 rows planned.
//
// The same unplanned registration also runs through netsh's system store (a gai.conf in the
// temporary folder; the kernel's labels in a private network namespace when run as root, else
// left off), to compare its cost with the file store's.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <QElapsedTimer>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "app/application.h"
#include "platform/codepage.h"
#include "ostable/journal.h"
#include "policy/policylistmanager.h"

extern char** environ;

namespace {

const QString kStage = QStringLiteral(CORVANE_STAGE_DIR);

// An application object on a temporary installation with the stand-in beside the program,
// the staged settings (log level DEBUG: every trace line is written) and the language set.
class CBenchInstall {
public:
    CBenchInstall() {
        const QString dir = Dir();
        QDir().mkpath(dir + QStringLiteral("conf/langs/Japanese"));
        QFile::copy(QStringLiteral(CORVANE_SOURCE_DIR) + QStringLiteral("/conf/zarntool.ini"), dir + QStringLiteral("conf/zarntool.ini"));
        QFile::copy(kStage + QStringLiteral("/conf/langs/Japanese/lang.json"), dir + QStringLiteral("conf/langs/Japanese/lang.json"));
        QFile::link(kStage + QStringLiteral("/netsh"), dir + QStringLiteral("netsh"));
        qputenv("NETSH_PREFIXPOLICY_FILE", TablePath().toLocal8Bit());

        CZarntoolApp::Options options;
        options.appDir = dir;
        options.exeName = QStringLiteral("zarntool");
        m_app = std::make_unique<CZarntoolApp>(options);
        m_app->m_szAppDir = dir;
        m_app->m_clLog.m_sLogPath = dir + QStringLiteral("zarntool.log");
        m_app->m_pszProfileName = dir + QStringLiteral("conf/zarntool.ini");
        m_app->WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("WindowsVista"));
        m_app->WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LOG_LEVEL"), QStringLiteral("DEBUG"));
        CResourceSet set;
        set.Load(dir + QStringLiteral("conf/langs/Japanese/lang.json"));
        m_app->SetLanguageResources(set);
    }
    QString Dir() const { return m_dir.path() + u'/'; }
    QString TablePath() const { return Dir() + QStringLiteral("netsh.table"); }
    QString GaiConfPath() const { return Dir() + QStringLiteral("gai.conf"); }
    CZarntoolApp& App() { return *m_app; }

    // The Windows 7 default table (no file), or an empty one.
    void ResetTable(bool empty) {
        QFile::remove(TablePath());
        if (empty) {
            QFile f(TablePath());
            f.open(QIODevice::WriteOnly);
        }
        QFile::remove(Dir() + QStringLiteral("zarntool.log"));
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<CZarntoolApp> m_app;
};

// CPU seconds used so far by this process and by its waited-for children. Unlike the wall
// clock this does not depend on what else the machine is doing.
double CpuSeconds() {
    auto seconds = [](const rusage& u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    rusage self{};
    rusage children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return seconds(self) + seconds(children);
}

// Reports the CPU time of the whole process tree per iteration as "tree_cpu_ms".
class CTreeCpu {
public:
    explicit CTreeCpu(benchmark::State& state) : m_state(state), m_start(CpuSeconds()) {}
    ~CTreeCpu() {
        if (m_state.iterations() > 0)
            m_state.counters["tree_cpu_ms"] = (CpuSeconds() - m_start) * 1000.0 / double(m_state.iterations());
    }

private:
    benchmark::State& m_state;
    double m_start;
};

CBenchInstall& Install() {
    static CBenchInstall install;
    return install;
}

CPolicy SlashOne(CZarntoolApp& app) {
    CPolicy row;
    row.m_pApp = &app;
    row.m_bDisabled = false;
    row.m_nSource = 0;
    row.m_csNetworkName = QStringLiteral("bench");
    row.m_csAddress = QStringLiteral("::/1");
    row.m_csPriority = QStringLiteral("45");
    row.m_csLabel = QStringLiteral("14");
    return row;
}

// Chooses netsh's store for the lifetime of the object.
class CStore {
public:
    CStore(const CBenchInstall& install, bool system) {
        if (!system) return;
        qputenv("NETSH_STORE", "system");
        qputenv("NETSH_GAI_CONF", install.GaiConfPath().toLocal8Bit());
    }
    ~CStore() {
        qunsetenv("NETSH_STORE");
        qunsetenv("NETSH_GAI_CONF");
    }
    CStore(const CStore&) = delete;
    CStore& operator=(const CStore&) = delete;
};

void Registration(benchmark::State& state, bool fromEmpty, bool planned, bool system = false) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    const CStore store(install, system);
    CTreeCpu cpu(state);
    for (auto _ : state) {
        state.PauseTiming();
        install.ResetTable(fromEmpty);
        QFile::remove(install.GaiConfPath());  // glibc's built-in table
        CPolicyList list{SlashOne(install.App())};
        state.ResumeTiming();
        const bool ok = planned ? manager.RegisterPolicy(list) == 1
                                : manager.RemoveAllPolicy() == 1 && manager.AddPolicy(list) == 1 && list.size() == 128;
        if (!ok) {
            state.SkipWithError("registration failed");
            break;
        }
    }
}

void BM_Registration_FromDefaultTable(benchmark::State& state) { Registration(state, false, false); }
void BM_Registration_FromEmptyTable(benchmark::State& state) { Registration(state, true, false); }
void BM_PlannedRegistration_FromDefaultTable(benchmark::State& state) { Registration(state, false, true); }
void BM_Registration_SystemStore(benchmark::State& state) { Registration(state, false, false, true); }
void BM_PlannedRegistration_FromEmptyTable(benchmark::State& state) { Registration(state, true, true); }

// One registration of ::/1 with [APPLICATION] BATCH set to `batch`: its wall time in ms, the
// table file it leaves and the commands it logged, in order.
struct CBatchRun {
    double ms = 0;
    QByteArray table;
    QStringList commands;
};

CBatchRun RegisterWithBatch(CBenchInstall& install, CPolicyListManager& manager, const QString& batch) {
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), batch);
    install.ResetTable(false);
    CPolicyList list{SlashOne(install.App())};
    CBatchRun run;
    QElapsedTimer timer;
    timer.start();
    const bool ok = manager.RegisterPolicy(list) == 1;
    run.ms = double(timer.nsecsElapsed()) / 1e6;
    QFile table(install.TablePath());
    if (ok && table.open(QIODevice::ReadOnly)) run.table = table.readAll();
    QFile log(install.Dir() + QStringLiteral("zarntool.log"));
    static const QRegularExpression command(QStringLiteral("netsh interface ipv6 (add|delete) prefixpolicy [^\\r\\n]*"));
    if (log.open(QIODevice::ReadOnly)) {
        for (auto it = command.globalMatch(platform::FromCp932(log.readAll())); it.hasNext();) run.commands << it.next().captured(0);
    }
    return run;
}

// ::/1 on Vista from the default table, per command (BATCH=0) and through scripts (BATCH=1) in
// the same iteration: both times, their ratio, and a check that both leave the same table byte
// for byte and log the same commands in the same order.
void BM_PerCommandVersusScript(benchmark::State& state) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LOG_LEVEL"), QStringLiteral("INFO"));
    double perCommand = 0;
    double script = 0;
    for (auto _ : state) {
        const CBatchRun one = RegisterWithBatch(install, manager, QStringLiteral("0"));
        const CBatchRun batch = RegisterWithBatch(install, manager, QStringLiteral("1"));
        if (one.table.isEmpty() || one.table != batch.table || one.commands != batch.commands || one.commands.size() != 134) {
            state.SkipWithError("the two modes differ");
            break;
        }
        perCommand += one.ms;
        script += batch.ms;
    }
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LOG_LEVEL"), QStringLiteral("DEBUG"));
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QStringLiteral("1"));
    const double n = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.counters["per_command_ms"] = perCommand / n;
    state.counters["script_ms"] = script / n;
    state.counters["script_share"] = perCommand > 0 ? script / perCommand : 0;
}

// The planned registration of ::/1 on Vista with BATCH set to the argument (0: one process per
// command; n > 1: scripts of at most n commands; 1: the default length): what shorter scripts,
// after whose end a cancel takes effect, cost.
void BM_PlannedRegistration_Batch(benchmark::State& state) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    for (auto _ : state) {
        if (RegisterWithBatch(install, manager, QString::number(state.range(0))).table.isEmpty()) {
            state.SkipWithError("registration failed");
            break;
        }
    }
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QStringLiteral("1"));
}

// The system store (OS=Linux, which divides nothing): the planned registration of 128 rows
// (2001:db8:<n>::/48), one process per command (argument 0) or through scripts (1), counting the
// renames onto gai.conf in its folder (inotify) per registration.
void BM_ScriptSystemStore_GaiConfWrites(benchmark::State& state) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    const CStore store(install, true);
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QString::number(state.range(0)));
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("Linux"));
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // Both halves of a move: each rename then has its own cookie, so that successive renames
    // onto the same name are not merged into one event.
    ::inotify_add_watch(watch, QFile::encodeName(install.Dir()).constData(), IN_MOVE);
    long renames = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(install.GaiConfPath());
        CPolicyList list;
        for (int n = 0; n < 128; ++n) {
            list.append(SlashOne(install.App()));
            list.last().m_csAddress = QStringLiteral("2001:db8:%1::/48").arg(n, 0, 16);
        }
        alignas(inotify_event) char drain[4096];
        while (::read(watch, drain, sizeof drain) > 0) {
        }
        state.ResumeTiming();
        if (manager.RegisterPolicy(list) != 1) {
            state.SkipWithError("registration failed");
            break;
        }
        state.PauseTiming();
        alignas(inotify_event) char buffer[65536];
        for (ssize_t n; (n = ::read(watch, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_MOVED_TO) && event->len > 0 && std::strcmp(event->name, "gai.conf") == 0) ++renames;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        state.ResumeTiming();
    }
    ::close(watch);
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("WindowsVista"));
    install.App().WriteProfileString(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QStringLiteral("1"));
    state.counters["gai_conf_renames"] = double(renames) / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

// The planning step alone: validation, division into 128 rows and the overlap check.
void BM_PlanOnly(benchmark::State& state) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    const CPolicyList rows{SlashOne(install.App())};
    for (auto _ : state) {
        CPolicyList plan;
        if (manager.PlanPolicy(rows, plan) != 1 || plan.size() != 128) {
            state.SkipWithError("planning failed");
            break;
        }
        benchmark::DoNotOptimize(plan);
    }
}

// The journal's write and removal alone, on the file system of the temporary folder.
void BM_JournalWriteAndRemove(benchmark::State& state) {
    CBenchInstall& install = Install();
    CPolicyListManager manager;
    manager.m_pApp = &install.App();
    install.ResetTable(false);
    CPolicyList saved;
    CPolicyList plan;
    if (!manager.GetCurrent(saved) || !manager.PlanPolicy({SlashOne(install.App())}, plan)) {
        state.SkipWithError("no table or plan");
        return;
    }
    ostable::CRegistrationJournal journal(install.App());
    for (auto _ : state) {
        if (!journal.Begin(saved, plan)) {
            state.SkipWithError("journal not written");
            break;
        }
        journal.End();
    }
}

// The staged corvane copied into the installation, applying a file holding ::/1 (switched on).
void BM_CliApply_FromDefaultTable(benchmark::State& state) {
    CBenchInstall& install = Install();
    const QString dir = install.Dir();
    const QString program = dir + QStringLiteral("corvane");
    if (!QFile::exists(program)) {
        QFile::copy(kStage + QStringLiteral("/corvane"), program);
        QFile(program).setPermissions(QFile::permissions(kStage + QStringLiteral("/corvane")));
        QFile conf(dir + QStringLiteral("conf/policytable.conf"));
        if (conf.open(QIODevice::WriteOnly)) conf.write("1,0,bench,14,45,::/1\r\n");
        QDir().mkpath(dir + QStringLiteral("run"));
        QFile(dir + QStringLiteral("run")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", (dir + QStringLiteral("run")).toLocal8Bit());
    }
    const QByteArray path = QFile::encodeName(program);
    CTreeCpu cpu(state);
    for (auto _ : state) {
        state.PauseTiming();
        install.ResetTable(false);
        state.ResumeTiming();
        char* argv[] = {const_cast<char*>("corvane"), const_cast<char*>("--quiet"), const_cast<char*>("apply"),
                        const_cast<char*>("--accept-terms"), nullptr};
        pid_t pid = -1;
        int status = -1;
        if (posix_spawn(&pid, path.constData(), nullptr, nullptr, argv, environ) == 0) {
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("corvane apply failed");
            break;
        }
    }
}

// 128 runs of "netsh interface ipv6 add prefixpolicy <j>00::/8 45 14", output discarded.
void BM_Floor_128PlainRuns(benchmark::State& state) {
    CBenchInstall& install = Install();
    const QByteArray netsh = QFile::encodeName(kStage + QStringLiteral("/netsh"));
    std::vector<QByteArray> prefixes;
    for (int j = 0; j < 128; ++j) prefixes.push_back(j == 0 ? QByteArray("::/8") : QByteArray::number(j, 16) + "00::/8");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    CTreeCpu cpu(state);
    for (auto _ : state) {
        state.PauseTiming();
        install.ResetTable(true);
        state.ResumeTiming();
        for (QByteArray& prefix : prefixes) {
            char* argv[] = {const_cast<char*>("netsh"), const_cast<char*>("interface"), const_cast<char*>("ipv6"),
                            const_cast<char*>("add"), const_cast<char*>("prefixpolicy"), prefix.data(),
                            const_cast<char*>("45"), const_cast<char*>("14"), nullptr};
            pid_t pid = -1;
            if (posix_spawn(&pid, netsh.constData(), &actions, nullptr, argv, environ) != 0) {
                state.SkipWithError("spawn failed");
                break;
            }
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

BENCHMARK(BM_Floor_128PlainRuns)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_Registration_FromEmptyTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_Registration_FromDefaultTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_PlannedRegistration_FromEmptyTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_PlannedRegistration_FromDefaultTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_CliApply_FromDefaultTable)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_Registration_SystemStore)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);
BENCHMARK(BM_PerCommandVersusScript)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_ScriptSystemStore_GaiConfWrites)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlannedRegistration_Batch)->Arg(0)->Arg(2)->Arg(8)->Arg(32)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_PlanOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_JournalWriteAndRemove)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The system store's kernel labels only ever change a private network namespace.
    const bool ownLabels = ::geteuid() == 0 && ::unshare(CLONE_NEWNET) == 0;
    if (!ownLabels) qputenv("NETSH_KERNEL_LABELS", "0");
    benchmark::AddCustomContext("kernel_labels", ownLabels ? "set (private network namespace)" : "off");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
