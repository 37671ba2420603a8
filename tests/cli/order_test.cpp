// corvane order against the real system: in private namespaces (the orderprobe child), the
// preview of seeded random tables and destinations must be the order glibc's getaddrinfo gives
// and the sources the kernel picks once corvane apply has installed each table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "support/testsupport.h"

namespace {

QString Unavailable() {
    if (::geteuid() != 0) return QStringLiteral("needs root: private mount and network namespaces, an overlay on /etc");
    QProcess ip;
    ip.start(QStringLiteral("ip"), {QStringLiteral("-V")});
    if (!ip.waitForFinished(10000) || ip.exitCode() != 0) return QStringLiteral("the ip program (iproute2) is not available");
    return {};
}

// An installation of its own for one probe: corvane and netsh on the system store, a Linux
// installation (rows go to the system as they are, never divided as for Windows 7), no trace
// lines (hundreds of runs), a private runtime folder for the single-instance lock.
void MakeInstallation(const QString& root) {
    const QString stage = testsupport::StageDir() + u'/';
    for (const char* f : {"corvane", "netsh"}) {
        ASSERT_TRUE(testsupport::WriteFile(root + QLatin1String(f), testsupport::ReadFile(stage + QLatin1String(f))));
        QFile(root + QLatin1String(f)).setPermissions(QFile::permissions(stage + QLatin1String(f)));
    }
    for (const char* f : {"conf/policytable.conf.default", "conf/langs/Japanese/lang.json",
                          "conf/langs/Japanese/license.rtf"})
        ASSERT_TRUE(testsupport::WriteFile(root + QLatin1String(f), testsupport::ReadFile(stage + QLatin1String(f))));
    QByteArray ini = testsupport::ReadFile(stage + QStringLiteral("conf/zarntool.ini"));
    ini.replace("OS=Windows7", "OS=Linux");
    ini.replace("LOG_LEVEL=DEBUG", "LOG_LEVEL=INFO");
    ASSERT_TRUE(ini.contains("OS=Linux"));
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("conf/zarntool.ini"), ini));
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("conf/policytable.conf"), QByteArray()));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("run")));
    QFile(root + QStringLiteral("run")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("work")));
}

}  // namespace

// Two probes, each in namespaces of its own with its own installation, take 100 cases each.
TEST(OrderPreview, MatchesGlibcAndTheKernelForRandomTables) {
    const QString why = Unavailable();
    if (!why.isEmpty()) GTEST_SKIP() << why.toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const unsigned seed = qEnvironmentVariable("CORVANE_ORDER_SEED", QStringLiteral("26000")).toUInt();
    constexpr int kProbes = 2;
    constexpr int kCases = 100;
    QProcess probes[kProbes];
    for (int k = 0; k < kProbes; ++k) {
        const QString root = dir.path() + QStringLiteral("/root%1/").arg(k);
        ASSERT_NO_FATAL_FAILURE(MakeInstallation(root));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("run"));
        env.insert(QStringLiteral("NETSH_STORE"), QStringLiteral("system"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "NETSH_GAI_CONF", "NETSH_KERNEL_LABELS"})
            env.remove(QLatin1String(name));
        probes[k].setProcessEnvironment(env);
        probes[k].setProcessChannelMode(QProcess::MergedChannels);
        probes[k].start(QStringLiteral(CLI_ORDERPROBE), {root, root + QStringLiteral("work"),
                                                         QString::number(seed + unsigned(k * kCases)),
                                                         QString::number(kCases)});
        ASSERT_TRUE(probes[k].waitForStarted(10000));
    }
    for (QProcess& probe : probes) {
        ASSERT_TRUE(probe.waitForFinished(-1));
        const QString output = QString::fromUtf8(probe.readAll());
        EXPECT_EQ(probe.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("cases 100 mismatches 0"))) << output.toStdString();
    }
}
