// A child for the address-order test: in private mount and network namespaces it gives /etc an
// overlay and the machine a veth link with several kinds of addresses and routes, then for each
// seeded random table and destination list compares corvane's preview with what glibc and the
// kernel do once `corvane apply` has installed the table on the system store.
//
//   orderprobe ROOT WORKDIR SEED COUNT
//
// ROOT is an installation (corvane, netsh on the system store). Prints one line per mismatch
// and "cases N mismatches M"; exits 0 when all matched, 1 on a mismatch, 2 when a step failed.
#include <arpa/inet.h>
#include <netdb.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

using Address = std::array<std::uint8_t, 16>;

[[noreturn]] void Fail(const QString& step) {
    std::printf("failed %s: %s\n", qPrintable(step), std::strerror(errno));
    std::exit(2);
}

QString g_root;

int Run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    QProcess p;
    p.setProcessChannelMode(out ? QProcess::SeparateChannels : QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(60000)) return -1;
    if (out) *out = p.readAllStandardOutput();
    const QByteArray err = out ? p.readAllStandardError() : p.readAll();
    if (p.exitCode() != 0 && !err.isEmpty()) std::printf("%s: %s", qPrintable(program), err.constData());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

void Ip(const QString& line) {
    if (Run(QStringLiteral("ip"), line.split(u' ')) != 0) Fail(QStringLiteral("ip ") + line);
}

void WriteText(const char* path, const QByteArray& text) {
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        Fail(QStringLiteral("write ") + QLatin1String(path));
}

// Private namespaces, /etc as an overlay of the real one with glibc told to read gai.conf again
// whenever it changes and to take names from /etc/hosts alone.
void OwnSystem(const QString& work) {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) Fail(QStringLiteral("unshare"));
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) Fail(QStringLiteral("mount private"));
    const QByteArray upper = QFile::encodeName(work + QStringLiteral("/upper"));
    const QByteArray lower = QFile::encodeName(work + QStringLiteral("/work"));
    ::mkdir(upper.constData(), 0755);
    ::mkdir(lower.constData(), 0755);
    const QByteArray options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + lower;
    if (::mount("overlay", "/etc", "overlay", 0, options.constData()) != 0) Fail(QStringLiteral("overlay /etc"));
    WriteText("/etc/gai.conf", "reload yes\n");
    WriteText("/etc/nsswitch.conf", "hosts: files\n");
    WriteText("/etc/hosts", "127.0.0.1 localhost\n");
    WriteText("/etc/host.conf", "multi on\n");
}

// lo; a veth link with a global, a ULA, a 6to4-like, a deprecated and a home IPv6 address and
// two IPv4 ones; default routes; unreachable routes for one IPv6 and one IPv4 prefix.
void OwnNetwork() {
    WriteText("/proc/sys/net/ipv6/conf/default/accept_dad", "0\n");
    WriteText("/proc/sys/net/ipv6/conf/all/accept_dad", "0\n");
    Ip(QStringLiteral("link set lo up"));
    Ip(QStringLiteral("link add cvo0 type veth peer name cvo1"));
    Ip(QStringLiteral("link set cvo1 up"));
    Ip(QStringLiteral("link set cvo0 up"));
    Ip(QStringLiteral("-6 addr add 2001:db8:1::10/64 dev cvo0 nodad"));
    Ip(QStringLiteral("-6 addr add fd12:3456:789a::10/64 dev cvo0 nodad"));
    Ip(QStringLiteral("-6 addr add 2002:c000:20a::10/48 dev cvo0 nodad"));
    Ip(QStringLiteral("-6 addr add 2001:db8:2::10/64 dev cvo0 nodad preferred_lft 0 valid_lft forever"));
    Ip(QStringLiteral("-6 addr add 2001:db8:3::10/64 dev cvo0 nodad home"));
    Ip(QStringLiteral("addr add 192.0.2.10/24 dev cvo0"));
    Ip(QStringLiteral("addr add 198.51.100.10/25 dev cvo0"));
    Ip(QStringLiteral("-6 route add default via 2001:db8:1::1 dev cvo0"));
    Ip(QStringLiteral("route add default via 192.0.2.1 dev cvo0"));
    Ip(QStringLiteral("-6 route add unreachable 2001:db8:dead::/48"));
    Ip(QStringLiteral("route add unreachable 203.0.113.0/24"));
}

Address Parse(const char* text) {
    Address a{};
    if (::inet_pton(AF_INET6, text, a.data()) != 1) {
        in_addr v4{};
        ::inet_pton(AF_INET, text, &v4);
        a[10] = a[11] = 0xFF;
        std::memcpy(a.data() + 12, &v4, 4);
    }
    return a;
}

bool IsMapped(const Address& a) {
    return std::all_of(a.begin(), a.begin() + 10, [](std::uint8_t x) { return x == 0; }) && a[10] == 0xFF &&
           a[11] == 0xFF;
}

QString Text(const Address& a) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsMapped(a))
        ::inet_ntop(AF_INET, a.data() + 12, text, sizeof text);
    else
        ::inet_ntop(AF_INET6, a.data(), text, sizeof text);
    return QString::fromLatin1(text);
}

Address Masked(Address a, int length) {
    for (int bit = length; bit < 128; ++bit) a[std::size_t(bit / 8)] &= std::uint8_t(~(0x80u >> (bit % 8)));
    return a;
}

using Rng = std::mt19937;

int Pick(Rng& rng, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

// Addresses near the machine's own, in its routes' prefixes, and of every kind the tables name.
const char* const kBases[] = {
    "2001:db8:1::",   "fd12:3456:789a::", "2002:c000:20a::", "2001:db8:2::",  "2001:db8:dead::",
    "2001:db8:3::",   "2400:cb00::",      "2002:cb00:7100::", "2001:0:4136::", "fd99::",
    "fec0::",         "3ffe:1::",         "2001:10::",        "::1",           "fe80::",
    "192.0.2.0",      "198.51.100.0",     "203.0.113.0",      "8.8.0.0",       "169.254.0.0",
    "127.0.0.1",      "10.1.0.0",
};

Address RandomDestination(Rng& rng) {
    const char* base = kBases[Pick(rng, 0, int(std::size(kBases)) - 1)];
    Address a = Parse(base);
    if (std::strcmp(base, "::1") == 0 || std::strcmp(base, "127.0.0.1") == 0) return a;
    const bool v4 = IsMapped(a);
    const int kind = Pick(rng, 0, 5);
    if (kind == 0 && std::strncmp(base, "2001:db8:1", 10) == 0) return Parse("2001:db8:1::10");
    if (kind == 0 && v4 && base[0] == '1' && base[1] == '9') return Parse(base[2] == '2' ? "192.0.2.10" : "198.51.100.10");
    if (kind == 1 && v4 && base[0] == '1' && base[1] == '9') return Parse(base[2] == '2' ? "192.0.2.255" : "198.51.100.127");
    // Random host bits: the last two bytes, and for IPv6 sometimes a whole random interface id.
    a[15] = std::uint8_t(Pick(rng, 1, 254));
    if (a[14] == 0) a[14] = std::uint8_t(Pick(rng, 0, 255));
    if (!v4 && kind >= 4)
        for (int i = 8; i < 14; ++i) a[std::size_t(i)] = std::uint8_t(Pick(rng, 0, 255));
    return a;
}

struct CRow {
    Address prefix{};
    int length = 0;
    int precedence = 0;
    int label = 0;
};

// A random table: well-known prefixes and prefixes around the machine's and the destinations',
// each prefix once in its masked form; IPv4-mapped ones of every length from 80 to 128 (the
// kernel holds none longer than /96, glibc takes them all).
QList<CRow> RandomTable(Rng& rng) {
    static const char* const kKnown[] = {"::1/128", "::/0", "::ffff:0:0/96", "::/96", "2002::/16",
                                         "2001::/32", "fc00::/7", "fec0::/10", "3ffe::/16", "2001:db8::/32",
                                         "2001:db8:1::/48", "fd12:3456::/32", "::ffff:0:0/95", "2000::/3"};
    QList<CRow> rows;
    QSet<QString> seen;
    const int n = Pick(rng, 0, 7);
    while (rows.size() < n) {
        CRow r;
        if (Pick(rng, 0, 1) == 0) {
            const QString known = QString::fromLatin1(kKnown[Pick(rng, 0, int(std::size(kKnown)) - 1)]);
            r.prefix = Parse(known.section(u'/', 0, 0).toLatin1().constData());
            r.length = known.section(u'/', 1).toInt();
        } else {
            r.length = Pick(rng, 0, 128);
            r.prefix = RandomDestination(rng);
            if (IsMapped(r.prefix)) r.length = Pick(rng, 80, 128);
        }
        r.prefix = Masked(r.prefix, r.length);
        const QString key = Text(r.prefix) + u'/' + QString::number(r.length);
        if (seen.contains(key)) continue;
        seen.insert(key);
        r.precedence = Pick(rng, 0, 4) == 0 ? Pick(rng, 0, 1000) : Pick(rng, 1, 60);
        r.label = Pick(rng, 0, 9);
        rows.append(r);
    }
    return rows;
}

QString PrefixText(const CRow& r) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, r.prefix.data(), text, sizeof text);
    return QString::fromLatin1(text) + u'/' + QString::number(r.length);
}

QByteArray TableFile(const QList<CRow>& rows) {
    QByteArray bytes;
    for (const CRow& r : rows)
        bytes += "1,2,r," + QByteArray::number(r.label) + ',' + QByteArray::number(r.precedence) + ',' +
                 PrefixText(r).toLatin1() + "\r\n";
    return bytes;
}

struct CPreview {
    QStringList destinations;
    QStringList sources;  // "-" when unreachable
};

bool Corvane(const QStringList& args, CPreview* preview) {
    QByteArray out;
    if (Run(g_root + QStringLiteral("corvane"), args, &out) != 0) return false;
    if (!preview) return true;
    const QJsonArray rows = QJsonDocument::fromJson(out).object().value(QStringLiteral("rows")).toArray();
    for (const QJsonValue& v : rows) {
        const QJsonObject o = v.toObject();
        preview->destinations << o.value(QStringLiteral("destination")).toString();
        preview->sources << (o.value(QStringLiteral("source")).isNull() ? QStringLiteral("-")
                                                                        : o.value(QStringLiteral("source")).toString());
    }
    return !rows.isEmpty();
}

QStringList GlibcOrder(const char* name) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    QStringList order;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0) return order;
    for (const addrinfo* i = list; i; i = i->ai_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = i->ai_family == AF_INET
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(i->ai_addr)->sin_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(i->ai_addr)->sin6_addr);
        ::inet_ntop(i->ai_family, raw, text, sizeof text);
        order << QString::fromLatin1(text);
    }
    ::freeaddrinfo(list);
    return order;
}

// The source the kernel gives a UDP socket connected to the address; "-" when connect fails.
QString KernelSource(const QString& destination) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(destination.toLatin1().constData(), "9", &hints, &list) != 0) return QStringLiteral("?");
    const int fd = ::socket(list->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    QString result = QStringLiteral("-");
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (fd >= 0 && ::connect(fd, list->ai_addr, list->ai_addrlen) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = local.ss_family == AF_INET
                              ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(&local)->sin_addr)
                              : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(&local)->sin6_addr);
        ::inet_ntop(local.ss_family, raw, text, sizeof text);
        result = QString::fromLatin1(text);
    }
    if (fd >= 0) ::close(fd);
    ::freeaddrinfo(list);
    return result;
}

// One case; a description of what differed, or an empty text.
QString RunCase(Rng& rng, const QString& work, bool byName) {
    const QList<CRow> table = RandomTable(rng);
    QStringList destinations;
    const int count = Pick(rng, 1, 8);
    while (destinations.size() < count) {
        const QString d = Text(RandomDestination(rng));
        if (!destinations.contains(d)) destinations << d;
    }
    QString tableText;
    for (const CRow& r : table)
        tableText += PrefixText(r) + u' ' + QString::number(r.precedence) + u' ' + QString::number(r.label) + u';';
    const QString what = QStringLiteral("table [%1] destinations [%2]").arg(tableText, destinations.join(u' '));
    const QString path = work + QStringLiteral("/table.conf");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(TableFile(table)) < 0) Fail(QStringLiteral("table"));
    f.close();
    CPreview preview;
    if (!Corvane(QStringList{"order", "--table", path, "--json"} + destinations, &preview))
        return QStringLiteral("corvane order failed: ") + what;
    if (!Corvane({"apply", path, "--accept-terms", "--quiet"}, nullptr)) return QStringLiteral("corvane apply failed: ") + what;
    QByteArray hosts = "127.0.0.1 localhost\n";
    for (const QString& d : destinations) hosts += d.toLatin1() + " ordertest\n";
    WriteText("/etc/hosts", hosts);
    const QStringList glibc = GlibcOrder("ordertest");
    if (glibc != preview.destinations)
        return QStringLiteral("order: preview [%1] glibc [%2] %3").arg(preview.destinations.join(u' '), glibc.join(u' '), what);
    for (qsizetype i = 0; i < preview.destinations.size(); ++i) {
        const QString kernel = KernelSource(preview.destinations[i]);
        if (kernel != preview.sources[i])
            return QStringLiteral("source of %1: preview %2 kernel %3 %4").arg(preview.destinations[i], preview.sources[i], kernel, what);
    }
    // By name, under the installed table: the resolver's order is already that table's.
    CPreview named;
    if (byName && (!Corvane({"order", "--json", "ordertest"}, &named) || named.destinations != glibc))
        return QStringLiteral("by name: preview [%1] glibc [%2] %3").arg(named.destinations.join(u' '), glibc.join(u' '), what);
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::printf("usage: orderprobe ROOT WORKDIR SEED COUNT\n");
        return 2;
    }
    g_root = QFile::decodeName(argv[1]) + u'/';
    const QString work = QFile::decodeName(argv[2]);
    const unsigned seed = unsigned(std::strtoul(argv[3], nullptr, 10));
    const int count = std::atoi(argv[4]);
    ::setenv("NETSH_STORE", "system", 1);
    OwnSystem(work);
    OwnNetwork();
    int mismatches = 0;
    for (int i = 0; i < count; ++i) {
        Rng rng(seed + unsigned(i));
        const QString problem = RunCase(rng, work, i % 20 == 0);
        if (!problem.isEmpty()) {
            ++mismatches;
            std::printf("case %d (seed %u): %s\n", i, seed + unsigned(i), qPrintable(problem));
        }
    }
    std::printf("cases %d mismatches %d\n", count, mismatches);
    return mismatches == 0 ? 0 : 1;
}
