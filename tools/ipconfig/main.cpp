// ipconfig for Linux: prints this machine's network interfaces the way a Japanese-language
// Windows lays out "ipconfig /all" (and the shorter plain "ipconfig"), in CP932 with CR LF
// line ends. The loopback interface is left out, as Windows leaves out its own. Default
// gateways come from the kernel's routing tables (/proc/net/route, /proc/net/ipv6_route), DNS
// servers from /etc/resolv.conf.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <unistd.h>

#include "common/consoletext.h"
#include "platform/codepage.h"
#include "platform/fileutil.h"

namespace {

struct CAddress6 {
    QString text;
    bool linkLocal = false;
    bool temporary = false;
};

struct CAdapter {
    QString name;
    unsigned flags = 0;
    QByteArray hardware;
    QStringList ipv4;
    QStringList netmasks;
    QList<CAddress6> ipv6;
    QStringList gateways;  // IPv6 first, as Windows lists them
};

class COutput : public CConsoleText {
public:
    // A "label . . . . : value" line, the dots leading to a fixed column as Windows prints
    // them; full-width characters count as two columns.
    void Field(const QString& label, const QString& value) {
        QString line = QStringLiteral("   ") + label;
        int width = 3;
        for (const QChar c : label) width += c.unicode() < 0x80 ? 1 : 2;
        // Dots on even columns up to column 40, so every colon lines up at column 41.
        for (; width <= 40; ++width) line += width % 2 == 0 ? u'.' : u' ';
        Line(line + QStringLiteral(": ") + value);
    }
};

QString ReadSysText(const QString& name, const char* file) {
    QFile f;
    if (!platform::OpenRegularForReading(f, QStringLiteral("/sys/class/net/") + name + u'/' +
                                                QLatin1String(file)))
        return {};
    return QString::fromUtf8(f.read(256)).trimmed();
}

// Reads at most `limit` bytes of a text file of the kernel or of /etc.
QByteArray ReadSmallFile(const char* path, qint64 limit = 1 << 20) {
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.read(limit);
}

// The gateways of the default routes, per interface name: "ipv6_route" lines are
// "dest destlen src srclen nexthop metric refcnt use flags iface" in hex, "route" lines
// "iface dest gateway flags ..." with addresses in host byte order.
void AddGateways(QList<CAdapter>& adapters) {
    auto adapterNamed = [&adapters](const QByteArray& name) -> CAdapter* {
        for (CAdapter& a : adapters) {
            if (a.name == QString::fromLocal8Bit(name)) return &a;
        }
        return nullptr;
    };
    for (const QByteArray& line : ReadSmallFile("/proc/net/ipv6_route").split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10 || f[0] != QByteArray(32, '0') || f[1] != "00" || f[4] == QByteArray(32, '0')) continue;
        const QByteArray hop = QByteArray::fromHex(f[4]);
        char text[INET6_ADDRSTRLEN] = {};
        CAdapter* a = adapterNamed(f[9]);
        if (a && hop.size() == 16 && ::inet_ntop(AF_INET6, hop.constData(), text, sizeof text)) {
            QString gateway = QString::fromLatin1(text);
            if (gateway.startsWith(QStringLiteral("fe80:"), Qt::CaseInsensitive)) gateway += u'%' + QString::number(::if_nametoindex(f[9].constData()));
            if (!a->gateways.contains(gateway)) a->gateways.append(gateway);
        }
    }
    for (const QByteArray& line : ReadSmallFile("/proc/net/route").split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        bool ok = false;
        if (f.size() < 4 || f[1] != "00000000" || (f[3].toUInt(&ok, 16) & 0x2) == 0 || !ok) continue;
        const in_addr gateway{static_cast<in_addr_t>(f[2].toUInt(&ok, 16))};  // already in network order in memory
        char text[INET_ADDRSTRLEN] = {};
        CAdapter* a = adapterNamed(f[0]);
        if (ok && a && ::inet_ntop(AF_INET, &gateway, text, sizeof text)) a->gateways.append(QString::fromLatin1(text));
    }
}

// "nameserver" lines of /etc/resolv.conf.
QStringList DnsServers() {
    QStringList servers;
    for (const QByteArray& line : ReadSmallFile("/etc/resolv.conf").split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 2 && f[0] == "nameserver") servers.append(QString::fromLatin1(f[1]));
    }
    return servers;
}

// Adapters in interface-index order, loopback left out.
QList<CAdapter> CollectAdapters() {
    QList<CAdapter> adapters;
    struct if_nameindex* names = ::if_nameindex();
    if (names) {
        for (struct if_nameindex* p = names; p->if_index != 0 && p->if_name; ++p) {
            CAdapter a;
            a.name = QString::fromLocal8Bit(p->if_name);
            adapters.append(a);
        }
        ::if_freenameindex(names);
    }
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return adapters;
    for (struct ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_name) continue;
        const QString name = QString::fromLocal8Bit(ifa->ifa_name);
        CAdapter* a = nullptr;
        for (CAdapter& candidate : adapters) {
            if (candidate.name == name) a = &candidate;
        }
        if (!a) {
            adapters.append(CAdapter{});
            a = &adapters.last();
            a->name = name;
        }
        a->flags = ifa->ifa_flags;
        if (!ifa->ifa_addr) continue;
        char text[INET6_ADDRSTRLEN] = {};
        switch (ifa->ifa_addr->sa_family) {
            case AF_PACKET: {
                const auto* ll = reinterpret_cast<const sockaddr_ll*>(ifa->ifa_addr);
                const int len = ll->sll_halen <= sizeof ll->sll_addr ? ll->sll_halen : 0;
                a->hardware = QByteArray(reinterpret_cast<const char*>(ll->sll_addr), len);
                break;
            }
            case AF_INET: {
                const auto* in = reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr);
                if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) a->ipv4.append(QString::fromLatin1(text));
                QString mask;
                if (ifa->ifa_netmask) {
                    const auto* m = reinterpret_cast<const sockaddr_in*>(ifa->ifa_netmask);
                    char maskText[INET_ADDRSTRLEN] = {};
                    if (::inet_ntop(AF_INET, &m->sin_addr, maskText, sizeof maskText)) mask = QString::fromLatin1(maskText);
                }
                a->netmasks.append(mask);
                break;
            }
            case AF_INET6: {
                const auto* in6 = reinterpret_cast<const sockaddr_in6*>(ifa->ifa_addr);
                if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text)) break;
                CAddress6 address;
                address.text = QString::fromLatin1(text);
                address.linkLocal = IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr);
                if (address.linkLocal) address.text += u'%' + QString::number(in6->sin6_scope_id);
                a->ipv6.append(address);
                break;
            }
            default: break;
        }
    }
    ::freeifaddrs(list);
    QList<CAdapter> shown;
    for (const CAdapter& a : adapters) {
        if (!(a.flags & IFF_LOOPBACK) && ReadSysText(a.name, "type") != QStringLiteral("772")) shown.append(a);
    }
    AddGateways(shown);
    return shown;
}

QString AdapterKind(const CAdapter& a) {
    if (QFileInfo::exists(QStringLiteral("/sys/class/net/") + a.name + QStringLiteral("/wireless")))
        return QStringLiteral("Wireless LAN アダプター ");
    const QString type = ReadSysText(a.name, "type");
    if (type == QStringLiteral("1")) return QStringLiteral("イーサネット アダプター ");
    return QStringLiteral("トンネル アダプター ");
}

QString Description(const CAdapter& a) {
    const QString driver =
        QFileInfo(QStringLiteral("/sys/class/net/") + a.name + QStringLiteral("/device/driver")).symLinkTarget();
    if (!driver.isEmpty()) return QFileInfo(driver).fileName() + QStringLiteral(" (") + a.name + u')';
    return a.name;
}

QString PhysicalAddress(const QByteArray& hardware) {
    QStringList bytes;
    for (const char b : hardware) bytes.append(QStringLiteral("%1").arg(uchar(b), 2, 16, QLatin1Char('0')).toUpper());
    return bytes.join(u'-');
}

bool Connected(const CAdapter& a) { return (a.flags & IFF_UP) && (a.flags & IFF_RUNNING); }

void Gateways(COutput& out, const CAdapter& a) {
    if (a.gateways.isEmpty()) out.Field(QStringLiteral("デフォルト ゲートウェイ "), QString());
    for (const QString& g : a.gateways) out.Field(QStringLiteral("デフォルト ゲートウェイ "), g);
}

void PrintAll(COutput& out, const QList<CAdapter>& adapters) {
    const QStringList dns = DnsServers();
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    out.Line();
    out.Line(QStringLiteral("Windows IP 構成"));
    out.Line();
    out.Field(QStringLiteral("ホスト名"), QString::fromLocal8Bit(host));
    out.Field(QStringLiteral("プライマリ DNS サフィックス "), QString());
    out.Field(QStringLiteral("ノード タイプ "), QStringLiteral("ハイブリッド"));
    out.Field(QStringLiteral("IP ルーティング有効 "), QStringLiteral("いいえ"));
    out.Field(QStringLiteral("WINS プロキシ有効 "), QStringLiteral("いいえ"));
    for (const CAdapter& a : adapters) {
        out.Line();
        out.Line(AdapterKind(a) + a.name + u':');
        out.Line();
        if (!Connected(a)) out.Field(QStringLiteral("メディアの状態"), QStringLiteral("メディアは接続されていません"));
        out.Field(QStringLiteral("接続固有の DNS サフィックス "), QString());
        out.Field(QStringLiteral("説明"), Description(a));
        out.Field(QStringLiteral("物理アドレス"), PhysicalAddress(a.hardware));
        out.Field(QStringLiteral("DHCP 有効 "), QStringLiteral("いいえ"));
        out.Field(QStringLiteral("自動構成有効"), QStringLiteral("はい"));
        if (!Connected(a)) continue;
        for (const CAddress6& v6 : a.ipv6) {
            if (!v6.linkLocal) out.Field(QStringLiteral("IPv6 アドレス "), v6.text + QStringLiteral("(優先) "));
        }
        for (const CAddress6& v6 : a.ipv6) {
            if (v6.linkLocal) out.Field(QStringLiteral("リンクローカル IPv6 アドレス"), v6.text + QStringLiteral("(優先) "));
        }
        for (qsizetype i = 0; i < a.ipv4.size(); ++i) {
            out.Field(QStringLiteral("IPv4 アドレス "), a.ipv4[i] + QStringLiteral("(優先) "));
            out.Field(QStringLiteral("サブネット マスク "), a.netmasks.value(i));
        }
        Gateways(out, a);
        for (const QString& server : dns) out.Field(QStringLiteral("DNS サーバー"), server);
        out.Field(QStringLiteral("NetBIOS over TCP/IP "), QStringLiteral("有効"));
    }
}

void PrintBrief(COutput& out, const QList<CAdapter>& adapters) {
    out.Line();
    out.Line(QStringLiteral("Windows IP 構成"));
    for (const CAdapter& a : adapters) {
        out.Line();
        out.Line(AdapterKind(a) + a.name + u':');
        out.Line();
        if (!Connected(a)) {
            out.Field(QStringLiteral("メディアの状態"), QStringLiteral("メディアは接続されていません"));
            out.Field(QStringLiteral("接続固有の DNS サフィックス "), QString());
            continue;
        }
        out.Field(QStringLiteral("接続固有の DNS サフィックス "), QString());
        for (const CAddress6& v6 : a.ipv6) {
            out.Field(v6.linkLocal ? QStringLiteral("リンクローカル IPv6 アドレス") : QStringLiteral("IPv6 アドレス "), v6.text);
        }
        for (qsizetype i = 0; i < a.ipv4.size(); ++i) {
            out.Field(QStringLiteral("IPv4 アドレス "), a.ipv4[i]);
            out.Field(QStringLiteral("サブネット マスク "), a.netmasks.value(i));
        }
        Gateways(out, a);
    }
}

void PrintUsage(COutput& out, const QString& bad) {
    if (!bad.isEmpty()) {
        out.Line();
        out.Line(QStringLiteral("エラー: 認識できないか不完全なコマンド ライン パラメーターです: ") + bad);
    }
    out.Line();
    out.Line(QStringLiteral("使用法:"));
    out.Line(QStringLiteral("    ipconfig [/? | /all]"));
    out.Line();
    out.Line(QStringLiteral("    /?           このヘルプ メッセージを表示します"));
    out.Line(QStringLiteral("    /all         すべての構成情報を表示します。"));
}

}  // namespace

int main(int argc, char** argv) {
    COutput out;
    int rc = 0;
    if (argc == 1) {
        PrintBrief(out, CollectAdapters());
    } else {
        const QString option = QString::fromLocal8Bit(argv[1]);
        if (argc == 2 && (option.compare(u"/all", Qt::CaseInsensitive) == 0 ||
                          option.compare(u"-all", Qt::CaseInsensitive) == 0)) {
            PrintAll(out, CollectAdapters());
        } else if (argc == 2 && (option == u"/?" || option == u"-?")) {
            PrintUsage(out, QString());
        } else {
            PrintUsage(out, option);
            rc = 1;
        }
    }
    out.Flush();
    return rc;
}
