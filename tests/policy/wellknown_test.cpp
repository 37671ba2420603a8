// The well-known tables: glibc's table, registered, orders every destination exactly as glibc's
// built-in tables do (an empty gai.conf); every table's rows pass the editor's checks.
#include <gtest/gtest.h>

#include <random>

#include "ostable/orderpreview.h"
#include "policy/addressorder.h"
#include "policy/wellknowntables.h"

namespace {

using addressorder::Address;

Address RandomAddress(std::mt19937& rng, bool* ipv4) {
    // Prefixes of every row of the tables, and others.
    static const Address kHeads[] = {
        {0x20, 0x02}, {0x20, 0x01}, {0x20, 0x01, 0x0D, 0xB8}, {0xFC}, {0xFD}, {0xFE, 0xC0}, {0xFE, 0x80},
        {0x3F, 0xFE}, {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, {0x24, 0x00},
    };
    std::uniform_int_distribution<int> byte(0, 255);
    Address a = kHeads[std::uniform_int_distribution<std::size_t>(0, std::size(kHeads) - 1)(rng)];
    const bool mapped = a[10] == 0xFF;
    for (int i = mapped ? 12 : (a[0] == 0 ? 12 : 4); i < 16; ++i) a[std::size_t(i)] = std::uint8_t(byte(rng));
    if (a[0] == 0 && !mapped && byte(rng) < 64) a[15] = 1, a[12] = a[13] = a[14] = 0;  // ::1
    *ipv4 = mapped;
    return a;
}

}  // namespace

TEST(WellKnownTables, GlibcsRowsOrderAsGlibcsBuiltInTablesAndAllRowsAreValid) {
    for (const QString& name : wellknown::Names()) {
        CPolicyList rows;
        ASSERT_TRUE(wellknown::Table(name, rows));
        for (CPolicy row : rows) EXPECT_TRUE(row.ValidateFields()) << qPrintable(name + u' ' + row.m_csAddress);
    }
    CPolicyList glibc;
    ASSERT_TRUE(wellknown::Table(QStringLiteral("glibc"), glibc));
    EXPECT_FALSE(wellknown::Table(QStringLiteral("rfc3484"), glibc));
    wellknown::Table(QStringLiteral("glibc"), glibc);
    const QList<addressorder::CTableRow> table = orderpreview::TableRows(glibc);
    std::mt19937 rng(26);
    for (int round = 0; round < 200; ++round) {
        addressorder::CMachine machine;
        machine.interfaces = {{1, false, false}, {2, round % 3 == 0, false}};
        QList<addressorder::CDestination> destinations;
        for (int i = 0; i < 6; ++i) {
            addressorder::CLocalAddress l;
            l.address = RandomAddress(rng, &l.ipv4);
            l.prefixLength = l.ipv4 ? 24 : 64;
            l.ifindex = 1 + i % 2;
            l.deprecated = i == 3;
            machine.addresses.append(l);
            addressorder::CDestination d;
            d.address = RandomAddress(rng, &d.ipv4);
            const Address v4Source{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 0, 2, std::uint8_t(i)};
            d.route = {i != 5, 1 + i % 2, d.ipv4, v4Source};
            destinations.append(d);
        }
        const auto builtIn = addressorder::Order({}, machine, destinations);
        const auto fromRows = addressorder::Order(table, machine, destinations);
        ASSERT_EQ(builtIn.size(), fromRows.size());
        for (qsizetype i = 0; i < builtIn.size(); ++i) {
            EXPECT_EQ(builtIn[i].input, fromRows[i].input) << round;
            EXPECT_EQ(builtIn[i].precedence, fromRows[i].precedence) << round;
            EXPECT_EQ(builtIn[i].label, fromRows[i].label) << round;
            EXPECT_EQ(builtIn[i].sourceLabel, fromRows[i].sourceLabel) << round;
            EXPECT_EQ(builtIn[i].rule, fromRows[i].rule) << round;
        }
    }
}
