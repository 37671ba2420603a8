#include "ostable/orderpreview.h"

#include "platform/netinfo.h"

namespace orderpreview {
namespace {

addressorder::CMachine ToMachine(const std::vector<platform::CNetInterface>& interfaces,
                                 const std::vector<platform::CNetLocalAddress>& addresses) {
    addressorder::CMachine machine;
    machine.interfaces = QList<addressorder::CInterface>(interfaces.begin(), interfaces.end());
    machine.addresses = QList<addressorder::CLocalAddress>(addresses.begin(), addresses.end());
    return machine;
}

bool Fail(CFailure* failure, const QString& host, const std::string& reason) {
    if (failure) *failure = {host, QString::fromLocal8Bit(reason.c_str())};
    return false;
}

}  // namespace

QList<addressorder::CTableRow> TableRows(const CPolicyList& plan) {
    QList<addressorder::CTableRow> rows;
    rows.reserve(plan.size());
    for (const CPolicy& p : plan) {
        addressorder::CTableRow r;
        IPv6Bytes prefix{};
        if (!p.GetPrefix(prefix)) continue;
        r.prefix = prefix;
        r.length = p.GetPrefixLen();
        r.precedence = p.m_csPriority.trimmed().toUInt();
        r.label = p.m_csLabel.trimmed().toUInt();
        rows.append(r);
    }
    return rows;
}

bool Preview(const QList<addressorder::CTableRow>& table, const QStringList& hosts,
             QList<CRow>& rows, CFailure* failure, const std::function<bool()>& cancelled,
             bool installed) {
    rows.clear();
    const auto stop = [&] { return cancelled && cancelled(); };
    QList<addressorder::CDestination> destinations;
    QStringList texts;
    for (const QString& host : hosts) {
        if (stop()) return Fail(failure, QString(), {});
        std::vector<platform::CResolvedAddress> resolved;
        std::string reason;
        if (!platform::ResolveHost(host.toStdString(), resolved, &reason))
            return Fail(failure, host, reason);
        for (const platform::CResolvedAddress& r : resolved) {
            addressorder::CDestination d;
            d.address = r.address;
            d.ipv4 = r.ipv4;
            platform::CNetRoute route;
            if (!platform::LookUpRoute(r.address, r.ipv4, &route, &reason)) return Fail(failure, QString(), reason);
            d.route = {route.reachable, route.ifindex, route.hasSource, route.source};
            destinations.append(d);
            texts.append(QString::fromStdString(platform::NetAddressText(r.address, r.ipv4)));
        }
    }
    std::vector<platform::CNetInterface> interfaces;
    std::vector<platform::CNetLocalAddress> addresses;
    std::string reason;
    if (stop()) return Fail(failure, QString(), {});
    if (!platform::ReadNetInterfaces(interfaces, addresses, &reason)) return Fail(failure, QString(), reason);
    QList<addressorder::CTableRow> kernelLabels;
    if (installed) {
        std::vector<platform::CNetAddressLabel> labels;
        if (!platform::ReadAddressLabels(labels, &reason)) return Fail(failure, QString(), reason);
        for (const platform::CNetAddressLabel& l : labels)
            if (l.ifindex == 0) kernelLabels.append({l.prefix, l.length, 0, l.label});
    }
    const QList<addressorder::COrdered> ordered = addressorder::Order(
        table, ToMachine(interfaces, addresses), destinations, installed ? &kernelLabels : nullptr);
    for (const addressorder::COrdered& o : ordered) {
        CRow row;
        row.destination = texts[o.input];
        row.reachable = o.reachable;
        if (o.reachable)
            row.source = QString::fromStdString(platform::NetAddressText(o.source, o.sourceIpv4));
        row.precedence = o.precedence;
        row.label = o.label;
        row.sourceLabel = o.sourceLabel;
        row.rule = o.rule;
        rows.append(row);
    }
    return true;
}

}  // namespace orderpreview
