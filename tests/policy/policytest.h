#pragma once
// Helpers shared by the policy tests.
#include <QString>

#include "policy/policy.h"

namespace policytest {

// A row with every member set as given.
inline CPolicy Row(bool on, int source, const QString& name, const QString& label,
                   const QString& priority, const QString& address) {
    CPolicy row;
    row.m_bDisabled = !on;
    row.m_nSource = source;
    row.m_csNetworkName = name;
    row.m_csLabel = label;
    row.m_csPriority = priority;
    row.m_csAddress = address;
    return row;
}

}  // namespace policytest
