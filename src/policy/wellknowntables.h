#pragma once
// Well-known tables to start from: glibc's built-in table (RFC 3484 with glibc's own label
// rows), RFC 6724's default table (its section 2.1) and RFC 6724's table that prefers IPv4
// (its section 10.3).
#include <QString>
#include <QStringList>

#include "policy/policy.h"

namespace wellknown {

// The tables' names, as `corvane table` takes them, in menu order.
QStringList Names();

// The named table as switched-on rows, each named after its source; false for an unknown name.
bool Table(const QString& name, CPolicyList& rows);

}  // namespace wellknown
