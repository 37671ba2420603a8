// corvane from outside: each command, its output (--json parsed), its exit status, and a
// failed registration putting the table back, on a copy of the staged installation.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <vector>

#include <QDir>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "net/dhcpresponder.h"
#include "net/loopbackserver.h"
#include "net/netns.h"
#include "platform/codepage.h"
#include "support/testsupport.h"

namespace {

const QByteArray kTable = "30 2 2002::/16\n10 4 ::ffff:0:0/96\n";
const QString k519 = QStringLiteral("OSのポリシテーブルを登録前の状態に戻しました。");
const QString k520 = QStringLiteral("OSのポリシテーブルを登録前の状態に戻せませんでした。");

struct CRun {
    int exitCode = -1;
    QString out;
    QString err;
};

class CCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        const QString stage = testsupport::StageDir() + u'/';
        for (const char* f : {"corvane", "netsh"}) {
            ASSERT_TRUE(QFile::copy(stage + QLatin1String(f), Root() + QLatin1String(f))) << f;
            QFile(Root() + QLatin1String(f))
                .setPermissions(QFile::permissions(stage + QLatin1String(f)));
        }
        for (const char* f : {"conf/zarntool.ini", "conf/policytable.conf.default",
                              "conf/langs/Japanese/lang.json", "conf/langs/Japanese/license.rtf"})
            ASSERT_TRUE(testsupport::WriteFile(Root() + QLatin1String(f),
                                               testsupport::ReadFile(stage + QLatin1String(f))));
        // One row switched on, one off; and a file with a short line and a bad label.
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/policytable.conf"),
                                           "1,0,Loopback,0,50,::1/128\r\n0,0,Off,1,40,::/0\r\n"));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("bad.conf"),
                                           "1,0,A,0,50,::1/128\r\nshort\r\n1,0,B,x,1,::/0\r\n"));
        ASSERT_TRUE(QDir().mkpath(Root() + QStringLiteral("run")));
        QFile(Root() + QStringLiteral("run"))
            .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                            QFileDevice::ExeOwner);
        ResetTable();
    }

    QString Root() const { return m_dir.path() + u'/'; }
    // [APPLICATION] BATCH in the installation's settings.
    void SetBatch(int batch) {
        const QString ini = Root() + QStringLiteral("conf/zarntool.ini");
        QByteArray text = testsupport::ReadFile(ini);
        text.replace("[APPLICATION]\r\n", "[APPLICATION]\r\nBATCH=" + QByteArray::number(batch) + "\r\n");
        ASSERT_TRUE(testsupport::WriteFile(ini, text));
    }
    void ResetTable() {
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"), kTable));
    }
    QByteArray Table() const {
        QByteArray entries;
        for (const QByteArray& line :
             testsupport::ReadFile(Root() + QStringLiteral("netsh.table")).split('\n'))
            if (!line.isEmpty() && !line.startsWith('#')) entries += line + '\n';
        return entries;
    }

    // netsh becomes the wrapper that fails the change command numbered `failAt` ("K" or "K+").
    void FailAt(const QByteArray& failAt) {
        QFile::remove(Root() + QStringLiteral("netsh"));
        QFile::remove(Root() + QStringLiteral("counter"));
        ASSERT_TRUE(QFile::link(QStringLiteral(CLI_TESTCMD), Root() + QStringLiteral("netsh")));
        m_env = {{QStringLiteral("TESTCMD_NETSH_FORWARD"),
                  testsupport::StageDir() + QStringLiteral("/netsh")},
                 {QStringLiteral("TESTCMD_NETSH_COUNTER"), Root() + QStringLiteral("counter")},
                 {QStringLiteral("TESTCMD_NETSH_FAIL_AT"), QString::fromLatin1(failAt)}};
    }

    // netsh becomes the wrapper that waits `delayMs` before each run of the real stand-in and
    // writes each run's words to words.txt.
    void Slow(int delayMs) {
        QFile::remove(Root() + QStringLiteral("netsh"));
        QFile::remove(Root() + QStringLiteral("words.txt"));
        ASSERT_TRUE(QFile::link(QStringLiteral(CLI_TESTCMD), Root() + QStringLiteral("netsh")));
        m_env = {{QStringLiteral("TESTCMD_NETSH_FORWARD"),
                  testsupport::StageDir() + QStringLiteral("/netsh")},
                 {QStringLiteral("TESTCMD_NETSH_DELAY_MS"), QString::number(delayMs)},
                 {QStringLiteral("TESTCMD_NETSH_WORDS"), Root() + QStringLiteral("words.txt")}};
    }
    // The runs of netsh so far (each run's words), as the wrapper wrote them before the run.
    QList<QStringList> Runs() const {
        QList<QStringList> runs;
        for (const QByteArray& line :
             testsupport::ReadFile(Root() + QStringLiteral("words.txt")).split('\n'))
            if (!line.isEmpty()) runs << QString::fromUtf8(line).split(u'\t');
        return runs;
    }
    QString Log() const {
        return platform::FromCp932(testsupport::ReadFile(Root() + QStringLiteral("zarntool.log")));
    }
    QString Journal() const { return Root() + QStringLiteral("state/registration.journal"); }

    // Runs corvane, or with `netns` corvane inside that network namespace (through ip netns exec).
    CRun Run(const QStringList& args, const QString& netns = {}) const {
        QProcess program;
        Start(program, args, netns);
        return Finish(program);
    }
    void Start(QProcess& program, const QStringList& args, const QString& netns = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // It needs no display.
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"),
                   Root() + QStringLiteral("netsh.table"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Root() + QStringLiteral("run"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        for (const auto& [name, value] : m_env) env.insert(name, value);
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(Root());
        // The stop signals as a terminal gives them, whatever the test's parent ignores, and a
        // process group of its own, as a shell gives a foreground command.
        program.setChildProcessModifier([] {
            for (const int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
            ::setpgid(0, 0);
        });
        if (netns.isEmpty())
            program.start(Root() + QStringLiteral("corvane"), args);
        else
            program.start(QStringLiteral("ip"),
                          QStringList{"netns", "exec", netns, Root() + QStringLiteral("corvane")} + args);
    }
    // Waits for the end of a run started by Start; exit code -2 when a signal ended it.
    static CRun Finish(QProcess& program) {
        CRun result;
        if (!program.waitForStarted(10000) || !program.waitForFinished(120000)) return result;
        result.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
        result.out = QString::fromUtf8(program.readAllStandardOutput());
        result.err = QString::fromUtf8(program.readAllStandardError());
        return result;
    }

    QTemporaryDir m_dir;
    QList<std::pair<QString, QString>> m_env;
};

TEST_F(CCliTest, EachCommandItsOutputAndExitStatus) {
    const QByteArray kApplied = "50 0 ::1/128\n";
    const struct {
        QStringList args;
        int exitCode;
        QString out;       // a part of standard output
        QString err;       // a part of standard error; "-" for none at all
        QByteArray table;  // the table afterwards; empty: unchanged
    } kCases[] = {
        {{"show"}, 0, QStringLiteral("30 2 2002::/16\n10 4 ::ffff:0:0/96\n"), "-", {}},
        {{"check"}, 0, {}, "-", {}},
        {{"check", "bad.conf"},
         1,
         QStringLiteral("bad.conf:2: ポリシの項目数が不正です。\n"),
         {},
         {}},
        {{"check", "bad.conf"},
         1,
         QStringLiteral("bad.conf:3: ラベルには数値のみが使用できます。\n"),
         {},
         {}},
        {{"check", "missing.conf"},
         1,
         {},
         QStringLiteral("指定されたファイルが見つかりません。"),
         {}},
        // Using it means agreeing to the terms: without the option nothing changes.
        {{"apply"}, 2, {}, QStringLiteral("license.rtf）に同意のうえ、--accept-terms"), {}},
        {{"apply", "--accept-terms"},
         0,
         {},
         QStringLiteral("OSへの設定が完了しました。"),
         kApplied},
        {{"--quiet", "apply", "conf/policytable.conf", "--accept-terms"}, 0, {}, "-", kApplied},
        {{"apply", "bad.conf", "--accept-terms"},
         1,
         {},
         QStringLiteral("2行目が不正な形式です。"),
         {}},
        {{"default", "--accept-terms"},
         0,
         {},
         {},
         "50 0 ::1/128\n40 1 ::/0\n30 2 2002::/16\n20 3 ::/96\n"
         "10 4 ::ffff:0:0/96\n5 5 2001::/32\n"},
        {{}, 2, {}, QStringLiteral("corvane --help"), {}},
        {{"frob"}, 2, {}, QStringLiteral("（frob）"), {}},
        {{"show", "extra"}, 2, {}, QStringLiteral("（extra）"), {}},
        {{"--bogus", "show"}, 2, {}, QStringLiteral("（--bogus）"), {}},
        {{"check", "--accept-terms"}, 2, {}, QStringLiteral("（--accept-terms）"), {}},
        // The preview changes nothing; a well-known table in the policy table file format.
        {{"order", "::1"}, 0, QStringLiteral("::1  送信元 ::1  優先順位 40 ラベル 1 送信元ラベル 1\n"), "-", {}},
        {{"order", "--table", "bad.conf", "::1"}, 1, {}, QStringLiteral("2行目が不正な形式です。"), {}},
        {{"order", "no.such.host.invalid"}, 1, {}, QStringLiteral("no.such.host.invalid の名前解決ができません。"), {}},
        {{"order"}, 2, {}, QStringLiteral("（order）"), {}},
        {{"show", "--table", "x"}, 2, {}, QStringLiteral("（--table）"), {}},
        {{"table", "rfc6724-ipv4"}, 0, QStringLiteral("1,2,RFC 6724 10.3,4,100,::ffff:0:0/96\r\n"), "-", {}},
        {{"table", "rfc3484"}, 1, {}, QStringLiteral("glibc, rfc6724, rfc6724-ipv4"), {}},
        {{"--version"}, 0, QStringLiteral("1.1.0.0\n"), "-", {}},
        {{"--help"}, 0, QStringLiteral("終了ステータス: 0 成功、1 失敗、2 指定の誤り、3"), "-", {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        ResetTable();
        const CRun r = Run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.out)) << r.out.toStdString();
        if (c.err == u"-") {
            EXPECT_EQ(r.err, QString());
        } else {
            EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        }
        EXPECT_EQ(Table(), c.table.isEmpty() ? kTable : c.table);
    }
}

TEST_F(CCliTest, JsonOutputParses) {
    const auto parse = [](const QString& text) {
        return QJsonDocument::fromJson(text.toUtf8()).object();
    };

    const QJsonArray rows = parse(Run({"--json", "show"}).out)[u"rows"].toArray();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].toObject(),
              (QJsonObject{{"precedence", 30}, {"label", 2}, {"prefix", "2002::/16"}}));

    const CRun check = Run({"--json", "check", "bad.conf"});
    EXPECT_EQ(check.exitCode, 1);
    const QJsonObject report = parse(check.out);
    EXPECT_EQ(report[u"rows"].toInt(), 1);
    const QJsonArray rejected = report[u"rejected"].toArray();
    ASSERT_EQ(rejected.size(), 2);
    EXPECT_EQ(rejected[0].toObject()[u"line"].toInt(), 2);
    EXPECT_EQ(rejected[0].toObject()[u"id"].toInt(), 800);
    EXPECT_EQ(rejected[1].toObject()[u"line"].toInt(), 3);
    EXPECT_EQ(rejected[1].toObject()[u"id"].toInt(), 507);
    EXPECT_EQ(rejected[1].toObject()[u"text"].toString(),
              QStringLiteral("ラベルには数値のみが使用できます。"));

    // Errors on standard error: the message number and its text.
    const struct {
        QStringList args;
        int exitCode;
        int id;
    } kErrors[] = {{{"--json", "apply", "bad.conf", "--accept-terms"}, 1, 521},
                   {{"--json", "apply"}, 2, 801},
                   {{"--json", "frob"}, 2, 802}};
    for (const auto& c : kErrors) {
        const CRun r = Run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        const QJsonObject error = parse(r.err);
        EXPECT_EQ(error[u"id"].toInt(), c.id) << r.err.toStdString();
        EXPECT_TRUE(error[u"error"].toBool());
        EXPECT_FALSE(error[u"text"].toString().isEmpty());
    }
    EXPECT_EQ(Table(), kTable);
}

// Precedences and labels up to 4294967295 come out of every command's JSON as the numbers they
// are, not cut to an int: from the system's table (show) and from the network (fetch, where the
// settings file gives both).
TEST_F(CCliTest, JsonCarriesEveryValueAsItIs) {
    nettest::CLoopbackServer server;
    ASSERT_TRUE(server.Listen());
    server.Start(nettest::SendChunks({"HTTP/1.0 200 OK\r\n\r\nfirst\r\nx,2001:db8:2925::/48\r\n"}));
    const QString ini = Root() + QStringLiteral("conf/zarntool.ini");
    const QByteArray settings = testsupport::ReadFile(ini);
    const struct {
        qint64 precedence;
        qint64 label;
    } kCases[] = {{4294967295, 7}, {2147483648, 4294967294}, {2147483647, 2147483647}, {1, 0}};
    for (const auto& c : kCases) {
        const QByteArray p = QByteArray::number(c.precedence);
        const QByteArray l = QByteArray::number(c.label);
        SCOPED_TRACE((p + ' ' + l).toStdString());
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"),
                                           p + ' ' + l + " 2001:db8:2925::/48\n"));
        ASSERT_TRUE(testsupport::WriteFile(
            ini, QByteArray(settings)
                     .replace("LABEL=0", "LABEL=" + l)
                     .replace("PRIORITY=0", "PRIORITY=" + p)));
        for (const QStringList& args :
             {QStringList{"--json", "show"},
              QStringList{"--json", "fetch", "http", "--address", server.Address()}}) {
            const CRun r = Run(args);
            EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
            // The text itself: a reader that takes numbers as doubles still gets them exactly.
            EXPECT_TRUE(r.out.contains(QStringLiteral("\"label\":") + QString::fromLatin1(l)))
                << r.out.toStdString();
            EXPECT_TRUE(r.out.contains(QStringLiteral("\"precedence\":") + QString::fromLatin1(p)))
                << r.out.toStdString();
            const QJsonObject row = QJsonDocument::fromJson(r.out.toUtf8())
                                        .object()[u"rows"].toArray()[0].toObject();
            EXPECT_EQ(row[u"precedence"].toInteger(-1), c.precedence) << r.out.toStdString();
            EXPECT_EQ(row[u"label"].toInteger(-1), c.label);
        }
    }
    server.Stop();
}

// With [APPLICATION] BATCH 0 (one process per command) and 2 (netsh scripts of two commands).
class CCliBatchTest : public CCliTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        CCliTest::SetUp();
        SetBatch(GetParam());
    }
};

TEST_P(CCliBatchTest, AFailedRegistrationPutsTheTableBackOrEndsWithStatus3) {
    // Status 3 only when a restore was needed and failed: a plan refused before any command
    // ran (a prefix given twice) needed none, whatever fails afterwards.
    ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("twice.conf"),
                                       "1,0,A,0,50,::1/128\r\n1,0,B,1,40,::1/128\r\n"));
    const struct {
        QByteArray failAt;  // the change command that fails
        const char* file;
        int exitCode;
        QString message;
    } kCases[] = {
        {"1", "conf/policytable.conf", 1, k519},   // the first delete
        {"3", "conf/policytable.conf", 1, k519},   // the first add
        {"2+", "conf/policytable.conf", 3, k520},  // a delete and everything after, the restore too
        {"1+", "twice.conf", 1, QStringLiteral("::1/128は既に存在します。")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.failAt.toStdString());
        ResetTable();
        FailAt(c.failAt);
        const CRun r = Run({"apply", QString::fromLatin1(c.file), "--accept-terms"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
        if (c.exitCode == 1) {
            EXPECT_EQ(Table(), kTable);
        }
    }
}

TEST_F(CCliTest, FetchAndExportWriteTheirFiles) {
    nettest::CLoopbackServer server;
    ASSERT_TRUE(server.Listen());
    server.Start(nettest::SendChunks({"HTTP/1.0 200 OK\r\n\r\nfirst\r\nx,2001:db8::/32\r\n"}));
    const QString address = server.Address();
    const QByteArray kFetched = "0,1,Network(HTTP_DEFAULT),0,0,2001:db8::/32\r\n";
    const struct {
        QStringList args;
        int exitCode;
        QByteArray out;      // all of standard output
        QString err;         // a part of standard error
        const char* file;    // a file it writes, or nullptr
        QByteArray content;  // a part of that file
    } kCases[] = {
        {{"fetch", "http", "--address", address}, 0, kFetched, {}, nullptr, {}},
        {{"fetch", "http", "--address", address, "-o", "f.conf"}, 0, {}, {}, "f.conf", kFetched},
        {{"fetch", "http", "--address", nettest::UnusedLoopbackAddress()},
         1,
         {},
         QStringLiteral("設定されたサーバに接続ができませんでした。"),
         nullptr,
         {}},
        {{"export", "out.dat"},
         0,
         {},
         QStringLiteral("ファイルの出力が完了しました。"),
         "out.dat",
         "netsh interface ipv6 show prefixpolicies\r\n"},
        {{"export", "no-folder/out.dat"},
         1,
         {},
         QStringLiteral("ファイルに書き込みが出来ません。"),
         nullptr,
         {}},
        {{"fetch", "ftp"}, 2, {}, QStringLiteral("（ftp）"), nullptr, {}},
        {{"fetch", "dhcp", "--address", "x"}, 2, {}, QStringLiteral("（--address）"), nullptr, {}},
        {{"fetch", "dhcp", "--option-code", "0"},
         2,
         {},
         QStringLiteral("（--option-code）"),
         nullptr,
         {}},
        {{"fetch", "http", "-o"}, 2, {}, QStringLiteral("（-o）"), nullptr, {}},
        {{"export"}, 2, {}, QStringLiteral("（export）"), nullptr, {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CRun r = Run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(r.out.toUtf8(), c.out);
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
        if (c.file) {
            EXPECT_TRUE(testsupport::ReadFile(Root() + QLatin1String(c.file)).contains(c.content));
        }
    }
    // Network use switched off in the settings file: nothing is fetched.
    const QString ini = Root() + QStringLiteral("conf/zarntool.ini");
    ASSERT_TRUE(testsupport::WriteFile(
        ini, testsupport::ReadFile(ini).replace("USE_NETWORK=1", "USE_NETWORK=0")));
    const int before = server.Connections();
    const CRun off = Run({"fetch", "http", "--address", address});
    EXPECT_EQ(off.exitCode, 1);
    EXPECT_TRUE(
        off.err.contains(QStringLiteral("ネットワークからの取得は設定で無効になっています。")));
    EXPECT_EQ(server.Connections(), before);
    server.Stop();
}

// corvane fetch dhcp across a real link: a responder in the server namespace answers with the
// policy option, as a private code and as the standard option 84; with no policy it says so.
TEST_F(CCliTest, FetchDhcpAcrossALink) {
    const QString unavailable = nettest::NamespaceTestsUnavailable();
    if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
    nettest::CVethLink link;
    QString reason;
    ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();
    const auto option = [](int code, const QByteArray& data) {
        QByteArray o;
        for (const int byte : {code >> 8, code & 0xFF, int(data.size() >> 8), int(data.size() & 0xFF)})
            o += char(byte);
        return o + data;
    };
    const QByteArray privateEntries = QByteArray::fromHex("0a28003020010db8000101020000");  // /48 and ::/0
    const QByteArray standard = QByteArray(1, '\0') + option(85, QByteArray::fromHex("0a283020010db80001")) +
                                option(85, QByteArray::fromHex("010200"));
    const QByteArray kRows = "0,1,Network(DHCP_DEFAULT),10,40,2001:db8:1::/48\r\n0,1,Network(DHCP_DEFAULT),1,2,::/0\r\n";
    const struct {
        QStringList args;
        QByteArray reply;  // the options of the Reply
        int exitCode;
        QByteArray out;
        QString err;
    } kCases[] = {
        {{"fetch", "dhcp", "--option-code", "250"}, option(250, privateEntries), 0, kRows, {}},
        {{"fetch", "dhcp", "--option-code", "84"}, option(84, standard), 0, kRows, {}},
        {{"fetch", "dhcp", "--option-code", "250"}, option(2, "server"), 0, {}, QStringLiteral("OPTION_CODE=250")},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        nettest::CResponder responder;
        responder.Start(link.ServerNamespace(), [&c](const QByteArray& request) {
            return QList<QByteArray>{QByteArray(1, char(7)) + request.mid(1, 3) + c.reply};
        });
        ASSERT_TRUE(responder.m_ready);
        const CRun r = Run(c.args, link.ClientNamespace());
        responder.Join();
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(r.out.toUtf8(), c.out);
        EXPECT_TRUE(r.err.contains(c.err)) << r.err.toStdString();
    }
}

// On a terminal a registration shows how far it is, one line rewritten in place; the same run
// with standard error on a pipe shows no such line (the other tests).
TEST_F(CCliTest, AProgressLineOnATerminalOnly) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QByteArray slave = ::ptsname(master);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QLatin1String(name));
    env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"), Root() + QStringLiteral("netsh.table"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Root() + QStringLiteral("run"));
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    QList<QByteArray> envBytes;
    for (const QString& entry : env.toStringList()) envBytes << entry.toLocal8Bit();
    std::vector<char*> envp;
    for (QByteArray& e : envBytes) envp.push_back(e.data());
    envp.push_back(nullptr);
    const QByteArray program = (Root() + QStringLiteral("corvane")).toLocal8Bit();
    std::vector<char*> argv = {const_cast<char*>(program.constData()), const_cast<char*>("apply"),
                               const_cast<char*>("--accept-terms"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, slave.constData(), O_RDWR | O_NOCTTY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(spawned, 0);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // The child has ended: what it wrote is waiting on the master side.
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
    QByteArray seen;
    char buffer[4096];
    for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen.constData();
    const QString text = QString::fromUtf8(seen);
    EXPECT_TRUE(text.contains(QStringLiteral("\rOSに設定しています… 1/"))) << seen.constData();
    EXPECT_EQ(Table(), QByteArray("50 0 ::1/128\n"));
}

// A registration of 20 change commands (two deletes, 18 adds), each run of the stand-in slowed
// down, and the table as the stand-in writes it, so that a put-back table is the same file.
const QByteArray kStandInTable =
    "# netsh interface ipv6 prefix policies: precedence label prefix\n"
    "30 2 2002::/16\n10 4 ::ffff:0:0/96\n";

class CInterruptTest : public CCliTest, public ::testing::WithParamInterface<int> {
protected:
    void SetUp() override {
        CCliTest::SetUp();
        SetBatch(GetParam());
        QByteArray rows;
        for (int i = 0; i < 18; ++i)
            rows += "1,0,N" + QByteArray::number(i) + ',' + QByteArray::number(i % 10) + ',' +
                    QByteArray::number(10 + i) + ",2001:db8:" + QByteArray::number(i + 1, 16) + "::/48\r\n";
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/policytable.conf"), rows));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"), kStandInTable));
    }
    QByteArray TableFile() const { return testsupport::ReadFile(Root() + QStringLiteral("netsh.table")); }
    // Change commands begun so far.
    int Changes() const {
        int n = 0;
        for (const QStringList& run : Runs()) n += run.value(2) != u"show";
        return n;
    }
    // Starts `corvane apply` and waits until its k-th change command has begun.
    bool ApplyUntil(QProcess& program, int k) {
        Start(program, {"apply", "--accept-terms"});
        QElapsedTimer clock;
        clock.start();
        while (Changes() < k && clock.elapsed() < 60000 && program.state() != QProcess::NotRunning)
            QThread::msleep(2);
        return Changes() >= k;
    }
    // To the program alone, or to its whole process group as the terminal sends Ctrl-C.
    void Signal(const QProcess& program, int signal, bool group = false) {
        const pid_t pid = pid_t(program.processId());
        ASSERT_EQ(::kill(group ? -pid : pid, signal), 0);
    }
};

// SIGINT, SIGTERM or SIGHUP after k commands: the command running ends, no other one starts, the
// table is put back byte for byte (a second signal does not cut that short), the first signal
// is logged, and the status is 128 plus its number.
TEST_P(CInterruptTest, AStopSignalPutsTheTableBackAndEndsWith128PlusItsNumber) {
    const struct {
        int signal;
        const char* name;
        int k;  // change commands begun
    } kCases[] = {
        // Each signal at two points, each point with two signals: among the deletes, at the
        // first add, among the adds.
        {SIGINT, "SIGINT", 1},  {SIGTERM, "SIGTERM", 3}, {SIGHUP, "SIGHUP", 12},
        {SIGINT, "SIGINT", 12}, {SIGTERM, "SIGTERM", 1}, {SIGHUP, "SIGHUP", 3},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(std::string(c.name) + " after " + std::to_string(c.k));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"), kStandInTable));
        QFile::remove(Root() + QStringLiteral("zarntool.log"));
        Slow(30);
        QProcess program;
        ASSERT_TRUE(ApplyUntil(program, c.k));
        // Ctrl-C reaches the whole foreground group; the running netsh has a group of its own
        // and finishes its command (no failure is reported).
        Signal(program, c.signal, c.signal == SIGINT);
        // Another one while the table is put back changes nothing.
        QThread::msleep(60);
        ::kill(pid_t(program.processId()), c.signal == SIGTERM ? SIGINT : SIGTERM);
        const CRun r = Finish(program);
        EXPECT_EQ(r.exitCode, 128 + c.signal) << r.err.toStdString();
        EXPECT_EQ(TableFile(), kStandInTable);
        EXPECT_EQ(r.err.trimmed().toStdString(), k519.toStdString());
        EXPECT_TRUE(Log().contains(QStringLiteral("シグナル%1（%2）を受け取りました。処理を中止します。")
                                       .arg(c.signal)
                                       .arg(QLatin1String(c.name))));
        EXPECT_FALSE(QFile::exists(Journal()));
        // The listing, the changes begun (the one running when the signal came may have been
        // followed by none), then the restore's own listing.
        const QList<QStringList> runs = Runs();
        qsizetype restore = 1;
        while (restore < runs.size() && runs[restore].value(2) != u"show") ++restore;
        EXPECT_GE(restore - 1, c.k);
        // Through scripts, the rest of the script that was running when the signal came.
        EXPECT_LE(restore - 1, GetParam() == 0 ? c.k + 1 : (c.k + GetParam()) / GetParam() * GetParam());
    }
    // Outside a registration the signals end the program as ever.
    Slow(400);
    QProcess show;
    Start(show, {"show"});
    ASSERT_TRUE(show.waitForStarted(10000));
    QThread::msleep(200);
    Signal(show, SIGTERM);
    EXPECT_EQ(Finish(show).exitCode, -2);
}

// kill -9 after k commands leaves the journal; the next start of any command puts the table
// back before it runs, says so, and removes the journal.
TEST_P(CInterruptTest, AKilledRegistrationIsPutBackAtTheNextStart) {
    for (const int k : {2, 12}) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"), kStandInTable));
        Slow(30);
        QProcess program;
        ASSERT_TRUE(ApplyUntil(program, k));
        Signal(program, SIGKILL);
        EXPECT_EQ(Finish(program).exitCode, -2);
        EXPECT_TRUE(QFile::exists(Journal()));
        // The command that was running finishes on its own: the table is then a half one.
        QElapsedTimer clock;
        clock.start();
        while (TableFile() == kStandInTable && clock.elapsed() < 10000) QThread::msleep(5);
        EXPECT_NE(TableFile(), kStandInTable);

        const CRun show = Run({"show"});
        EXPECT_EQ(show.exitCode, 0) << show.err.toStdString();
        EXPECT_EQ(show.out, QStringLiteral("30 2 2002::/16\n10 4 ::ffff:0:0/96\n"));
        EXPECT_TRUE(show.err.startsWith(QStringLiteral("中断された登録がありました。OSのポリシテーブルを登録前の状態に戻しました。")))
            << show.err.toStdString();
        EXPECT_EQ(TableFile(), kStandInTable);
        EXPECT_FALSE(QFile::exists(Journal()));
    }
}

// A journal that is not a whole one is never acted on: it is moved aside and reported, and the
// table is left alone. A whole one whose table cannot be put back stays for the next start.
TEST_P(CInterruptTest, ADamagedJournalIsSetAsideAndOneNotPutBackIsKept) {
    const QByteArray body = "Corvane registration journal 1\r\nsaved 1\r\n50 0 ::1/128\r\nplanned 0\r\n";
    const QByteArray whole = body + "end " + QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex() + "\r\n";
    QByteArray changed = whole;
    changed.replace("50 0", "51 0");
    const struct {
        QByteArray journal;
        QByteArray failAt;  // the restore's change command that fails, or none
        QString message;
        bool kept;
    } kCases[] = {
        {whole.first(whole.size() - 10), {}, QStringLiteral("登録の記録ファイルが壊れているため、使用しませんでした。"), false},
        {changed, {}, QStringLiteral("登録の記録ファイルが壊れているため、使用しませんでした。"), false},
        {"", {}, QStringLiteral("登録の記録ファイルが壊れているため、使用しませんでした。"), false},
        {whole, "1+", QStringLiteral("中断された登録がありました。OSのポリシテーブルを登録前の状態に戻せませんでした。"), true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.journal.toStdString());
        QDir(Root() + QStringLiteral("state")).removeRecursively();
        ASSERT_TRUE(testsupport::WriteFile(Journal(), c.journal));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.table"), kStandInTable));
        m_env.clear();
        if (!c.failAt.isEmpty()) FailAt(c.failAt);
        const CRun show = Run({"--json", "show"});
        EXPECT_EQ(show.exitCode, 0);
        const QJsonObject error = QJsonDocument::fromJson(show.err.toUtf8().split('\n').first()).object();
        EXPECT_TRUE(error[u"text"].toString().startsWith(c.message)) << show.err.toStdString();
        EXPECT_EQ(error[u"id"].toInt(), c.kept ? 526 : 527);
        EXPECT_EQ(TableFile(), kStandInTable);
        EXPECT_EQ(QFile::exists(Journal()), c.kept);
        const QStringList aside = QDir(Root() + QStringLiteral("state"))
                                      .entryList({QStringLiteral("registration.journal.damaged-*")}, QDir::Files);
        ASSERT_EQ(aside.size(), c.kept ? 0 : 1);
        if (!c.kept) {
            EXPECT_TRUE(error[u"text"].toString().contains(aside.first()));
            EXPECT_EQ(testsupport::ReadFile(Root() + QStringLiteral("state/") + aside.first()), c.journal);
        }
    }
}

// A fetch stops waiting for a server that never answers as soon as a signal comes.
TEST_P(CInterruptTest, ASignalEndsTheWaitOfAFetchAtOnce) {
    nettest::CLoopbackServer server;
    ASSERT_TRUE(server.Listen());
    server.Start([](int fd, nettest::CLoopbackServer& s) {
        s.ReadRequest(fd);
        s.WaitForStop(60000);
    });
    QProcess program;
    Start(program, {"fetch", "http", "--address", server.Address()});
    QElapsedTimer clock;
    clock.start();
    while (server.Requests().isEmpty() && clock.elapsed() < 20000) QThread::msleep(10);
    ASSERT_FALSE(server.Requests().isEmpty());
    clock.restart();
    Signal(program, SIGINT);
    const CRun r = Finish(program);
    EXPECT_EQ(r.exitCode, 130) << r.err.toStdString();
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(r.out.isEmpty());
    server.Stop();
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Batch, CCliBatchTest, ::testing::Values(0, 2),
                         [](const ::testing::TestParamInfo<int>& p) { return "Batch" + std::to_string(p.param); });
INSTANTIATE_TEST_SUITE_P(Batch, CInterruptTest, ::testing::Values(0, 2),
                         [](const ::testing::TestParamInfo<int>& p) { return "Batch" + std::to_string(p.param); });
