// netsh on the system store: the table glibc follows by gai.conf, the file rewritten keeping
// everything else, and glibc itself and the kernel following a registered table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "ostabletest.h"
#include "platform/codepage.h"
#include "platform/netshconf.h"
#include "platform/process.h"

namespace {

class SystemStore : public ostabletest::COsTableTest {
protected:
    SystemStore()
        : m_conf(t.Dir().toLocal8Bit() + "gai.conf"),
          m_store("NETSH_STORE", "system"),
          m_confEnv("NETSH_GAI_CONF", m_conf),
          m_kernel("NETSH_KERNEL_LABELS", "0") {}

    QString Netsh(const QString& line) const {
        QStringList argv{QStringLiteral("netsh")};
        argv << platform::SplitCommandLine(QStringLiteral("interface ipv6 ") + line);
        return platform::FromCp932(
            platform::RunCaptured(testsupport::StageDir() + QStringLiteral("/netsh"), argv).output);
    }
    // The listing's rows, "precedence label prefix", highest precedence first.
    QStringList Rows() const {
        QStringList rows;
        const QStringList lines =
            Netsh(QStringLiteral("show prefixpolicies")).split(QStringLiteral("\r\n"));
        for (const QString& line : lines.mid(4)) {
            if (!line.isEmpty()) rows << line.simplified();
        }
        return rows;
    }
    QString Conf() const { return QString::fromLocal8Bit(m_conf); }

    QByteArray m_conf;
    ostabletest::CEnvVar m_store;
    ostabletest::CEnvVar m_confEnv;
    ostabletest::CEnvVar m_kernel;
};

const QStringList kGlibcDefaults = {"50 0 ::1/128",  "40 1 ::/0",         "40 5 fec0::/10",
                                    "40 6 fc00::/7", "40 7 2001::/32",    "30 2 2002::/16",
                                    "20 3 ::/96",    "10 4 ::ffff:0:0/96"};

// Lines glibc reads but the table does not own, each kept byte for byte.
const QByteArray kOtherLines =
    "# Configuration for getaddrinfo(3).\n#label ::1/128       0\n\nreload yes\n"
    "scopev4 ::ffff:169.254.0.0/112  2\r\n  frobnicate 1 2\n#precedence ::ffff:0:0/96  100\n";

}  // namespace

TEST_F(SystemStore, ListingIsTheTableGlibcFollows) {
    const struct {
        const char* file;
        QStringList rows;
    } cases[] = {
        {"", kGlibcDefaults},
        {"# only comments\nscopev4 ::ffff:0.0.0.0/96 14\n", kGlibcDefaults},
        // Lines glibc refuses count for nothing: bad prefix, length, value above INT_MAX.
        {"label zz::/8 3\nlabel 2001:db8::/129 3\nprecedence ::1/128 2147483648\nlabel ::1/128 "
         "x\nLabel ::/0 3\n",
         kGlibcDefaults},
        // A table of one kind alone: every prefix of both tables glibc follows, the other kind's
        // built-in one included, with the values glibc gives it, and the "::/0" glibc adds.
        {"label 2001:db8::/32 13\n",
         {"50 1 ::1/128", "40 13 2001:db8::/32", "40 1 ::/0", "30 1 2002::/16", "20 1 ::/96",
          "10 1 ::ffff:0:0/96"}},
        {"precedence ::ffff:0:0/96 100\n",
         {"100 4 ::ffff:0:0/96", "40 1 ::/0", "40 0 ::1/128", "40 2 2002::/16", "40 3 ::/96",
          "40 5 fec0::/10", "40 6 fc00::/7", "40 7 2001::/32"}},
        // Longest covering entry of the file's table, "::/0" given 40 and 1 when the file has none;
        // comments after "#", any blanks, a missing value is 0 (strtoul of nothing).
        {"precedence fc00::/7 45\n\tlabel  fd00::/8\t9 # ULA\nprecedence 2002::/16\n",
         {"45 1 fc00::/7", "45 9 fd00::/8", "40 1 ::/0", "0 1 2002::/16"}},
        // The first of two lines for one prefix wins, as in glibc's stable sort.
        {"precedence ::/0 7\nprecedence ::/0 8\nlabel ::/0 2\n", {"7 2 ::/0"}},
        {"precedence 2001:db8::/32 60\nlabel 2001:db8:1::/48 9\n",
         {"60 1 2001:db8::/32", "60 9 2001:db8:1::/48", "40 1 ::/0"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(testsupport::WriteFile(Conf(), c.file));
        EXPECT_EQ(Rows(), c.rows) << c.file;
    }
}

TEST_F(SystemStore, ChangesRoundTripKeepOtherLinesAndAnEmptyTableGivesTheDefaultsBack) {
    for (const QByteArray& start :
         {kOtherLines, kOtherLines + "label ::/0 3\nprecedence ::1/128 9", QByteArray()}) {
        ASSERT_TRUE(testsupport::WriteFile(Conf(), start));
        for (const QString& row : Rows()) {
            EXPECT_EQ(Netsh(QStringLiteral("delete prefixpolicy ") + row.section(u' ', 2)),
                      QStringLiteral("OK\r\n\r\n"));
        }
        EXPECT_EQ(testsupport::ReadFile(Conf()),
                  start.startsWith(kOtherLines) ? kOtherLines : start);
        EXPECT_EQ(Rows(), kGlibcDefaults);
        for (const char* add : {"2001:DB8:0::/32 45 13", "::ffff:0:0/96 100 4",
                                "fd00::/8 2147483647 0", "::/0 40 1"}) {
            EXPECT_EQ(Netsh(QStringLiteral("add prefixpolicy ") + QLatin1String(add)),
                      QStringLiteral("OK\r\n\r\n"))
                << add;
        }
        EXPECT_EQ(Rows(), QStringList({"2147483647 0 fd00::/8", "100 4 ::ffff:0:0/96",
                                       "45 13 2001:DB8:0::/32", "40 1 ::/0"}));
        QByteArray others;
        for (const QByteArray& line : testsupport::ReadFile(Conf()).split('\n')) {
            if (!line.startsWith("precedence ") && !line.startsWith("label "))
                others += line + '\n';
        }
        EXPECT_EQ(others.chopped(1), start.startsWith(kOtherLines) ? kOtherLines : start);
        EXPECT_EQ(Netsh(QStringLiteral("add prefixpolicy ::/96 2147483648 1")),
                  QStringLiteral("パラメーターが間違っています。\r\n\r\n"));
    }
}

TEST_F(SystemStore, ALinkIsWrittenThroughWithItsModeAndAnUnwritableFileStaysAsItWas) {
    const QString target = t.Dir() + QStringLiteral("real.conf");
    ASSERT_TRUE(testsupport::WriteFile(target, kOtherLines));
    ASSERT_TRUE(
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    ASSERT_TRUE(QFile::link(target, Conf()));
    EXPECT_EQ(Netsh(QStringLiteral("add prefixpolicy 2001:db8::/32 45 13")),
              QStringLiteral("OK\r\n\r\n"));
    EXPECT_TRUE(QFileInfo(Conf()).isSymLink());
    EXPECT_TRUE(testsupport::ReadFile(target).endsWith("label 2001:db8::/32 13\n"));
    EXPECT_EQ(QFile::permissions(target), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                              QFile::ReadUser | QFile::WriteUser);
    if (::geteuid() != 0)
        GTEST_SKIP()
            << "needs root: private mount namespaces for a full and a read-only file system";
    for (const char* mode : {"full", "readonly"}) {
        const QString out = QString::fromLocal8Bit(
            platform::RunCaptured(
                QStringLiteral(OSTABLE_GAIPROBE),
                {QStringLiteral("gaiprobe"), QLatin1String(mode),
                 testsupport::StageDir() + QStringLiteral("/netsh"), QStringLiteral("interface"),
                 QStringLiteral("ipv6"), QStringLiteral("add"), QStringLiteral("prefixpolicy"),
                 QStringLiteral("2001:db8::/32"), QStringLiteral("45"), QStringLiteral("13")})
                .output);
        // The reason goes to standard error, which the probe passes on.
        QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
        const QStringList reasons = lines.filter(QRegularExpression(QStringLiteral("^netsh: ")));
        for (const QString& r : reasons) lines.removeOne(r);
        EXPECT_EQ(lines, QStringList({"netsh 1", "kept"})) << mode;
        ASSERT_EQ(reasons.size(), 1) << out.toStdString();
        EXPECT_TRUE(reasons[0].contains(QStringLiteral("was not replaced"))) << reasons[0].toStdString();
    }
}

// glibc and the kernel, the peers nobody here wrote, follow what netsh registers: in a private
// mount and network namespace with the loopback holding 2001:db8:1::1, fd00:1::1 and 192.0.2.1.
TEST_F(SystemStore, GlibcAndTheKernelFollowTheRegisteredTable) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: private mount and network namespaces";
    const QString etc = t.Dir() + QStringLiteral("etc/");
    ASSERT_TRUE(QDir().mkpath(etc));
    ASSERT_TRUE(testsupport::WriteFile(etc + QStringLiteral("hosts"),
                                       "127.0.0.1 localhost\n192.0.2.2 peer.test\n2001:db8:1::2 "
                                       "peer.test\nfd00:1::2 peer.test\n"));
    const QStringList defaultLabels = {
        "::1/128 0",           "::/0 1",      "2002::/16 2", "::/96 3",
        "::ffff:0.0.0.0/96 4", "fec0::/10 5", "fc00::/7 6",  "2001::/32 7"};
    const struct {
        QString commands;  // netsh runs, separated by " -- "
        QStringList order;
        QStringList labels;
    } cases[] = {
        // Every row deleted: no table lines, glibc's defaults, and the kernel holds their labels.
        {QStringLiteral("delete prefixpolicy ::1/128 -- delete prefixpolicy ::/0 -- delete "
                        "prefixpolicy fec0::/10 -- "
                        "delete prefixpolicy fc00::/7 -- delete prefixpolicy 2001::/32 -- delete "
                        "prefixpolicy 2002::/16 -- "
                        "delete prefixpolicy ::/96 -- delete prefixpolicy ::ffff:0:0/96"),
         {"2001:db8:1::2", "fd00:1::2", "192.0.2.2"},
         defaultLabels},
        // A new table starts empty once the file has no table lines.
        {QStringLiteral("add prefixpolicy ::1/128 50 0 -- add prefixpolicy fd00::/8 60 9 -- add "
                        "prefixpolicy ::/0 40 1 -- "
                        "add prefixpolicy ::ffff:0:0/96 10 4"),
         {"fd00:1::2", "2001:db8:1::2", "192.0.2.2"},
         {"::1/128 0", "fd00::/8 9", "::/0 1", "::ffff:0.0.0.0/96 4"}},
        {QStringLiteral(
             "delete prefixpolicy ::ffff:0:0/96 -- add prefixpolicy ::ffff:0:0/96 100 4"),
         {"192.0.2.2", "2001:db8:1::2", "fd00:1::2"},
         defaultLabels},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(testsupport::WriteFile(etc + QStringLiteral("gai.conf"), kOtherLines));
        QStringList argv{QStringLiteral("gaiprobe"), t.Dir(),
                         testsupport::StageDir() + QStringLiteral("/netsh"),
                         QStringLiteral("peer.test")};
        for (const QString& run : c.commands.split(QStringLiteral(" -- ")))
            argv << QStringLiteral("interface") << QStringLiteral("ipv6") << run.split(u' ')
                 << QStringLiteral("--");
        const QString out = QString::fromLocal8Bit(
            platform::RunCaptured(QStringLiteral(OSTABLE_GAIPROBE), argv).output);
        QStringList order;
        QStringList labels;
        for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(QStringLiteral("netsh "))) {
                EXPECT_TRUE(line.startsWith(QStringLiteral("netsh 0 "))) << line.toStdString();
            }
            if (line.startsWith(QStringLiteral("address "))) order << line.mid(8);
            if (line.startsWith(QStringLiteral("label "))) labels << line.mid(6);
            EXPECT_FALSE(line.startsWith(QStringLiteral("failed"))) << line.toStdString();
        }
        // getaddrinfo gives each address once per socket type asked; only their order counts.
        order.removeDuplicates();
        EXPECT_EQ(order, c.order) << c.commands.toStdString();
        labels.sort();
        QStringList expected = c.labels;
        expected.sort();
        EXPECT_EQ(labels, expected) << c.commands.toStdString();
        const QByteArray conf = testsupport::ReadFile(etc + QStringLiteral("gai.conf"));
        EXPECT_TRUE(conf.startsWith(kOtherLines)) << conf.constData();
    }
}

TEST_F(SystemStore, StoreIsChosenByTheEnvironmentElseByNetshConfBesideTheProgramElseFile) {
    const QString dir = t.Dir() + QStringLiteral("private/");
    ASSERT_TRUE(QDir().mkpath(dir));
    ASSERT_TRUE(QFile::copy(testsupport::StageDir() + QStringLiteral("/netsh"),
                            dir + QStringLiteral("netsh")));
    const struct {
        const char* env;   // NETSH_STORE, or nullptr for unset
        const char* conf;  // netsh.conf, or nullptr for none
        bool system;
    } cases[] = {
        {nullptr, nullptr, false},         {nullptr, "# installed\nstore=system\n", true},
        {"file", "store=system\n", false}, {"System", nullptr, true},
        {nullptr, "store=file\n", false},
    };
    for (const auto& c : cases) {
        QFile::remove(dir + QStringLiteral("netsh.conf"));
        if (c.conf) {
            ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("netsh.conf"), c.conf));
        }
        if (c.env) {
            qputenv("NETSH_STORE", c.env);
        } else {
            qunsetenv("NETSH_STORE");
        }
        const QString out = platform::FromCp932(
            platform::RunCaptured(
                dir + QStringLiteral("netsh"),
                {QStringLiteral("netsh"), QStringLiteral("interface"), QStringLiteral("ipv6"),
                 QStringLiteral("show"), QStringLiteral("prefixpolicies")})
                .output);
        // Only glibc's built-in table has fec0::/10; the file store's missing file lists Windows
        // 7's.
        EXPECT_EQ(out.contains(QStringLiteral("fec0::/10")), c.system)
            << (c.env ? c.env : "-") << " " << (c.conf ? c.conf : "-");
    }
}

// The one reader of netsh.conf, which netsh and the program share: the variables first, then the
// file's last line of each setting.
TEST_F(SystemStore, NetshConfGivesTheStoreAndWhetherKernelLabelsAreSet) {
    const QString dir = t.Dir() + QStringLiteral("conf/");
    ASSERT_TRUE(QDir().mkpath(dir));
    const struct {
        const char* store;   // NETSH_STORE, or nullptr for unset
        const char* labels;  // NETSH_KERNEL_LABELS, or nullptr for unset
        const char* conf;    // netsh.conf, or nullptr for none
        bool system;
        bool kernelLabels;
    } cases[] = {
        {nullptr, nullptr, nullptr, false, true},
        {nullptr, nullptr, "store=system\nkernel_labels=no\n", true, false},
        {nullptr, nullptr, "kernel_labels=no\nstore=system\nkernel_labels=yes\n", true, true},
        {nullptr, "0", "store=system\n", true, false},
        {"file", "1", "store=system\nkernel_labels=no\n", false, true},
        {"SYSTEM", nullptr, "  kernel_labels=No\n", true, false},
    };
    for (const auto& c : cases) {
        QFile::remove(dir + QStringLiteral("netsh.conf"));
        if (c.conf) {
            ASSERT_TRUE(testsupport::WriteFile(dir + QStringLiteral("netsh.conf"), c.conf));
        }
        c.store ? qputenv("NETSH_STORE", c.store) : qunsetenv("NETSH_STORE");
        c.labels ? qputenv("NETSH_KERNEL_LABELS", c.labels) : qunsetenv("NETSH_KERNEL_LABELS");
        const platform::CNetshConf conf = platform::ReadNetshConf(dir);
        EXPECT_EQ(conf.systemStore, c.system) << (c.conf ? c.conf : "-");
        EXPECT_EQ(conf.kernelLabels, c.kernelLabels) << (c.conf ? c.conf : "-");
    }
}

// A file whose last line has no line feed: the table starts on a line of its own and every kept
// line stays as it was (glibc's reading of such a file: LinuxStore.RegisteringTheListing...).
TEST_F(SystemStore, ATableAfterALastLineWithoutLineFeedStartsOnALineOfItsOwn) {
    ASSERT_TRUE(testsupport::WriteFile(Conf(), "# admin\nreload no"));
    EXPECT_EQ(Netsh(QStringLiteral("add prefixpolicy ::ffff:0:0/96 100 4")), QStringLiteral("OK\r\n\r\n"));
    EXPECT_EQ(testsupport::ReadFile(Conf()),
              "# admin\nreload no\nprecedence ::ffff:0:0/96 100\nlabel ::ffff:0:0/96 4\n");
}
