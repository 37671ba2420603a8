// corvane from outside: each command, its output (--json parsed), its exit status, and a
// failed registration putting the table back, on a copy of the staged installation.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include "net/dhcpresponder.h"
#include "net/loopbackserver.h"
#include "net/netns.h"
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

    // Runs corvane, or with `netns` corvane inside that network namespace (through ip netns exec).
    CRun Run(const QStringList& args, const QString& netns = {}) const {
        QProcess program;
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
        if (netns.isEmpty())
            program.start(Root() + QStringLiteral("corvane"), args);
        else
            program.start(QStringLiteral("ip"),
                          QStringList{"netns", "exec", netns, Root() + QStringLiteral("corvane")} + args);
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

TEST_F(CCliTest, AFailedRegistrationPutsTheTableBackOrEndsWithStatus3) {
    const struct {
        QByteArray failAt;  // the change command that fails
        int exitCode;
        QString message;
    } kCases[] = {
        {"1", 1, k519},   // the first delete
        {"3", 1, k519},   // the first add
        {"2+", 3, k520},  // a delete and everything after, the restore too
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.failAt.toStdString());
        ResetTable();
        FailAt(c.failAt);
        const CRun r = Run({"apply", "--accept-terms"});
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

}  // namespace
