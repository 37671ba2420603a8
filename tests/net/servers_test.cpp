// The fetches against the servers administrators run: dnsmasq, Kea and ISC dhcpd for DHCPv6,
// nginx for HTTP. Each runs in the server namespace of a veth link with the configuration that
// README.md gives for it (read from there, so the page and the test cannot drift apart); the
// fetch runs in the client namespace and its rows are compared with the entries served.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "netns.h"
#include "policy/policylistmanager.h"
#include "support/testsupport.h"

namespace {

using nettest::CVethLink;
using testsupport::CTestApp;

constexpr int kWaitMs = 3000;

// The configuration README.md shows after "<!-- server config: NAME -->".
QString ReadmeConfig(const QString& name) {
    QFile readme(QStringLiteral(CORVANE_SOURCE_DIR "/README.md"));
    if (!readme.open(QIODevice::ReadOnly)) return {};
    const QString text = QString::fromUtf8(readme.readAll());
    const QRegularExpression block(QStringLiteral("<!-- server config: ") +
                                       QRegularExpression::escape(name) +
                                       QStringLiteral(" -->\\n```[a-z]*\\n(.*?)```"),
                                   QRegularExpression::DotMatchesEverythingOption);
    return block.match(text).captured(1);
}

bool WriteText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) == text.toUtf8().size();
}

// A server program run in a namespace, stopped when the object goes.
class CServerProcess {
public:
    ~CServerProcess() { Stop(); }

    // Starts the program and waits until it listens on the port (protocol "u" or "t"). False
    // with a reason, the program's output included, when it does not.
    bool Start(const QString& netns, const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment, const char* protocol, int port,
               QString* reason) {
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("ip"), QStringList{QStringLiteral("netns"),
                                                          QStringLiteral("exec"), netns, program} +
                                                  arguments);
        if (!m_process.waitForStarted(10000)) {
            *reason = program + QStringLiteral(" does not start");
            return false;
        }
        // Listening is seen in the namespace's socket table; a program that ends has failed.
        const QStringList ss = {QStringLiteral("netns"),
                                QStringLiteral("exec"),
                                netns,
                                QStringLiteral("ss"),
                                QStringLiteral("-Hln") + QLatin1String(protocol),
                                QStringLiteral("sport"),
                                QStringLiteral("="),
                                u':' + QString::number(port)};
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (std::chrono::steady_clock::now() < until) {
            QString output;
            if (nettest::RunProgram(QStringLiteral("ip"), ss, &output) == 0 &&
                !output.trimmed().isEmpty())
                return true;
            if (m_process.waitForFinished(100)) break;
        }
        *reason = program + QStringLiteral(" does not listen on port ") + QString::number(port) +
                  QStringLiteral(": ") + QString::fromLocal8Bit(m_process.readAll());
        return false;
    }

    void Stop() {
        if (m_process.state() == QProcess::NotRunning) return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

private:
    QProcess m_process;
};

// A server's program, or empty when it is not installed.
QString Program(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                   QStringLiteral("/sbin")});
    return path;
}

// The rows the DHCPv6 configurations serve under both codes: label, precedence, prefix.
const QStringList kServed = {QStringLiteral("10 40 2001:db8:1::/48"), QStringLiteral("1 2 ::/0"),
                             QStringLiteral("5 6 fc00::/7")};

struct FetchCase {
    int optionCode;
    int requestOption;
    bool served;  // the rows arrive; otherwise the "no policy" message names the code
};

class ServersOnALink : public ::testing::Test {
protected:
    void SetUp() override {
        const QString unavailable = nettest::NamespaceTestsUnavailable();
        if (!unavailable.isEmpty()) GTEST_SKIP() << unavailable.toStdString();
        ASSERT_TRUE(dir.isValid());
        QString reason;
        ASSERT_TRUE(link.Create(&reason)) << reason.toStdString();
        // The servers serve a link by the prefix of an address on it.
        ASSERT_EQ(nettest::RunProgram(QStringLiteral("ip"),
                                      {QStringLiteral("-n"), link.ServerNamespace(),
                                       QStringLiteral("addr"), QStringLiteral("add"),
                                       QStringLiteral("2001:db8:cafe::1/64"), QStringLiteral("dev"),
                                       CVethLink::ServerInterface(), QStringLiteral("nodad")}),
                  0);
    }

    // Skips the test, saying why, when the server's program is missing.
    QString Need(const QString& name) {
        const QString program = Program(name);
        if (program.isEmpty()) m_missing = name + QStringLiteral(" is not installed");
        return program;
    }

    // The README's configuration for the server, for this link's server interface.
    QString WriteConfig(const QString& name, const QString& file) {
        QString text = ReadmeConfig(name);
        EXPECT_FALSE(text.isEmpty()) << "README.md has no configuration " << name.toStdString();
        text.replace(QStringLiteral("eth0"), CVethLink::ServerInterface());
        const QString path = dir.filePath(file);
        EXPECT_TRUE(WriteText(path, text));
        return path;
    }

    void Start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
        QString reason;
        ASSERT_TRUE(server.Start(link.ServerNamespace(), program, arguments, environment, "u", 547,
                                 &reason))
            << reason.toStdString();
    }

    // Fetches once per case from the client namespace and compares with what was served.
    void FetchCases(std::initializer_list<FetchCase> cases) {
        for (const FetchCase& c : cases) {
            SCOPED_TRACE(testing::Message() << "OPTION_CODE=" << c.optionCode
                                            << " REQUEST_OPTION=" << c.requestOption);
            app.SetSetting(QStringLiteral("DCHP"), QStringLiteral("OPTION_CODE"),
                           QString::number(c.optionCode));
            app.SetSetting(QStringLiteral("DCHP"), QStringLiteral("REQUEST_OPTION"),
                           QString::number(c.requestOption));
            app.Boxes().shown.clear();
            CPolicyList rows;
            int result = -1;
            CVethLink::RunIn(link.ClientNamespace(), [&] {
                CPolicyListManager manager;
                manager.SetNetworkWaitForTesting(kWaitMs);
                result = manager.GetDhcp(rows);
            });
            EXPECT_EQ(result, 1);
            QStringList got;
            for (const CPolicy& row : rows) {
                got << row.m_csLabel + u' ' + row.m_csPriority + u' ' + row.m_csAddress;
                EXPECT_TRUE(row.m_bDisabled);
                EXPECT_EQ(row.m_nSource, 1);
                EXPECT_EQ(row.m_csNetworkName, QStringLiteral("Network(DHCP_DEFAULT)"));
            }
            if (c.served) {
                EXPECT_EQ(got, kServed);
                EXPECT_TRUE(app.Boxes().shown.isEmpty());
            } else {
                EXPECT_TRUE(got.isEmpty());
                ASSERT_EQ(app.Boxes().shown.size(), 1);
                EXPECT_EQ(app.Boxes().shown[0].text,
                          QStringLiteral(
                              "サーバは有効なポリシを含まない応答を返しました。（OPTION_CODE=") +
                              QString::number(c.optionCode) + QStringLiteral("）"));
            }
        }
    }

    CTestApp app;
    CVethLink link;
    QTemporaryDir dir;
    CServerProcess server;
    QString m_missing;
};

TEST_F(ServersOnALink, Dnsmasq) {
    const QString program = Need(QStringLiteral("dnsmasq"));
    if (program.isEmpty()) GTEST_SKIP() << m_missing.toStdString();
    Start(program, {QStringLiteral("--keep-in-foreground"),
                    QStringLiteral("--conf-file=") +
                        WriteConfig(QStringLiteral("dnsmasq"), QStringLiteral("dnsmasq.conf")),
                    QStringLiteral("--pid-file=") + dir.filePath(QStringLiteral("dnsmasq.pid")),
                    QStringLiteral("--dhcp-leasefile=") + dir.filePath(QStringLiteral("leases"))});
    // dnsmasq sends both options unasked, so the request without the Option Request works too.
    FetchCases({{250, 1, true}, {84, 1, true}, {250, 0, true}, {27, 1, false}});
}

TEST_F(ServersOnALink, Kea) {
    const QString program = Need(QStringLiteral("kea-dhcp6"));
    if (program.isEmpty()) GTEST_SKIP() << m_missing.toStdString();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KEA_PIDFILE_DIR"), dir.path());
    environment.insert(QStringLiteral("KEA_LOCKFILE_DIR"), dir.path());
    Start(program,
          {QStringLiteral("-c"), WriteConfig(QStringLiteral("kea"), QStringLiteral("kea.json"))},
          environment);
    // Kea sends an option only when asked, unless the configuration says "always-send".
    FetchCases({{250, 1, true}, {84, 1, true}, {250, 0, false}, {27, 1, false}});
}

TEST_F(ServersOnALink, IscDhcpd) {
    const QString program = Need(QStringLiteral("dhcpd"));
    if (program.isEmpty()) GTEST_SKIP() << m_missing.toStdString();
    const QString leases = dir.filePath(QStringLiteral("dhcpd6.leases"));
    ASSERT_TRUE(WriteText(leases, {}));
    Start(program,
          {QStringLiteral("-6"), QStringLiteral("-f"), QStringLiteral("-d"), QStringLiteral("-cf"),
           WriteConfig(QStringLiteral("dhcpd"), QStringLiteral("dhcpd6.conf")),
           QStringLiteral("-lf"), leases, QStringLiteral("-pf"),
           dir.filePath(QStringLiteral("dhcpd.pid")), CVethLink::ServerInterface()});
    // dhcpd sends an option only when asked: without the Option Request no policy comes.
    FetchCases({{250, 1, true}, {84, 1, true}, {250, 0, false}, {27, 1, false}});
}

TEST_F(ServersOnALink, Nginx) {
    const QString program = Need(QStringLiteral("nginx"));
    if (program.isEmpty()) GTEST_SKIP() << m_missing.toStdString();
    ASSERT_TRUE(WriteText(dir.filePath(QStringLiteral("route-info.txt")),
                          ReadmeConfig(QStringLiteral("route-info"))));
    QString site = ReadmeConfig(QStringLiteral("nginx"));
    ASSERT_FALSE(site.isEmpty());
    site.replace(QStringLiteral("/srv/corvane"), dir.path());
    // The README's server block inside the least main configuration that keeps every file of
    // nginx in the test's folder.
    const QString d = dir.path();
    const QString conf = QStringLiteral(
                             "daemon off;\nmaster_process off;\npid %1/nginx.pid;\n"
                             "error_log stderr;\nevents {}\nhttp {\naccess_log off;\n"
                             "client_body_temp_path %1/body;\nproxy_temp_path %1/proxy;\n"
                             "fastcgi_temp_path %1/fastcgi;\nuwsgi_temp_path %1/uwsgi;\n"
                             "scgi_temp_path %1/scgi;\n%2}\n")
                             .arg(d, site);
    ASSERT_TRUE(WriteText(dir.filePath(QStringLiteral("nginx.conf")), conf));
    QString reason;
    ASSERT_TRUE(server.Start(link.ServerNamespace(), program,
                             {QStringLiteral("-e"), QStringLiteral("stderr"), QStringLiteral("-p"),
                              d, QStringLiteral("-c"), dir.filePath(QStringLiteral("nginx.conf"))},
                             QProcessEnvironment::systemEnvironment(), "t", 49881, &reason))
        << reason.toStdString();

    // The server namespace reaches nginx on its own loopback; both address families.
    for (const QString& address : {QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
        app.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), address);
        CPolicyList rows;
        int result = -1;
        CVethLink::RunIn(link.ServerNamespace(), [&] {
            CPolicyListManager manager;
            manager.SetNetworkWaitForTesting(kWaitMs);
            result = manager.GetHttp(rows);
        });
        EXPECT_EQ(result, 1) << address.toStdString();
        ASSERT_EQ(rows.size(), 2) << address.toStdString();
        EXPECT_EQ(rows[0].m_csAddress, QStringLiteral("2001:db8:1::/48"));
        EXPECT_EQ(rows[1].m_csAddress, QStringLiteral("fc00::/7"));
        EXPECT_TRUE(app.Boxes().shown.isEmpty());
    }
}

}  // namespace
