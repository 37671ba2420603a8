#pragma once
// Shared fixture of the OS-table tests: an application object on a temporary installation, a
// manager bound to it, and ways to put real programs where the command runner finds them.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "policy/policylistmanager.h"
#include "support/testsupport.h"

namespace ostabletest {

// Sets an environment variable for the lifetime of the object and restores it afterwards.
class CEnvVar {
public:
    CEnvVar(const char* name, const QByteArray& value) : m_name(name) {
        m_had = qEnvironmentVariableIsSet(name);
        m_old = qgetenv(name);
        qputenv(name, value);
    }
    ~CEnvVar() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    CEnvVar(const CEnvVar&) = delete;
    CEnvVar& operator=(const CEnvVar&) = delete;

private:
    const char* m_name;
    QByteArray m_old;
    bool m_had = false;
};

inline QString TestCmdPath() { return QStringLiteral(OSTABLE_TESTCMD); }

class COsTableTest : public ::testing::Test {
protected:
    COsTableTest()
        : m_table(t.Dir().toLocal8Bit() + "netsh.table"),
          // The stand-in never touches a table outside the test's folder, and nothing the tests
          // start is found on the real PATH by accident.
          m_tableEnv("NETSH_PREFIXPOLICY_FILE", m_table),
          m_pathEnv("PATH", (t.Dir() + QStringLiteral("empty-path")).toLocal8Bit()) {
        manager.m_pApp = &t.App();
        t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("OS"), QStringLiteral("Windows7"));
    }

    QString TablePath() const { return QString::fromLocal8Bit(m_table); }
    void SetOs(const QString& os) { t.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("OS"), os); }

    // Links a program into the program directory under `name`.
    bool Link(const QString& target, const QString& name) {
        QFile::remove(t.Dir() + name);
        return QFile::link(target, t.Dir() + name);
    }
    // The real stand-ins from the stage, found the way the program finds them.
    void InstallStandIns() {
        ASSERT_TRUE(Link(testsupport::StageDir() + QStringLiteral("/netsh"), QStringLiteral("netsh")));
        ASSERT_TRUE(Link(testsupport::StageDir() + QStringLiteral("/ipconfig"), QStringLiteral("ipconfig")));
    }
    void InstallTestCmd() { ASSERT_TRUE(Link(TestCmdPath(), QStringLiteral("testcmd"))); }

    // A scripted netsh: "show" prints `showOutput`, every other command prints `changeOutput`.
    void InstallFakeNetsh(const QByteArray& showOutput, const QByteArray& changeOutput = QByteArray()) {
        ASSERT_TRUE(Link(TestCmdPath(), QStringLiteral("netsh")));
        ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("fake-show.txt"), showOutput));
        ASSERT_TRUE(testsupport::WriteFile(t.Dir() + QStringLiteral("fake-change.txt"), changeOutput));
        m_fakeEnv.emplace_back(std::make_unique<CEnvVar>(
            "TESTCMD_NETSH_OUTPUT", (t.Dir() + QStringLiteral("fake-show.txt")).toLocal8Bit()));
        m_fakeEnv.emplace_back(std::make_unique<CEnvVar>(
            "TESTCMD_NETSH_CHANGE_OUTPUT", (t.Dir() + QStringLiteral("fake-change.txt")).toLocal8Bit()));
        m_fakeEnv.emplace_back(std::make_unique<CEnvVar>(
            "TESTCMD_NETSH_ARGS", (t.Dir() + QStringLiteral("fake-args.txt")).toLocal8Bit()));
    }
    // The real stand-in behind the test program, which fails the change command numbered `failAt`
    // ("K", or "K+" for that one and all later ones; empty: none) and records every run's words.
    void InstallStandInFailingAt(const QByteArray& failAt) {
        ASSERT_TRUE(Link(TestCmdPath(), QStringLiteral("netsh")));
        QFile::remove(t.Dir() + QStringLiteral("counter"));
        m_fakeEnv.clear();
        const auto set = [this](const char* name, const QByteArray& value) {
            m_fakeEnv.emplace_back(std::make_unique<CEnvVar>(name, value));
        };
        set("TESTCMD_NETSH_FORWARD", (testsupport::StageDir() + QStringLiteral("/netsh")).toLocal8Bit());
        set("TESTCMD_NETSH_COUNTER", (t.Dir() + QStringLiteral("counter")).toLocal8Bit());
        set("TESTCMD_NETSH_FAIL_AT", failAt.isEmpty() ? QByteArray("0") : failAt);
        set("TESTCMD_NETSH_WORDS", (t.Dir() + QStringLiteral("words.txt")).toLocal8Bit());
    }
    // Each run's arguments as the program received them, one list per run.
    QList<QStringList> NetshWords() const {
        QList<QStringList> runs;
        for (const QString& line : QString::fromUtf8(testsupport::ReadFile(t.Dir() + QStringLiteral("words.txt"))).split(u'\n'))
            if (!line.isEmpty()) runs << line.split(u'\t');
        return runs;
    }

    // The argument lines the scripted netsh received, one per run.
    QStringList FakeNetshRuns() const {
        QString text = QString::fromUtf8(testsupport::ReadFile(t.Dir() + QStringLiteral("fake-args.txt")));
        QStringList lines = text.split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
        return lines;
    }

    void WriteTable(const QByteArray& content) { ASSERT_TRUE(testsupport::WriteFile(TablePath(), content)); }
    QByteArray ReadTable() const { return testsupport::ReadFile(TablePath()); }

    // Table file lines that hold entries ("precedence label prefix").
    QStringList TableEntries() const {
        QStringList entries;
        for (const QString& line : QString::fromUtf8(ReadTable()).split(u'\n')) {
            if (!line.isEmpty() && !line.startsWith(u'#')) entries << line;
        }
        return entries;
    }

    bool LogHas(const QString& text) const { return t.LogLines().filter(text).size() > 0; }
    qsizetype LogCount(const QString& text) const { return t.LogLines().filter(text).size(); }

    testsupport::CTestApp t;
    CPolicyListManager manager;

private:
    QByteArray m_table;
    CEnvVar m_tableEnv;
    CEnvVar m_pathEnv;
    std::vector<std::unique_ptr<CEnvVar>> m_fakeEnv;
};

// A policy row for the writer tests.
inline CPolicy Row(CZarntoolApp& app, const QString& address, const QString& priority, const QString& label,
                   const QString& name = QStringLiteral("net")) {
    CPolicy row;
    row.m_pApp = &app;
    row.m_bDisabled = false;
    row.m_nSource = 0;
    row.m_csNetworkName = name;
    row.m_csAddress = address;
    row.m_csPriority = priority;
    row.m_csLabel = label;
    return row;
}

}  // namespace ostabletest
