#include "policy/wellknowntables.h"

namespace wellknown {
namespace {

struct CRowText {
    const char* prefix;
    int precedence;
    int label;
};

// glibc: the defaults of sysdeps/posix/getaddrinfo.c (RFC 3484 section 2.1, plus the label rows
// for site-local, ULA and Teredo prefixes that glibc adds).
constexpr CRowText kGlibc[] = {
    {"::1/128", 50, 0},   {"::/0", 40, 1},        {"2002::/16", 30, 2},  {"::/96", 20, 3},
    {"::ffff:0:0/96", 10, 4}, {"fec0::/10", 40, 5}, {"fc00::/7", 40, 6}, {"2001::/32", 40, 7},
};

// RFC 6724 section 2.1.
constexpr CRowText kRfc6724[] = {
    {"::1/128", 50, 0},  {"::/0", 40, 1},     {"::ffff:0:0/96", 35, 4},
    {"2002::/16", 30, 2}, {"2001::/32", 5, 5}, {"fc00::/7", 3, 13},
    {"::/96", 1, 3},     {"fec0::/10", 1, 11}, {"3ffe::/16", 1, 12},
};

// RFC 6724 section 10.3: the default table with IPv4-mapped addresses first.
constexpr CRowText kRfc6724Ipv4[] = {
    {"::1/128", 50, 0},  {"::/0", 40, 1},     {"::ffff:0:0/96", 100, 4},
    {"2002::/16", 30, 2}, {"2001::/32", 5, 5}, {"fc00::/7", 3, 13},
    {"::/96", 1, 3},     {"fec0::/10", 1, 11}, {"3ffe::/16", 1, 12},
};

template <std::size_t N>
void Fill(const CRowText (&texts)[N], const QString& source, CPolicyList& rows) {
    rows.clear();
    for (const CRowText& t : texts) {
        CPolicy row;
        row.m_bDisabled = false;
        row.m_nSource = 0;
        row.m_csNetworkName = source;
        row.m_csPriority = QString::number(t.precedence);
        row.m_csLabel = QString::number(t.label);
        row.m_csAddress = QString::fromLatin1(t.prefix);
        rows.append(row);
    }
}

}  // namespace

QStringList Names() {
    return {QStringLiteral("glibc"), QStringLiteral("rfc6724"), QStringLiteral("rfc6724-ipv4")};
}

bool Table(const QString& name, CPolicyList& rows) {
    if (name == u"glibc")
        Fill(kGlibc, QStringLiteral("glibc (RFC 3484)"), rows);
    else if (name == u"rfc6724")
        Fill(kRfc6724, QStringLiteral("RFC 6724 2.1"), rows);
    else if (name == u"rfc6724-ipv4")
        Fill(kRfc6724Ipv4, QStringLiteral("RFC 6724 10.3"), rows);
    else
        return false;
    return true;
}

}  // namespace wellknown
