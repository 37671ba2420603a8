#pragma once
// The gateway towards the policy table file, the operating system's table (through netsh)
// and the network. Declared once; its members are defined in the folder of the subsystem
// they belong to: file operations in policy/, command operations in ostable/, fetches in net/.
// A manager holds nothing open between calls.
#include <QString>

#include "policy/policy.h"

class CZarntoolApp;

class CPolicyListManager {
public:
    CPolicyListManager();

    // Policy table file (policy/).
    int GetPolicyFile(CPolicyList& list, const QString& path);
    int GetStandardPolicyFile(CPolicyList& list);
    int WritePolicyFile(const CPolicyList& list, const QString& path);

    // Operating-system table through netsh, and the diagnostic snapshot (ostable/).
    QString ExecuteCommand(const QString& commandLine);
    int GetCurrent(CPolicyList& list);
    int ConvertToPolicy(const QString& output, CPolicyList& list);
    int RemoveAllPolicy();
    int AddPolicy(CPolicyList& list);
    int DividePolicy(CPolicyList& list);
    QString GetCurrentString();
    QString GetCurrentIpconfigString();

    // Network retrieval (net/).
    int GetDhcp(CPolicyList& list);
    int GetHttp(CPolicyList& list);

    // Every network wait lasts this long (30 s). Only tests shorten it.
    static constexpr int kNetworkWaitMs = 30000;
    void SetNetworkWaitForTesting(int milliseconds) { m_nNetworkWaitMs = milliseconds; }

    CZarntoolApp* m_pApp = nullptr;
    QString m_csNetshPrefix;

private:
    int m_nNetworkWaitMs = kNetworkWaitMs;
};
