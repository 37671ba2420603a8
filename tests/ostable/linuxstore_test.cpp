// The system store as an administrator uses an installation: `corvane apply` and the real netsh
// on /etc/gai.conf and the kernel's address labels, checked against the kernel and glibc in
// private mount and network namespaces. Each such test runs itself again inside them (through
// gaiprobe exec), with its own folder as /etc.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <random>

#include "ostabletest.h"
#include "platform/codepage.h"
#include "platform/ipv6text.h"
#include "platform/process.h"
#include "platform/selfpath.h"

namespace {

const char kInside[] = "CORVANE_TEST_IN_NAMESPACES";

struct CRow {
    QString prefix;
    unsigned precedence = 0;
    unsigned label = 0;
};

// "precedence label prefix", as netsh lists a row.
QString Text(const CRow& r) { return QStringLiteral("%1 %2 %3").arg(r.precedence).arg(r.label).arg(r.prefix); }

// The prefix's bytes with the host bits cleared and its length, as hex: how the kernel keys it.
QString KernelKey(const QString& prefix) {
    std::array<std::uint8_t, 16> bytes{};
    const int length = prefix.section(u'/', 1).toInt();
    if (!platform::ParseIpv6Address(prefix.section(u'/', 0, 0).toLatin1().constData(), bytes)) return prefix;
    for (int bit = length; bit < 128; ++bit) bytes[std::size_t(bit / 8)] &= std::uint8_t(~(0x80u >> (bit % 8)));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()), 16).toHex()) + u'/' +
           QString::number(length);
}

// What the kernel's label table takes (net/ipv6/addrlabel.c refuses an IPv4-mapped prefix
// longer than /96).
bool KernelHolds(const QString& prefix) {
    return !(KernelKey(prefix).startsWith(QStringLiteral("00000000000000000000ffff")) &&
             prefix.section(u'/', 1).toInt() > 96);
}

class LinuxStore : public ostabletest::COsTableTest {
protected:
    // Outside: runs this test again in the namespaces and checks that it passed there.
    void RunInside() {
        const QString dir = t.Dir() + QStringLiteral("ns/");
        ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("etc")));
        ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("etc/gai.conf"), ""));
        ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("etc/hosts"),
                                           "127.0.0.1 localhost\n192.0.2.2 peer.test\n2001:db8:1::2 peer.test\n"
                                           "fd00:1::2 peer.test\n2002:c000:202::2 peer.test\n"));
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const ostabletest::CEnvVar inside(kInside, "1");
        // Hundreds of short runs: the leak check at each exit would double their time (the
        // other tests of these programs keep it).
        const ostabletest::CEnvVar leaks("ASAN_OPTIONS", "detect_leaks=0");
        const platform::CRunResult run = platform::RunCaptured(
            QStringLiteral(OSTABLE_GAIPROBE),
            {QStringLiteral("gaiprobe"), QStringLiteral("exec"), dir, platform::ProgramFilePath(),
             QStringLiteral("--gtest_filter=%1.%2").arg(QLatin1String(info->test_suite_name()), QLatin1String(info->name()))});
        const QString output = QString::fromUtf8(run.output);
        EXPECT_TRUE(run.exited && run.exitCode == 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
    }

    // Inside: an installation in the test's folder (OS=Linux, the system store) and the tools.
    void Install() {
        const QString stage = testsupport::StageDir() + u'/';
        ASSERT_TRUE(QFile::copy(stage + QStringLiteral("corvane"), t.Dir() + QStringLiteral("corvane")));
        QFile(t.Dir() + QStringLiteral("corvane")).setPermissions(QFile::permissions(stage + QStringLiteral("corvane")));
        InstallStandIns();
        for (const char* f : {"conf/zarntool.ini", "conf/policytable.conf.default", "conf/langs/Japanese/lang.json",
                              "conf/langs/Japanese/license.rtf"}) {
            ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QLatin1String(f), testsupport::ReadFile(stage + QLatin1String(f))));
        }
        ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("conf/policytable.conf"), ""));
        SetOs(QStringLiteral("Linux"));
        ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("run")));
        QFile(t.Dir() + QStringLiteral("run")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("NETSH_STORE", "system"));
        m_env.emplace_back(std::make_unique<ostabletest::CEnvVar>("XDG_RUNTIME_DIR", (t.Dir() + QStringLiteral("run")).toLocal8Bit()));
        qunsetenv("NETSH_GAI_CONF");
        qunsetenv("NETSH_KERNEL_LABELS");
    }

    platform::CRunResult Corvane(const QStringList& args) const {
        return platform::RunCaptured(t.Dir() + QStringLiteral("corvane"), QStringList{QStringLiteral("corvane")} + args);
    }
    // Installs `rows` with corvane apply; its exit code, the output on failure.
    int Apply(const QList<CRow>& rows, QString* output = nullptr) const {
        QByteArray file;
        for (const CRow& r : rows)
            file += QStringLiteral("1,0,Row,%1,%2,%3\r\n").arg(r.label).arg(r.precedence).arg(r.prefix).toUtf8();
        testsupport::WriteFile(t.Dir() + QStringLiteral("table.conf"), file);
        const platform::CRunResult run = Corvane({QStringLiteral("--json"), QStringLiteral("apply"),
                                                  t.Dir() + QStringLiteral("table.conf"), QStringLiteral("--accept-terms")});
        if (output) *output = QString::fromUtf8(run.output);
        return run.exited ? run.exitCode : -1;
    }
    // corvane --json show: the rows, sorted as text.
    QList<CRow> Shown() const {
        QList<CRow> rows;
        const QJsonObject json = QJsonDocument::fromJson(Corvane({QStringLiteral("--json"), QStringLiteral("show")}).output).object();
        for (const QJsonValue& v : json[u"rows"].toArray())
            rows.append({v[u"prefix"].toString(), unsigned(v[u"precedence"].toInt()), unsigned(v[u"label"].toInt())});
        return rows;
    }
    // netsh's listing, rows as text, sorted.
    QStringList Listing() const {
        QStringList rows;
        const QString out = platform::FromCp932(
            platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/netsh"),
                                  {QStringLiteral("netsh"), QStringLiteral("interface"), QStringLiteral("ipv6"),
                                   QStringLiteral("show"), QStringLiteral("prefixpolicies")})
                .output);
        for (const QString& line : out.split(QStringLiteral("\r\n")).mid(4))
            if (!line.isEmpty()) rows << line.simplified();
        rows.sort();
        return rows;
    }
    // gaiprobe query: the kernel's labels ("key label", sorted) and the order for peer.test.
    QStringList Query(QStringList* order = nullptr) const {
        const QString out = QString::fromUtf8(
            platform::RunCaptured(QStringLiteral(OSTABLE_GAIPROBE),
                                  {QStringLiteral("gaiprobe"), QStringLiteral("query"), QStringLiteral("peer.test")})
                .output);
        QStringList labels;
        for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList w = line.split(u' ');
            if (w[0] == u"label") labels << KernelKey(w[1]) + u' ' + w[2];
            if (w[0] == u"address" && order && !order->contains(w[1])) *order << w[1];
            EXPECT_FALSE(line.startsWith(QStringLiteral("failed"))) << line.toStdString();
        }
        labels.sort();
        return labels;
    }
    // The rows glibc follows once `rows` are registered: they and the "::/0" glibc adds.
    static QList<CRow> Effective(QList<CRow> rows) {
        if (std::none_of(rows.begin(), rows.end(), [](const CRow& r) { return r.prefix.endsWith(QStringLiteral("/0")); }))
            rows.append({QStringLiteral("::/0"), 40, 1});
        return rows;
    }
    static QStringList Texts(const QList<CRow>& rows) {
        QStringList texts;
        for (const CRow& r : rows) texts << Text(r);
        texts.sort();
        return texts;
    }
    static QStringList KernelLabels(const QList<CRow>& rows) {
        QStringList labels;
        for (const CRow& r : Effective(rows))
            if (KernelHolds(r.prefix)) labels << KernelKey(r.prefix) + u' ' + QString::number(r.label);
        labels.sort();
        return labels;
    }

    std::vector<std::unique_ptr<ostabletest::CEnvVar>> m_env;
};

#define RUN_INSIDE_NAMESPACES()                                                                  \
    if (!qEnvironmentVariableIsSet(kInside)) {                                                   \
        if (::geteuid() != 0) GTEST_SKIP() << "needs root: private mount and network namespaces"; \
        RunInside();                                                                             \
        return;                                                                                  \
    }                                                                                            \
    Install()

// A seeded table of 1 or 2 rows from a pool of every prefix form glibc takes: IPv4-mapped
// prefixes of every length from 96 to 128 (some with host bits), ::/96, ::1/128, ::/0, 6to4,
// Teredo, ULA and documentation prefixes; no two rows for one prefix.
QList<CRow> RandomTable(std::mt19937& rng, int& mappedLength) {
    static const QStringList kPool = {"::/96", "::1/128", "::/0", "2002::/16", "2002:c000:204::/48", "2001::/32",
                                      "fc00::/7", "fd00::/8", "fd12:3456:789a::/48", "2001:db8::/32",
                                      "2001:db8:1::/48", "::ffff:0:0/96"};
    QList<CRow> rows;
    QStringList keys;
    const int count = 1 + int(rng() % 2);
    while (rows.size() < count) {
        QString prefix;
        if (rng() % 2 == 0) {
            const int length = 96 + mappedLength++ % 33;
            prefix = QStringLiteral("::ffff:%1.%2.%3.%4/%5").arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(rng() % 256).arg(length);
        } else {
            prefix = kPool[int(rng() % kPool.size())];
        }
        if (keys.contains(KernelKey(prefix))) continue;
        keys << KernelKey(prefix);
        rows.append({prefix, unsigned(rng() % 101), unsigned(rng() % 101)});
    }
    return rows;
}

}  // namespace

// Random tables install with status 0; the listing is the table (with the "::/0" glibc adds) and
// the kernel holds every row it can take.
TEST_F(LinuxStore, RandomTablesOfEveryPrefixFormInstallAndReadBack) {
    RUN_INSIDE_NAMESPACES();
    std::mt19937 rng(20261207);
    int mappedLength = 0;
    for (int i = 0; i < 100; ++i) {
        const QList<CRow> table = RandomTable(rng, mappedLength);
        QString output;
        ASSERT_EQ(Apply(table, &output), 0) << Texts(table).join(u',').toStdString() << output.toStdString();
        // corvane itself read the table back (501 otherwise); `show` is asked now and then.
        if (i % 5 == 0) {
            EXPECT_EQ(Texts(Shown()), Texts(Effective(table)));
        }
        EXPECT_EQ(Query(), KernelLabels(table)) << Texts(table).join(u',').toStdString();
    }
    EXPECT_GE(mappedLength, 33);  // every mapped length was drawn at least once
}

// A failure of the kernel part at any netlink step of a registration: corvane ends with status
// 1 (never 3), and the saved table is back byte for byte in the file and in the kernel.
TEST_F(LinuxStore, AFailedKernelStepAnywhereLeavesTheSavedTableInFileAndKernel) {
    RUN_INSIDE_NAMESPACES();
    // One process per command, then netsh scripts (one transaction per script: fewer steps).
    for (const char* batch : {"0", "1"}) {
        SCOPED_TRACE(batch);
        t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("BATCH"), QLatin1String(batch));
        ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), "# the administrator's lines\nreload no"));
        const QList<CRow> saved = {{"::ffff:192.0.2.0/120", 45, 9}, {"::/0", 40, 1}, {"::1/128", 35, 0}};
        ASSERT_EQ(Apply(saved), 0);
        const QByteArray file = testsupport::ReadFile(QStringLiteral("/etc/gai.conf"));
        const QStringList labels = Query();
        ASSERT_EQ(labels, KernelLabels(saved));
        const QList<CRow> plan = {{"2001:db8::/32", 60, 3}};
        const QString steps = t.Dir() + QStringLiteral("steps");
        int k = 1;
        for (;; ++k) {
            QFile::remove(steps);
            int code = 0;
            QString output;
            {
                const ostabletest::CEnvVar fail("NETSH_TEST_NETLINK_FAIL", QByteArray::number(k));
                const ostabletest::CEnvVar counter("NETSH_TEST_NETLINK_STEPS", steps.toLocal8Bit());
                code = Apply(plan, &output);
            }
            if (code == 0) break;  // past the registration's last step
            EXPECT_EQ(code, 1) << "k=" << k << output.toStdString();
            EXPECT_EQ(QString::fromUtf8(testsupport::ReadFile(QStringLiteral("/etc/gai.conf"))), QString::fromUtf8(file)) << "k=" << k;
            EXPECT_EQ(Query(), labels) << "k=" << k;
            if (k > 200) FAIL() << "no end to the steps";
        }
        EXPECT_GT(k, *batch == '0' ? 10 : 3);
        RecordProperty(std::string("netlink_steps_batch") + batch, k - 1);
        EXPECT_EQ(Listing(), Texts(Effective(plan)));
        EXPECT_EQ(Query(), KernelLabels(plan));
    }
}

// The transaction of one netsh command: the kernel part fails, so the file stays as it was; the
// output names the part, with the access-denied text only for EPERM; a boot loads the labels.
TEST_F(LinuxStore, AFailedCommandChangesNothingAndSaysWhichPartFailed) {
    RUN_INSIDE_NAMESPACES();
    const QByteArray start = "reload no\nprecedence ::1/128 50\nlabel ::1/128 0\n";
    ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), start));
    const auto netsh = [](const QStringList& words) {
        return platform::FromCp932(
            platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/netsh"), QStringList{QStringLiteral("netsh")} + words,
                                  platform::CRunOptions{true})
                .output);
    };
    const QStringList add = {"interface", "ipv6", "add", "prefixpolicy", "2001:db8::/32", "45", "13"};
    const QString part = QStringLiteral("変更できなかった部分: カーネルのアドレス ラベル\r\n\r\n");
    const struct {
        const char* fail;
        QString text;
    } cases[] = {{"1:1", QStringLiteral("アクセスが拒否されました。\r\n") + part},
                 {"2:13", QStringLiteral("アクセスが拒否されました。\r\n") + part},
                 {"3", QStringLiteral("システムに接続されたデバイスが機能していません。\r\n") + part},
                 {"2:22", QStringLiteral("システムに接続されたデバイスが機能していません。\r\n") + part}};
    QStringList labels = Query();
    for (const auto& c : cases) {
        const ostabletest::CEnvVar fail("NETSH_TEST_NETLINK_FAIL", c.fail);
        EXPECT_EQ(netsh(add), c.text) << c.fail;
        EXPECT_EQ(testsupport::ReadFile(QStringLiteral("/etc/gai.conf")), start) << c.fail;
    }
    EXPECT_EQ(Query(), labels);
    EXPECT_EQ(netsh(add), QStringLiteral("OK\r\n\r\n"));
    // A boot: the kernel's table starts with its own defaults, and the file's rows are loaded.
    ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), "precedence ::ffff:192.0.2.0/120 50\nlabel fd00::/8 7\n"));
    labels = Query();
    EXPECT_EQ(labels, QStringList({KernelKey("::/0") + " 1", KernelKey("::1/128") + " 0", KernelKey("2001:db8::/32") + " 13"}));
    {
        const ostabletest::CEnvVar off("NETSH_KERNEL_LABELS", "0");
        EXPECT_EQ(netsh({QStringLiteral("--load-kernel-labels")}), QStringLiteral("OK\r\n\r\n"));
        EXPECT_EQ(Query(), labels);  // left alone
    }
    EXPECT_EQ(netsh({QStringLiteral("--load-kernel-labels")}), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(Query(), QStringList({KernelKey("::/0") + " 1", KernelKey("fd00::/8") + " 7"}));
}

// Registering exactly what `show` lists leaves glibc's order as it was, for files with lines of
// one kind, of both, of none; a table added to a file whose last line has no line feed starts
// on a line of its own and glibc follows it.
TEST_F(LinuxStore, RegisteringTheListingKeepsGlibcsOrder) {
    RUN_INSIDE_NAMESPACES();
    for (const char* start : {"precedence ::ffff:0:0/96 100\n", "label 2002::/16 1\n", "# none\nreload no",
                              "label ::ffff:0:0/96 1\nprecedence 2002::/16 45\nlabel 2002::/16 7"}) {
        ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), start));
        QStringList before;
        Query(&before);
        const QList<CRow> listed = Shown();
        ASSERT_FALSE(listed.isEmpty());
        QString output;
        ASSERT_EQ(Apply(listed, &output), 0) << start << output.toStdString();
        QStringList after;
        Query(&after);
        EXPECT_EQ(after, before) << start;
        EXPECT_EQ(Texts(Shown()), Texts(listed)) << start;
    }
    // Without a line feed after the last line: the table on lines of their own, IPv4 first.
    ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), "# admin\nreload no"));
    ASSERT_EQ(Apply({{"::ffff:0:0/96", 100, 4}, {"::/0", 40, 1}}), 0);
    EXPECT_EQ(testsupport::ReadFile(QStringLiteral("/etc/gai.conf")),
              "# admin\nreload no\nprecedence ::ffff:0:0/96 100\nprecedence ::/0 40\nlabel ::ffff:0:0/96 4\nlabel ::/0 1\n");
    QStringList order;
    Query(&order);
    EXPECT_EQ(order.value(0), QStringLiteral("192.0.2.2"));
}

// The mount point /etc/gai.conf can be (a container's bind mount): nothing changes, and netsh
// says why, without the access-denied text.
TEST_F(LinuxStore, AFileThatIsAMountPointIsLeftAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: a private mount namespace";
    const QString out = platform::FromCp932(
        platform::RunCaptured(QStringLiteral(OSTABLE_GAIPROBE),
                              {QStringLiteral("gaiprobe"), QStringLiteral("mountpoint"),
                               testsupport::StageDir() + QStringLiteral("/netsh"), QStringLiteral("interface"),
                               QStringLiteral("ipv6"), QStringLiteral("add"), QStringLiteral("prefixpolicy"),
                               QStringLiteral("2001:db8::/32"), QStringLiteral("45"), QStringLiteral("13")})
            .output);
    EXPECT_TRUE(out.contains(QStringLiteral("システムに接続されたデバイスが機能していません。\r\n変更できなかった部分: /mnt/gai.conf "
                                            "(マウント ポイントのため置き換えられません)")))
        << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("アクセスが拒否されました。")));
    EXPECT_TRUE(out.contains(QStringLiteral("it is a mount point"))) << out.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral("netsh 1\nkept\n"))) << out.toStdString();
}

// Two rows for one prefix once the host bits are masked, as glibc and the kernel see them, are
// refused before any command on Linux (511 naming the row); Windows' values keep both rows.
TEST_F(LinuxStore, HostBitVariantsOfOnePrefixAreRefusedBeforeAnyCommand) {
    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("twice.conf"),
                                       "1,0,a,3,40,2001:db8::/32\r\n1,0,b,4,45,2001:db8::1/32\r\n"));
    CPolicyList rows;
    ASSERT_EQ(manager.GetPolicyFile(rows, t.Dir() + QStringLiteral("twice.conf")), 1);
    InstallFakeNetsh("");
    SetOs(QStringLiteral("Linux"));
    EXPECT_EQ(manager.RegisterPolicy(rows), 0);
    EXPECT_TRUE(FakeNetshRuns().isEmpty());
    EXPECT_TRUE(LogHas(QStringLiteral("2001:db8::1/32は既に存在します。")));
    CPolicyList plan;
    SetOs(QStringLiteral("Windows7"));
    EXPECT_EQ(manager.PlanPolicy(rows, plan), 1);
    EXPECT_EQ(plan.size(), 2);
}

// A system that drops an add while printing "OK": the table read back differs from the plan,
// so the registration fails with 501 naming that add, and the previous table is put back.
TEST_F(LinuxStore, AReadBackThatDiffersFromThePlanFailsAndPutsTheTableBack) {
    WriteTable("50 0 ::1/128\n40 1 ::/0\n");
    ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("plan.conf"),
                                       "1,0,a,3,40,2001:db8::/32\r\n1,0,b,4,45,fd00::/8\r\n1,0,c,1,40,::/0\r\n"));
    CPolicyList rows;
    ASSERT_EQ(manager.GetPolicyFile(rows, t.Dir() + QStringLiteral("plan.conf")), 1);
    InstallStandInFailingAt("4~");  // two deletes, then the second add
    CPolicyListManager::ERestore restore = CPolicyListManager::ERestore::NotNeeded;
    EXPECT_EQ(manager.RegisterPolicy(rows, &restore), 0);
    EXPECT_EQ(restore, CPolicyListManager::ERestore::Restored);
    EXPECT_TRUE(LogHas(QStringLiteral("netsh interface ipv6 add prefixpolicy fd00::/8 45 4コマンドの発行に失敗しました。")));
    EXPECT_EQ(TableEntries(), QStringList({"50 0 ::1/128", "40 1 ::/0"}));
}

// A script is one transaction: 128 adds (and a refused delete) replace /etc/gai.conf once and set
// the kernel's labels; a kernel step that fails anywhere fails every change of the script, each
// saying which part failed, and leaves the file and the kernel as they were.
TEST_F(LinuxStore, AScriptReplacesTheFileOnceAndFailsAsAWhole) {
    RUN_INSIDE_NAMESPACES();
    const QByteArray start = "reload no\nprecedence ::1/128 50\nlabel ::1/128 0\n";
    ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), start));
    QStringList lines = {QStringLiteral("interface ipv6 delete prefixpolicy fd00::/8")};
    QList<CRow> rows = {{"::1/128", 50, 0}};
    for (int i = 0; i < 128; ++i) {
        rows.append({QStringLiteral("2001:db8:%1::/48").arg(i, 0, 16), 60, unsigned(10 + i % 7)});
        lines << QStringLiteral("interface ipv6 add prefixpolicy %1 %2 %3").arg(rows.last().prefix).arg(rows.last().precedence).arg(rows.last().label);
    }
    const QString script = t.Dir() + QStringLiteral("script.txt");
    ASSERT_TRUE(testsupport::WriteFile(script, lines.join(u'\n').toUtf8()));
    const QString netsh = testsupport::StageDir() + QStringLiteral("/netsh");
    const QString steps = t.Dir() + QStringLiteral("steps");
    const QString trace = t.Dir() + QStringLiteral("trace");
    const auto run = [&](const QByteArray& fail, bool traced) {
        QFile::remove(steps);
        const ostabletest::CEnvVar failAt("NETSH_TEST_NETLINK_FAIL", fail);
        const ostabletest::CEnvVar counter("NETSH_TEST_NETLINK_STEPS", steps.toLocal8Bit());
        const QStringList words = {QStringLiteral("netsh"), QStringLiteral("-f"), script};
        const QStringList strace = {QStringLiteral("strace"), QStringLiteral("-f"), QStringLiteral("-e"),
                                    QStringLiteral("trace=rename,renameat,renameat2"), QStringLiteral("-o"), trace, netsh};
        return traced ? platform::RunCaptured(QStringLiteral("/usr/bin/strace"), strace + words.mid(1), platform::CRunOptions{true})
                      : platform::RunCaptured(netsh, words, platform::CRunOptions{true});
    };
    const auto load = [&netsh] {
        return platform::FromCp932(platform::RunCaptured(netsh, {QStringLiteral("netsh"), QStringLiteral("--load-kernel-labels")}).output);
    };
    ASSERT_EQ(load(), QStringLiteral("OK\r\n\r\n"));
    const QStringList labels = Query();
    // Far past the last step: nothing fails, and the count of the kernel steps is kept.
    const bool traced = QFile::exists(QStringLiteral("/usr/bin/strace"));
    const platform::CRunResult whole = run("1000000", traced);
    EXPECT_EQ(whole.exitCode, 1);  // the refused delete
    EXPECT_EQ(platform::FromCp932(whole.output).count(QStringLiteral("OK\r\n\r\n# end of line")), 128);
    EXPECT_EQ(Listing(), Texts(Effective(rows)));
    EXPECT_EQ(Query(), KernelLabels(rows));
    if (traced) {
        // Each rename onto the file: "rename(\"/etc/.gai.conf.XXXXXX\", \"/etc/gai.conf\") = 0".
        const QString calls = QString::fromUtf8(testsupport::ReadFile(trace));
        const int renames = int(calls.count(QStringLiteral("/gai.conf\")")));
        EXPECT_EQ(renames, 1) << calls.toStdString();
        RecordProperty("gai_conf_renames", renames);
    }
    const int total = testsupport::ReadFile(steps).trimmed().toInt();
    ASSERT_GT(total, 128);
    for (const int k : {1, 2, 3, total / 2, total - 1, total}) {
        ASSERT_TRUE(testsupport::WriteFile(QStringLiteral("/etc/gai.conf"), start));
        ASSERT_EQ(load(), QStringLiteral("OK\r\n\r\n"));
        ASSERT_EQ(Query(), labels);
        const platform::CRunResult failed = run(QByteArray::number(k), false);
        const QString output = platform::FromCp932(failed.output);
        EXPECT_EQ(failed.exitCode, 1) << k;
        EXPECT_TRUE(output.startsWith(QStringLiteral("指定されたファイルが見つかりません。\r\n\r\n# end of line 1, exit code 1\r\n"))) << k;
        EXPECT_EQ(output.count(QStringLiteral("\r\n変更できなかった部分: カーネルのアドレス ラベル\r\n\r\n# end of line ")), 128) << k;
        EXPECT_FALSE(output.contains(QStringLiteral("OK"))) << k;
        EXPECT_EQ(testsupport::ReadFile(QStringLiteral("/etc/gai.conf")), start) << k;
        EXPECT_EQ(Query(), labels) << k;
    }
}
