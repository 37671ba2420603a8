#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>

namespace nettest {
namespace {

constexpr const char* kPrefix = "cvnet";

int Ip(const QStringList& arguments, QString* output = nullptr) {
    return RunProgram(QStringLiteral("ip"), arguments, output);
}

// Namespaces left behind by runs that died: their process is gone.
void RemoveStaleNamespaces() {
    const QStringList names =
        QDir(QStringLiteral("/run/netns")).entryList(QDir::Files | QDir::System);
    static const QRegularExpression pattern(QStringLiteral("^cvnet(\\d+)-"));
    for (const QString& name : names) {
        const auto match = pattern.match(name);
        if (!match.hasMatch()) continue;
        const pid_t pid = pid_t(match.captured(1).toLongLong());
        if (pid == ::getpid()) continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH)
            Ip({QStringLiteral("netns"), QStringLiteral("del"), name});
    }
}

bool WriteProc(const QString& path, const QByteArray& value) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    return f.write(value) == value.size();
}

}  // namespace

int RunProgram(const QString& program, const QStringList& arguments, QString* output) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) return -1;
    process.closeWriteChannel();
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (output) *output = QString::fromLocal8Bit(process.readAll());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool UseOwnHostsFile(const QString& hostsPath, QString* reason) {
    auto failed = [&](const char* step) {
        *reason = QLatin1String(step) + QStringLiteral(": ") +
                  QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    if (::unshare(CLONE_NEWNS) != 0) return failed("unshare(CLONE_NEWNS)");
    // Private, so that the bind below stays in this namespace.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return failed("mount / private");
    if (::mount(QFile::encodeName(hostsPath).constData(), "/etc/hosts", nullptr, MS_BIND,
                nullptr) != 0)
        return failed("mount --bind /etc/hosts");
    return true;
}

QString NamespaceTestsUnavailable() {
    if (::geteuid() != 0)
        return QStringLiteral("needs root: creates network namespaces and a veth pair");
    if (RunProgram(QStringLiteral("ip"), {QStringLiteral("-V")}) != 0)
        return QStringLiteral("the ip program (iproute2) is not available");
    return {};
}

CVethLink::~CVethLink() {
    if (!m_client.isEmpty()) Ip({QStringLiteral("netns"), QStringLiteral("del"), m_client});
    if (!m_server.isEmpty()) Ip({QStringLiteral("netns"), QStringLiteral("del"), m_server});
}

std::thread CVethLink::StartIn(const QString& netns, std::function<void()> fn) {
    const QByteArray path = QFile::encodeName(QStringLiteral("/run/netns/") + netns);
    return std::thread([path, fn = std::move(fn)] {
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0) {
            if (fd >= 0) ::close(fd);
            // Never run the code in the wrong namespace.
            std::fprintf(stderr, "cannot enter network namespace %s\n", path.constData());
            std::abort();
        }
        ::close(fd);
        fn();
    });
}

bool CVethLink::Create(QString* reason) {
    RemoveStaleNamespaces();
    static std::atomic<int> counter{0};
    std::mt19937 rng(std::random_device{}());
    const QString base = QStringLiteral("%1%2-%3%4")
                             .arg(QLatin1String(kPrefix))
                             .arg(::getpid())
                             .arg(counter++)
                             .arg(rng() % 100000);
    QString output;
    auto step = [&](const QStringList& arguments) {
        if (Ip(arguments, &output) == 0) return true;
        *reason =
            QStringLiteral("ip ") + arguments.join(u' ') + QStringLiteral(": ") + output.trimmed();
        return false;
    };
    if (!step({QStringLiteral("netns"), QStringLiteral("add"), base + u'c'})) return false;
    m_client = base + u'c';
    if (!step({QStringLiteral("netns"), QStringLiteral("add"), base + u's'})) return false;
    m_server = base + u's';
    if (!step({QStringLiteral("-n"), m_client, QStringLiteral("link"), QStringLiteral("add"),
               ClientInterface(), QStringLiteral("type"), QStringLiteral("veth"),
               QStringLiteral("peer"), QStringLiteral("name"), ServerInterface(),
               QStringLiteral("netns"), m_server}))
        return false;

    // Duplicate address detection off before the links come up: otherwise the link-local
    // addresses stay tentative for a while and packets sent from them are dropped.
    bool dadOff = true;
    RunIn(m_client, [&] {
        dadOff &= WriteProc(QStringLiteral("/proc/sys/net/ipv6/conf/") + ClientInterface() +
                                QStringLiteral("/accept_dad"),
                            "0");
    });
    RunIn(m_server, [&] {
        dadOff &= WriteProc(QStringLiteral("/proc/sys/net/ipv6/conf/") + ServerInterface() +
                                QStringLiteral("/accept_dad"),
                            "0");
    });
    if (!dadOff) {
        *reason = QStringLiteral("cannot switch duplicate address detection off");
        return false;
    }
    for (const auto& [ns, dev] :
         {std::pair(m_client, ClientInterface()), std::pair(m_server, ServerInterface())}) {
        if (!step({QStringLiteral("-n"), ns, QStringLiteral("link"), QStringLiteral("set"),
                   QStringLiteral("lo"), QStringLiteral("up")}))
            return false;
        if (!step({QStringLiteral("-n"), ns, QStringLiteral("link"), QStringLiteral("set"), dev,
                   QStringLiteral("up")}))
            return false;
    }
    return WaitForLinkLocal(m_client, ClientInterface(), reason) &&
           WaitForLinkLocal(m_server, ServerInterface(), reason);
}

bool CVethLink::WaitForLinkLocal(const QString& netns, const QString& interface, QString* reason) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    QString output;
    while (std::chrono::steady_clock::now() < until) {
        if (Ip({QStringLiteral("-n"), netns, QStringLiteral("-6"), QStringLiteral("-o"),
                QStringLiteral("addr"), QStringLiteral("show"), QStringLiteral("dev"), interface,
                QStringLiteral("scope"), QStringLiteral("link")},
               &output) == 0 &&
            output.contains(QStringLiteral("fe80::")) &&
            !output.contains(QStringLiteral("tentative")))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *reason = QStringLiteral("no usable link-local address on ") + interface +
              QStringLiteral(": ") + output;
    return false;
}

QByteArray CVethLink::ClientMac() const {
    QString output;
    Ip({QStringLiteral("-n"), m_client, QStringLiteral("-o"), QStringLiteral("link"),
        QStringLiteral("show"), ClientInterface()},
       &output);
    static const QRegularExpression ether(QStringLiteral("link/ether ([0-9a-f:]{17})"));
    const auto match = ether.match(output);
    if (!match.hasMatch()) return {};
    return QByteArray::fromHex(match.captured(1).remove(u':').toLatin1());
}

}  // namespace nettest
