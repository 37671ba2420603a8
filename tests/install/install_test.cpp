// An installation as an administrator meets it: rights on the system store (the programs run as
// an unprivileged user change nothing and say why), a log the user cannot write, help in the
// settings file's language, the boot service's unit and command, and the manual pages.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <random>
#include <set>

#include "support/testsupport.h"

namespace {

constexpr const char* kNobody = "65534";

struct CRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// The text of string `id` in a language library of the stage.
QString StageString(const QString& language, int id) {
    const QJsonObject set =
        QJsonDocument::fromJson(testsupport::ReadFile(testsupport::StageDir() +
                                                      QStringLiteral("/conf/langs/") + language +
                                                      QStringLiteral("/lang.json")))
            .object();
    return set[u"strings"].toObject()[QString::number(id)].toString();
}

// A copy of the staged installation in a folder every user may enter: the programs, netsh on
// the store given, one language library, a gai.conf anyone may write (so that only the rights
// check keeps a user from changing it) and a log only root may write.
class CInstallation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        QFile(m_dir.path()).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup);
        const QString stage = testsupport::StageDir() + u'/';
        for (const char* f : {"corvane", "zarntool", "netsh", "ipconfig"}) {
            ASSERT_TRUE(QFile::copy(stage + QLatin1String(f), Root() + QLatin1String(f))) << f;
            QFile(Root() + QLatin1String(f))
                .setPermissions(QFile::permissions(stage + QLatin1String(f)));
        }
        for (const char* f : {"conf/policytable.conf.default", "conf/langs/Japanese/lang.json",
                              "conf/langs/Japanese/license.rtf", "conf/langs/English/lang.json",
                              "conf/langs/English/license.rtf"})
            ASSERT_TRUE(testsupport::WriteFile(Root() + QLatin1String(f),
                                               testsupport::ReadFile(stage + QLatin1String(f))));
        SetLanguage(QStringLiteral("Japanese"));
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/policytable.conf"),
                                           "1,0,Loopback,0,50,::1/128\r\n1,0,Rest,1,40,::/0\r\n"
                                           "1,0,Site,9,45,fd00::/8\r\n"));
        ASSERT_TRUE(QDir().mkpath(Writable()));
        QFile(Writable()).setPermissions(QFileDevice::Permissions(0x7777));
        // The program's state folder, open to every user like the tables: a registration on the
        // file store keeps its journal there.
        ASSERT_TRUE(QDir().mkpath(Root() + QStringLiteral("state")));
        QFile(Root() + QStringLiteral("state")).setPermissions(QFileDevice::Permissions(0x7777));
        ASSERT_TRUE(testsupport::WriteFile(Gai(), kGai));
        ASSERT_TRUE(testsupport::WriteFile(Writable() + QStringLiteral("netsh.table"), kTable));
        for (const QString& f : {Gai(), Writable() + QStringLiteral("netsh.table")})
            QFile(f).setPermissions(QFileDevice::Permissions(0x6666));
        ASSERT_TRUE(testsupport::WriteFile(Log(), "20260101-000000,INFO,before\r\n"));
        ASSERT_TRUE(QDir().mkpath(Root() + QStringLiteral("run")));
        QFile(Root() + QStringLiteral("run")).setPermissions(QFileDevice::Permissions(0x7000));
    }

    void SetLanguage(const QString& language) {
        QByteArray ini = testsupport::ReadFile(testsupport::StageDir() +
                                               QStringLiteral("/conf/zarntool.ini"));
        ini.replace("LANG=Japanese", "LANG=" + language.toLatin1());
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("conf/zarntool.ini"), ini));
    }
    void SetStore(const char* store) {
        ASSERT_TRUE(testsupport::WriteFile(Root() + QStringLiteral("netsh.conf"),
                                           QByteArray("store=") + store + '\n'));
    }

    QString Root() const { return m_dir.path() + u'/'; }
    QString Writable() const { return Root() + QStringLiteral("w/"); }
    QString Gai() const { return Writable() + QStringLiteral("gai.conf"); }
    QString Log() const { return Root() + QStringLiteral("zarntool.log"); }

    // Runs a program of the copy, as root or (user given) through setpriv as that user, without
    // a display; netsh's system store is the copy's gai.conf and the kernel is left alone.
    CRun Run(const QString& program, const QStringList& args, const char* user = nullptr) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NETSH_STORE",
                                 "XDG_RUNTIME_DIR"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("NETSH_GAI_CONF"), Gai());
        env.insert(QStringLiteral("NETSH_KERNEL_LABELS"), QStringLiteral("0"));
        env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"),
                   Writable() + QStringLiteral("netsh.table"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(Writable());
        // Root's single-instance lock in the copy; another user's falls back to /tmp.
        if (!user) env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Root() + QStringLiteral("run"));
        if (user) {
            process.start(QStringLiteral("setpriv"),
                          QStringList{QStringLiteral("--reuid=") + QLatin1String(user),
                                      QStringLiteral("--regid=") + QLatin1String(user),
                                      QStringLiteral("--clear-groups"), Root() + program} +
                              args);
        } else {
            process.start(Root() + program, args);
        }
        CRun result;
        if (!process.waitForStarted(10000) || !process.waitForFinished(60000)) return result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    static constexpr const char* kGai = "# site\nlabel ::1/128 0\nlabel ::/0 1\n"
                                        "precedence ::1/128 50\nprecedence ::/0 40\n";
    static constexpr const char* kTable = "30 2 2002::/16\n";
    QTemporaryDir m_dir;
};

}  // namespace

// Without administrator rights the installing commands stop before any command runs, on the
// system store only; reading needs no rights, nor does the stage's file store. A user who
// cannot write the log is told once, however many lines the run logs.
TEST_F(CInstallation, WithoutRightsTheSystemTableStaysAndOnlyInstallingIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: runs the programs as another user";
    // In English: the notice about the log, which the first line of a run already needs,
    // waits for the settings' language.
    SetLanguage(QStringLiteral("English"));
    const QString rights = StageString(QStringLiteral("English"), 608);
    const QString noDisplay = StageString(QStringLiteral("English"), 607);
    const QString logNotice =
        StageString(QStringLiteral("English"), 609).replace(QStringLiteral("%1"), Log());
    ASSERT_FALSE(rights.isEmpty());
    const struct {
        const char* store;
        const char* user;  // null: root
        QString program;
        QStringList args;
        int exitCode;
        bool refused;   // message 608 shown
        bool changed;   // the store's table changed
    } kCases[] = {
        {"system", kNobody, "corvane", {"apply", "--accept-terms"}, 1, true, false},
        {"system", kNobody, "corvane", {"default", "--accept-terms"}, 1, true, false},
        {"system", kNobody, "corvane", {"show"}, 0, false, false},
        {"system", kNobody, "corvane", {"check"}, 0, false, false},
        {"system", kNobody, "corvane", {"export", "out.dat"}, 0, false, false},
        // The window program ends before the agreement (without a display it would say 607).
        {"system", kNobody, "zarntool", {"/e"}, 1, true, false},
        {"system", nullptr, "corvane", {"apply", "--accept-terms"}, 0, false, true},
        {"file", kNobody, "corvane", {"apply", "--accept-terms"}, 0, false, true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE((QLatin1String(c.store) + u' ' + (c.user ? "nobody " : "root ") + c.program +
                      u' ' + c.args.join(u' '))
                         .toStdString());
        SetStore(c.store);
        ASSERT_TRUE(testsupport::WriteFile(Gai(), kGai));
        ASSERT_TRUE(testsupport::WriteFile(Writable() + QStringLiteral("netsh.table"), kTable));
        const QByteArray log = testsupport::ReadFile(Log());
        const CRun r = Run(c.program, c.args, c.user);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_EQ(r.err.contains(rights), c.refused) << r.err.toStdString();
        if (c.refused) {
            EXPECT_FALSE(r.err.contains(noDisplay));
        }
        const bool system = QLatin1String(c.store) == u"system";
        const QByteArray table =
            testsupport::ReadFile(system ? Gai() : Writable() + QStringLiteral("netsh.table"));
        EXPECT_EQ(table != (system ? QByteArray(kGai) : QByteArray(kTable)), c.changed);
        if (c.user) {
            EXPECT_EQ(testsupport::ReadFile(Log()), log);
            EXPECT_EQ(r.err.count(logNotice), 1) << r.err.toStdString();
        } else {
            EXPECT_EQ(r.err.count(logNotice), 0) << r.err.toStdString();
        }
    }
}

// --help, --version and usage errors speak the settings file's language.
TEST_F(CInstallation, HelpVersionAndUsageErrorsInTheSettingsLanguage) {
    for (const QString& language : {QStringLiteral("Japanese"), QStringLiteral("English")}) {
        SCOPED_TRACE(language.toStdString());
        SetLanguage(language);
        const CRun help = Run(QStringLiteral("corvane"), {QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out, StageString(language, 803) + u'\n');
        const CRun version = Run(QStringLiteral("corvane"), {QStringLiteral("--version")});
        EXPECT_EQ(version.exitCode, 0);
        EXPECT_EQ(version.out,
                  StageString(language, 815).replace(QStringLiteral("%1"),
                                                     QStringLiteral("1.1.0.0")) +
                      u'\n');
        const CRun bad = Run(QStringLiteral("corvane"), {QStringLiteral("frob")});
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_EQ(bad.err, StageString(language, 802).replace(QStringLiteral("%1"),
                                                              QStringLiteral("frob")) +
                               u'\n');
    }
}

// The boot service's unit as systemd reads it, with its command pointed at the stage's netsh.
TEST(BootService, UnitPassesSystemdVerification) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray unit = testsupport::ReadFile(QStringLiteral(INSTALL_UNIT));
    ASSERT_TRUE(unit.contains("ExecStart=/usr/lib/corvane/netsh "));
    unit.replace("/usr/lib/corvane/", QFile::encodeName(testsupport::StageDir()) + '/');
    const QString path = dir.path() + QStringLiteral("/corvane-labels.service");
    ASSERT_TRUE(testsupport::WriteFile(path, unit));
    QProcess verify;
    verify.setProcessChannelMode(QProcess::MergedChannels);
    verify.start(QStringLiteral("systemd-analyze"),
                 {QStringLiteral("verify"), QStringLiteral("--man=no"), path});
    ASSERT_TRUE(verify.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(verify.readAll());
    EXPECT_EQ(verify.exitCode(), 0) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("corvane-labels"))) << out.toStdString();
}

namespace {

// The boot unit's command line, with the installed folder replaced by `programDir`.
QStringList UnitCommand(const QString& programDir) {
    const QByteArray unit = testsupport::ReadFile(QStringLiteral(INSTALL_UNIT));
    for (const QByteArray& line : unit.split('\n')) {
        if (!line.startsWith("ExecStart=")) continue;
        QString command = QString::fromUtf8(line.mid(10)).trimmed();
        command.replace(QStringLiteral("/usr/lib/corvane/"), programDir);
        return command.split(u' ', Qt::SkipEmptyParts);
    }
    return {};
}

// A label table of random prefixes (seeded) plus the three every table has: each entry as
// "<32 hex digits>/<length> <label>", the form the probe prints.
std::set<std::string> RandomLabels(std::mt19937& random) {
    std::set<std::string> table = {"00000000000000000000000000000001/128 0",
                                   "00000000000000000000000000000000/0 1",
                                   "00000000000000000000ffff00000000/96 4"};
    std::set<std::string> prefixes;
    for (const std::string& entry : table) prefixes.insert(entry.substr(0, entry.find(' ')));
    while (table.size() < 24) {
        const int length = int(random() % 129);
        unsigned char bytes[16];
        for (int i = 0; i < 16; ++i) {
            const int bits = std::clamp(length - 8 * i, 0, 8);
            bytes[i] = static_cast<unsigned char>(random() & (0xff00u >> bits));
        }
        char prefix[40];
        for (int i = 0; i < 16; ++i) std::snprintf(prefix + 2 * i, 3, "%02x", bytes[i]);
        const std::string key = std::string(prefix) + '/' + std::to_string(length);
        if (!prefixes.insert(key).second) continue;
        table.insert(key + ' ' + std::to_string(random() % 1000));
    }
    return table;
}

// gai.conf lines for the table: a label and a precedence line per prefix, the address written
// out in full groups.
QByteArray GaiConfOf(const std::set<std::string>& table) {
    QByteArray conf = "# written by the boot test\nreload no\n";
    int precedence = 1;
    for (const std::string& entry : table) {
        std::string address;
        for (int group = 0; group < 8; ++group)
            address += (group ? ":" : "") + entry.substr(4 * std::size_t(group), 4);
        const std::size_t slash = entry.find('/');
        const std::size_t space = entry.find(' ');
        const std::string prefix = address + entry.substr(slash, space - slash);
        conf += QByteArray("label ") + prefix.c_str() + ' ' + entry.substr(space + 1).c_str() +
                "\nprecedence " + prefix.c_str() + ' ' + QByteArray::number(precedence++) + '\n';
    }
    return conf;
}

}  // namespace

// After a boot (a fresh network namespace) the unit's command gives the kernel exactly the
// label table of /etc/gai.conf (an overlay holding a random table), as the netlink dump shows.
TEST(BootService, TheUnitsCommandGivesTheKernelTheLabelsOfGaiConf) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: private mount and network namespaces";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + u'/';
    // The installed layout: netsh beside a netsh.conf naming the system store.
    ASSERT_TRUE(QFile::copy(testsupport::StageDir() + QStringLiteral("/netsh"),
                            root + QStringLiteral("netsh")));
    QFile(root + QStringLiteral("netsh")).setPermissions(QFileDevice::Permissions(0x7555));
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("netsh.conf"), "store=system\n"));
    const QStringList command = UnitCommand(root);
    ASSERT_EQ(command.value(0), root + QStringLiteral("netsh"));
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("seed " + std::to_string(seed) + " round " + std::to_string(round));
        const std::set<std::string> table = RandomLabels(random);
        ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("gai.conf"), GaiConfOf(table)));
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"NETSH_STORE", "NETSH_GAI_CONF", "NETSH_KERNEL_LABELS"})
            env.remove(QLatin1String(name));
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(INSTALL_BOOTPROBE),
                    QStringList{root + QStringLiteral("gai.conf")} + command);
        ASSERT_TRUE(probe.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(probe.readAllStandardError());
        std::set<std::string> labels;
        QString status;
        for (const QString& line :
             QString::fromLatin1(probe.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
            if (line.startsWith(QStringLiteral("label ")))
                labels.insert(line.mid(6).toStdString());
            else
                status += line;
        }
        EXPECT_EQ(status, QStringLiteral("command 0")) << err.toStdString();
        EXPECT_EQ(labels, table) << err.toStdString();
    }
}

// The manual pages render without a single warning.
TEST(ManualPages, RenderWithoutWarnings) {
    for (const char* page : {"corvane.8", "corvane-gui.8"}) {
        SCOPED_TRACE(page);
        QProcess groff;
        groff.start(QStringLiteral("groff"),
                    {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"),
                     QStringLiteral(CORVANE_SOURCE_DIR "/packaging/man/") + QLatin1String(page)});
        ASSERT_TRUE(groff.waitForFinished(30000));
        EXPECT_EQ(groff.exitCode(), 0);
        EXPECT_EQ(QString::fromLocal8Bit(groff.readAllStandardError()), QString());
    }
}
