#pragma once
// Two private network namespaces joined by a veth pair, for exchanging real link-local
// multicast between a client and a server without touching the machine's own network.
// Needs root.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <thread>

namespace nettest {

// Runs a program without a shell; returns its exit code (-1 when it could not run). Standard
// output and standard error are returned in *output.
int RunProgram(const QString& program, const QStringList& arguments, QString* output = nullptr);

class CVethLink {
public:
    CVethLink() = default;
    ~CVethLink();
    CVethLink(const CVethLink&) = delete;
    CVethLink& operator=(const CVethLink&) = delete;

    // Creates both namespaces (names unique to this run), the pair, switches duplicate
    // address detection off, brings the links up and waits until both ends hold a usable
    // link-local address. False with a reason when any step fails.
    bool Create(QString* reason);

    QString ClientNamespace() const { return m_client; }
    QString ServerNamespace() const { return m_server; }
    static QString ClientInterface() { return QStringLiteral("cvc0"); }
    static QString ServerInterface() { return QStringLiteral("cvs0"); }
    // The client end's hardware address, 6 bytes.
    QByteArray ClientMac() const;

    // Runs fn on a thread of its own that has entered the namespace.
    static std::thread StartIn(const QString& netns, std::function<void()> fn);
    static void RunIn(const QString& netns, std::function<void()> fn) {
        StartIn(netns, std::move(fn)).join();
    }

private:
    bool WaitForLinkLocal(const QString& netns, const QString& interface, QString* reason);
    QString m_client;
    QString m_server;
};

// Gives the calling thread a mount namespace of its own in which the file at hostsPath is seen
// as /etc/hosts. Needs root. False with a reason when a step fails.
bool UseOwnHostsFile(const QString& hostsPath, QString* reason);

// Why namespace tests cannot run here, or empty when they can.
QString NamespaceTestsUnavailable();

}  // namespace nettest
