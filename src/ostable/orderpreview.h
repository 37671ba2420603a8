#pragma once
// The address-order preview: a table's rows as they would be registered, the hosts resolved by
// the system resolver, the machine's addresses and routes read, and the destinations ordered
// as getaddrinfo and the kernel will once the table is installed.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

#include "policy/addressorder.h"
#include "policy/policy.h"

namespace orderpreview {

// One destination in its place, ready to show.
struct CRow {
    QString destination;
    bool reachable = false;
    QString source;  // empty when unreachable
    std::uint32_t precedence = 0;
    std::uint32_t label = 0;
    std::uint32_t sourceLabel = 0;
    int rule = 0;  // 1 to 10; 0 for the last
};

// The rows of a registration plan (CPolicyListManager::PlanPolicy) as the system holds them.
QList<addressorder::CTableRow> TableRows(const CPolicyList& plan);

// Why a preview failed: the host (empty for the machine's state) and the reason.
struct CFailure {
    QString host;
    QString reason;
};

// Resolves each host (its addresses in the resolver's order; the hosts' in the order given),
// reads the machine, orders. With `installed` the table is the one installed now, and the
// kernel's own label table (read from it) decides the IPv6 sources. `cancelled`, when given, is asked between the steps; a cancel
// ends the preview with no rows and an empty failure. False on a failure or a cancel.
bool Preview(const QList<addressorder::CTableRow>& table, const QStringList& hosts,
             QList<CRow>& rows, CFailure* failure,
             const std::function<bool()>& cancelled = {}, bool installed = false);

}  // namespace orderpreview
