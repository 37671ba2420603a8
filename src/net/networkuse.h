#pragma once
// Marks a network fetch as running for its whole duration: sets the application's
// m_bNetworkUse on construction and clears it on every way out.
#include "app/zarntoolapp.h"

namespace net {

class CNetworkUse {
public:
    explicit CNetworkUse(CZarntoolApp& app) : m_app(app) { m_app.m_bNetworkUse = true; }
    ~CNetworkUse() { Clear(); }
    CNetworkUse(const CNetworkUse&) = delete;
    CNetworkUse& operator=(const CNetworkUse&) = delete;

    void Clear() { m_app.m_bNetworkUse = false; }

private:
    CZarntoolApp& m_app;
};

}  // namespace net
