// corvane watch from outside: the staged program in the client namespace of a veth link, on the
// system store (gai.conf and the namespace's kernel labels), against Kea and dnsmasq with the
// README's configurations and against a scripted server whose policy the test changes.
#include <gtest/gtest.h>

#include <signal.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <memory>
#include <iostream>
#include <mutex>
#include <thread>

#include "net/dhcpresponder.h"
#include "net/netns.h"
#include "platform/instancelock.h"
#include "support/testsupport.h"

namespace {

using nettest::CVethLink;
using Clock = std::chrono::steady_clock;

// The rows the README's configurations serve under code 84, as gai.conf lines.
const QStringList kServedLines = {
    "label 2001:db8:1::/48 10", "precedence 2001:db8:1::/48 40", "label ::/0 1",
    "precedence ::/0 2",        "label fc00::/7 5",               "precedence fc00::/7 6"};

QByteArray Option(int code, const QByteArray& data) {
    QByteArray o;
    for (const int byte : {code >> 8, code & 0xFF, int(data.size() >> 8), int(data.size() & 0xFF)})
        o += char(byte);
    return o + data;
}

// Option 84 with one option 85 per row: label, precedence, prefix length, prefix bytes.
struct CRow {
    int label;
    int precedence;
    int length;
    QByteArray prefix;
};
QByteArray Policy(const QList<CRow>& rows, int flags = 0) {
    QByteArray data(1, char(flags));
    for (const CRow& r : rows)
        data += Option(85, QByteArray(1, char(r.label)) + char(r.precedence) + char(r.length) +
                               r.prefix.left((r.length + 7) / 8));
    return Option(84, data);
}
QByteArray RefreshTime(quint32 seconds) {
    QByteArray data;
    for (int shift : {24, 16, 8, 0}) data += char((seconds >> shift) & 0xFF);
    return Option(32, data);
}
QByteArray Reply(const QByteArray& request, const QByteArray& options, char type = 7) {
    return QByteArray(1, type) + request.mid(1, 3) + options;
}

const QByteArray kDb8 = QByteArray::fromHex("20010db8000100000000000000000000");
// A puts IPv4 first, B the unique local addresses: glibc's order tells which one it follows.
const QList<CRow> kPolicyA = {{10, 40, 48, kDb8}, {1, 2, 0, {}}, {4, 100, 96, QByteArray::fromHex("00000000000000000000ffff")}};
const QList<CRow> kPolicyB = {{20, 50, 48, kDb8}, {1, 3, 0, {}}, {5, 60, 7, QByteArray::fromHex("fc")}};

class WatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QString unavailable = nettest::NamespaceTestsUnavailable();
        if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
        ASSERT_TRUE(m_dir.isValid());
        const QString stage = testsupport::StageDir() + u'/';
        for (const char* f : {"corvane", "netsh"}) {
            ASSERT_TRUE(QFile::copy(stage + QLatin1String(f), Root() + QLatin1String(f))) << f;
            QFile(Root() + QLatin1String(f)).setPermissions(QFile::permissions(stage + QLatin1String(f)));
        }
        for (const char* f : {"conf/policytable.conf.default", "conf/langs/Japanese/lang.json",
                              "conf/langs/Japanese/license.rtf"})
            ASSERT_TRUE(testsupport::WriteFile(Root() + QLatin1String(f),
                                               testsupport::ReadFile(stage + QLatin1String(f))));
        // The watcher's test settings: code 84, a refresh floor and a rate limit of a second.
        QByteArray ini = testsupport::ReadFile(stage + QStringLiteral("conf/zarntool.ini"));
        ini.replace("OPTION_CODE=27", "OPTION_CODE=84").replace("OS=Windows7", "OS=Linux");
        ini += "\n[WATCH]\nREFRESH_FLOOR=1\nRATE_LIMIT=1\nONCE_WAIT=6\n";
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/zarntool.ini"), ini));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/policytable.conf"),
                                           "1,0,Loopback,0,50,::1/128\r\n"));
        ASSERT_TRUE(QDir().mkpath(Root() + QStringLiteral("run")));
        QFile(Root() + QStringLiteral("run"))
            .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        ASSERT_TRUE(testsupport::WriteFile(Conf(), "# site lines\nreload no\n"));
        QString reason;
        ASSERT_TRUE(m_link.Create(&reason)) << reason.toStdString();
    }

    QString Root() const { return m_dir.path() + u'/'; }
    QString Conf() const { return Root() + QStringLiteral("gai.conf"); }

    // The table lines of gai.conf, sorted.
    QStringList TableLines() const {
        QStringList lines;
        for (const QByteArray& line : testsupport::ReadFile(Conf()).split('\n'))
            if (line.startsWith("label ") || line.startsWith("precedence "))
                lines << QString::fromLatin1(line).simplified();
        lines.sort();
        return lines;
    }
    static QStringList Sorted(QStringList lines) {
        lines.sort();
        return lines;
    }
    // The client namespace's kernel labels, "prefix label" each, sorted.
    QStringList KernelLabels() const {
        QString out;
        nettest::RunProgram(QStringLiteral("ip"), {"-n", m_link.ClientNamespace(), "addrlabel", "list"}, &out);
        QStringList labels;
        const QRegularExpression line(QStringLiteral("prefix (\\S+) .*label (\\d+)"));
        for (const QString& l : out.split(u'\n'))
            if (const auto m = line.match(l); m.hasMatch()) labels << m.captured(1) + u' ' + m.captured(2);
        labels.sort();
        return labels;
    }

    // The order glibc gives peer.test's addresses with the table's gai.conf seen as /etc's, in a
    // namespace whose loopback holds 2001:db8:1::1, fd00:1::1 and 192.0.2.1.
    QStringList GlibcOrder() const {
        const QString etc = Root() + QStringLiteral("probe/etc/");
        QDir().mkpath(etc);
        testsupport::WriteFile(etc + QStringLiteral("gai.conf"), testsupport::ReadFile(Conf()));
        testsupport::WriteFile(etc + QStringLiteral("hosts"),
                               "192.0.2.2 peer.test\n2001:db8:1::2 peer.test\nfd00:1::2 peer.test\n");
        QString out;
        nettest::RunProgram(QStringLiteral(CLI_GAIPROBE),
                            {Root() + QStringLiteral("probe"), Root() + QStringLiteral("netsh"), "peer.test"}, &out);
        QStringList order;
        for (const QString& line : out.split(u'\n'))
            if (line.startsWith(QStringLiteral("address ")) && !order.contains(line.mid(8))) order << line.mid(8);
        return order;
    }

    void Prepare(QProcess& program, const QStringList& args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NETSH_STORE"), QStringLiteral("system"));
        env.insert(QStringLiteral("NETSH_GAI_CONF"), Conf());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Root() + QStringLiteral("run"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(Root());
        program.start(QStringLiteral("ip"), QStringList{"netns", "exec", m_link.ClientNamespace(),
                                                        Root() + QStringLiteral("corvane")} + args);
    }
    // `watch --once` to the end: exit status and standard error.
    std::pair<int, QString> Once() const {
        QProcess program;
        Prepare(program, {"watch", "--once", "--accept-terms"});
        if (!program.waitForStarted(10000) || !program.waitForFinished(60000)) return {-1, {}};
        return {program.exitCode(), QString::fromUtf8(program.readAllStandardError())};
    }

    // Polls `condition` every 20 ms for up to `seconds`.
    static bool WaitFor(const std::function<bool()>& condition, int seconds) {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < until) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return condition();
    }

    QTemporaryDir m_dir;
    CVethLink m_link;
};

QString Program(const QString& name) {
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
}

// The README's configuration block NAME, for the server end of the link.
QString ReadmeConfig(const QString& name) {
    QFile readme(QStringLiteral(CORVANE_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly)) return {};
    const QRegularExpression block(QStringLiteral("<!-- server config: ") + name +
                                       QStringLiteral(" -->\\n```[a-z]*\\n(.*?)```"),
                                   QRegularExpression::DotMatchesEverythingOption);
    QString text = block.match(QString::fromUtf8(readme.readAll())).captured(1);
    return text.replace(QStringLiteral("eth0"), CVethLink::ServerInterface());
}

}  // namespace

// Both servers: --once installs the served policy into gai.conf and the kernel, keeps the
// file's other lines, and a second run finds the same table and changes nothing.
TEST_F(WatchTest, OnceInstallsTheServedPolicyAndTheSameAgainChangesNothing) {
    ASSERT_EQ(nettest::RunProgram(QStringLiteral("ip"),
                                  {"-n", m_link.ServerNamespace(), "addr", "add", "2001:db8:cafe::1/64",
                                   "dev", CVethLink::ServerInterface(), "nodad"}),
              0);
    const struct {
        const char* program;
        const char* config;
        QStringList args;  // %1: the configuration file, %2: the test's folder
    } kServers[] = {
        {"kea-dhcp6", "kea", {"-c", "%1"}},
        {"dnsmasq", "dnsmasq", {"--keep-in-foreground", "--conf-file=%1", "--pid-file=%2/pid",
                                "--dhcp-leasefile=%2/leases"}},
    };
    for (const auto& s : kServers) {
        SCOPED_TRACE(s.program);
        const QString program = Program(QLatin1String(s.program));
        if (program.isEmpty()) {
            GTEST_SKIP() << s.program << " is not installed";
        }
        const QString config = Root() + QLatin1String(s.config) + QStringLiteral(".conf");
        ASSERT_TRUE(testsupport::WriteFile(config, ReadmeConfig(QLatin1String(s.config)).toUtf8()));
        ASSERT_TRUE(testsupport::WriteFile(Conf(), "# site lines\nreload no\n"));
        QStringList args;
        for (const QString& a : s.args) args << QString(a).replace(QStringLiteral("%1"), config).replace(QStringLiteral("%2"), m_dir.path());
        QProcess server;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KEA_PIDFILE_DIR"), m_dir.path());
        env.insert(QStringLiteral("KEA_LOCKFILE_DIR"), m_dir.path());
        server.setProcessEnvironment(env);
        server.start(QStringLiteral("ip"), QStringList{"netns", "exec", m_link.ServerNamespace(), program} + args);
        ASSERT_TRUE(server.waitForStarted(10000));
        // The server listens once its socket is bound; --once asks until it answers.
        auto [status, err] = Once();
        EXPECT_EQ(status, 0) << err.toStdString();
        EXPECT_EQ(TableLines().join(u'|'), Sorted(kServedLines).join(u'|')) << err.toStdString();
        EXPECT_TRUE(testsupport::ReadFile(Conf()).startsWith("# site lines\nreload no\n"));
        EXPECT_TRUE(KernelLabels().contains(QStringLiteral("2001:db8:1::/48 10")))
            << KernelLabels().join(u'|').toStdString();
        std::tie(status, err) = Once();
        EXPECT_EQ(status, 0) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("システムのテーブルと同じです"))) << err.toStdString();
        EXPECT_EQ(TableLines(), Sorted(kServedLines));
        server.terminate();
        server.waitForFinished(5000);
    }
}

// No server: --once fails with status 1 within its wait and changes nothing.
TEST_F(WatchTest, OnceWithoutAServerFailsAndChangesNothing) {
    const auto [status, err] = Once();
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(err.contains(QStringLiteral("応答がありませんでした"))) << err.toStdString();
    EXPECT_EQ(TableLines(), QStringList());
}

// The long-running watcher against a server the test scripts: it installs the served policy,
// follows a change once the (shortened) refresh time has passed, keeps the table when the
// server stops sending the option, asks again when the link comes back up, passes over a flood
// of foreign and malformed Replies within bounded memory and processor time, and a SIGTERM
// during a registration leaves the old or the new table whole.
TEST_F(WatchTest, FollowsChangesLinkEventsAndFloodsAndStopsCleanly) {
    std::mutex lock;
    QByteArray options = Policy(kPolicyA) + RefreshTime(1);
    int flood = 0;  // datagrams of the flood still to send with the next answer
    nettest::CResponder server;
    server.m_repeat = true;
    server.Start(m_link.ServerNamespace(), [&](const QByteArray& request) {
        std::lock_guard guard(lock);
        QList<QByteArray> answers;
        for (; flood > 0; --flood) {
            const QByteArray foreign = QByteArray(1, char(7)) + char(flood) + char(flood >> 8) + char(0xEE);
            answers << foreign + options;                                 // another transaction
            answers << Reply(request, options, 2);                        // not a Reply
            answers << Reply(request, options.left(flood % options.size()), 7).left(3);  // cut short
        }
        answers << Reply(request, options);
        return answers;
    });
    ASSERT_TRUE(server.m_ready);
    const auto serve = [&](const QByteArray& next) {
        std::lock_guard guard(lock);
        options = next;
    };
    const QStringList linesA = {"label 2001:db8:1::/48 10", "label ::/0 1", "label ::ffff:0:0/96 4",
                                "precedence 2001:db8:1::/48 40", "precedence ::/0 2",
                                "precedence ::ffff:0:0/96 100"};
    const QStringList linesB = Sorted({"label 2001:db8:1::/48 20", "label ::/0 1", "label fc00::/7 5",
                                       "precedence 2001:db8:1::/48 50", "precedence ::/0 3",
                                       "precedence fc00::/7 60"});
    // While the editor (or another command) holds the guard, the watcher leaves the table alone
    // and tries again; it keeps the guard only for its registrations.
    auto editor = std::make_unique<platform::CInstanceLock>();
    ASSERT_EQ(editor->Acquire(QStringLiteral("zarntool"), Root() + QStringLiteral("run")),
              platform::CInstanceLock::Result::Acquired);
    QProcess watcher;
    Prepare(watcher, {"watch", "--accept-terms"});
    ASSERT_TRUE(watcher.waitForStarted(10000));
    EXPECT_TRUE(WaitFor([&] { return server.m_requests >= 1; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(TableLines(), QStringList());
    editor.reset();
    const auto restart = [&] {
        Prepare(watcher, {"watch", "--accept-terms"});
        return watcher.waitForStarted(10000);
    };
    const auto table = [&](const QStringList& lines) { return [&, lines] { return TableLines() == lines; }; };
    EXPECT_TRUE(WaitFor(table(Sorted(linesA)), 10)) << TableLines().join(u'|').toStdString();
    EXPECT_TRUE(KernelLabels().contains(QStringLiteral("2001:db8:1::/48 10")))
        << KernelLabels().join(u'|').toStdString();

    // The probe's fresh loopback addresses are at times not yet usable as sources, which
    // reorders the answer: a few probes, one of which must show the table's order.
    const auto glibcOrder = [&](const QStringList& expected) {
        QStringList got;
        for (int i = 0; i < 8 && got != expected; ++i) got = GlibcOrder();
        return got;
    };
    EXPECT_EQ(glibcOrder({"192.0.2.2", "2001:db8:1::2", "fd00:1::2"}).join(u' '),
              QStringLiteral("192.0.2.2 2001:db8:1::2 fd00:1::2"));

    // The policy changes: the next refresh brings it.
    serve(Policy(kPolicyB) + RefreshTime(1));
    EXPECT_TRUE(WaitFor(table(linesB), 10)) << TableLines().join(u'|').toStdString();
    EXPECT_EQ(glibcOrder({"fd00:1::2", "2001:db8:1::2", "192.0.2.2"}).join(u' '),
              QStringLiteral("fd00:1::2 2001:db8:1::2 192.0.2.2"));

    // The option is gone: the table stays through two more exchanges.
    serve(RefreshTime(1));
    int seen = server.m_requests;
    EXPECT_TRUE(WaitFor([&] { return server.m_requests >= seen + 2; }, 10));
    EXPECT_EQ(TableLines().join(u'|'), linesB.join(u'|'));

    // The link goes down and up: with an hour's refresh time, only the link brings a request.
    serve(Policy(kPolicyB) + RefreshTime(3600));
    EXPECT_TRUE(WaitFor([&] { return server.m_requests >= seen + 3; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    seen = server.m_requests;
    for (const char* state : {"down", "up"})
        ASSERT_EQ(nettest::RunProgram(QStringLiteral("ip"), {"-n", m_link.ClientNamespace(), "link", "set",
                                                              CVethLink::ClientInterface(), state}),
                  0);
    EXPECT_TRUE(WaitFor([&] { return server.m_requests > seen; }, 10));
    EXPECT_EQ(TableLines().join(u'|'), linesB.join(u'|'));

    // A flood on the next exchange: replies of other transactions and messages that are not
    // Replies (both carrying policy A), then a Reply whose row is cut short. Nothing of it is
    // installed, and the watcher's processor time and memory stay bounded.
    const auto usage = [pid = watcher.processId()] {
        const QList<QByteArray> stat = testsupport::ReadFile(QStringLiteral("/proc/%1/stat").arg(pid)).split(' ');
        const QByteArray status = testsupport::ReadFile(QStringLiteral("/proc/%1/status").arg(pid));
        const qsizetype rss = status.indexOf("VmRSS:");
        return std::pair(stat.size() > 15 ? stat[13].toLongLong() + stat[14].toLongLong() : -1,
                         rss < 0 ? -1 : status.mid(rss + 6, status.indexOf('\n', rss) - rss - 6).trimmed().split(' ')[0].toLongLong());
    };
    const auto before = usage();
    {
        std::lock_guard guard(lock);
        flood = 3000;
        options = Option(84, QByteArray(1, '\0') + Option(85, QByteArray::fromHex("0a28402001"))) + RefreshTime(1);
    }
    seen = server.m_requests;
    for (const char* state : {"down", "up"})
        ASSERT_EQ(nettest::RunProgram(QStringLiteral("ip"), {"-n", m_link.ClientNamespace(), "link", "set",
                                                              CVethLink::ClientInterface(), state}),
                  0);
    EXPECT_TRUE(WaitFor([&] { return server.m_requests > seen; }, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto after = usage();
    EXPECT_EQ(TableLines().join(u'|'), linesB.join(u'|'));
    // 9000 datagrams: well under a second of processor time, and no memory kept for them.
    std::cout << "flood: " << after.first - before.first << " clock ticks, "
              << after.second - before.second << " kB\n";
    EXPECT_LT(after.first - before.first, 150) << "clock ticks";
    EXPECT_LT(after.second - before.second, 16 * 1024) << "kB";

    // SIGTERM during a registration of many rows: the table is the old one or the new one.
    QList<CRow> many;
    QStringList linesMany;
    for (int i = 0; i < 120; ++i) {
        many << CRow{30, 60, 48, QByteArray::fromHex("20010db8") + char(i >> 8) + char(i)};
        const QString prefix = QStringLiteral("2001:db8:%1::/48").arg(i, 0, 16);
        linesMany << QStringLiteral("label ") + prefix + QStringLiteral(" 30")
                  << QStringLiteral("precedence ") + prefix + QStringLiteral(" 60");
    }
    serve(Policy(many) + RefreshTime(1));
    EXPECT_TRUE(WaitFor([&] { return TableLines() != linesB; }, 10));
    watcher.terminate();
    EXPECT_TRUE(watcher.waitForFinished(60000));
    EXPECT_EQ(watcher.exitCode(), 0);
    const QStringList last = TableLines();
    EXPECT_TRUE(last == linesB || last == Sorted(linesMany)) << last.join(u'|').toStdString();
    std::cout << "stopped during a registration: " << (last == linesB ? "old" : "new") << " table\n";

    // SIGTERM ends the wait at once: a clean stop, status 0.
    QString log = QString::fromUtf8(watcher.readAllStandardError());
    ASSERT_TRUE(restart());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto stopAt = Clock::now();
    watcher.terminate();
    EXPECT_TRUE(watcher.waitForFinished(10000));
    EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(3));
    EXPECT_EQ(watcher.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(watcher.exitCode(), 0);
    log += QString::fromUtf8(watcher.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("アドレス選択ポリシを含まない応答"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("検査を通らない行または欠けた行"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("ほかの corvane コマンドが動作中"))) << log.toStdString();
    if (HasFailure())
        std::cerr << log.toStdString() << testsupport::ReadFile(Root() + QStringLiteral("zarntool.log")).right(6000).constData();
    server.Join();
}

// At most one registration per link a minute: a change that follows within that time is
// refused and logged, and the table stays.
TEST_F(WatchTest, ALinkRegistersAtMostOnceAMinute) {
    QByteArray ini = testsupport::ReadFile(Root() + QStringLiteral("conf/zarntool.ini"));
    ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/zarntool.ini"),
                                       ini.replace("RATE_LIMIT=1", "RATE_LIMIT=60")));
    std::mutex lock;
    QByteArray options = Policy(kPolicyA) + RefreshTime(1);
    nettest::CResponder server;
    server.m_repeat = true;
    server.Start(m_link.ServerNamespace(), [&](const QByteArray& request) {
        std::lock_guard guard(lock);
        return QList<QByteArray>{Reply(request, options)};
    });
    ASSERT_TRUE(server.m_ready);
    QProcess watcher;
    Prepare(watcher, {"watch", "--accept-terms"});
    ASSERT_TRUE(watcher.waitForStarted(10000));
    EXPECT_TRUE(WaitFor([&] { return TableLines().contains(QStringLiteral("precedence ::ffff:0:0/96 100")); }, 10));
    const QStringList installed = TableLines();
    {
        std::lock_guard guard(lock);
        options = Policy(kPolicyB) + RefreshTime(1);
    }
    const int seen = server.m_requests;
    EXPECT_TRUE(WaitFor([&] { return server.m_requests >= seen + 2; }, 10));
    EXPECT_EQ(TableLines(), installed);
    watcher.terminate();
    EXPECT_TRUE(watcher.waitForFinished(10000));
    const QString log = QString::fromUtf8(watcher.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("前回の登録から 60 秒たっていません"))) << log.toStdString();
    server.Join();
}
