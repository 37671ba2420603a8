// The address-order preview's ordering: 1,000 destinations (IPv6 and IPv4, reachable and not)
// under a 100-row table, on a machine with a dozen addresses. Target: under 5 ms.
#include <benchmark/benchmark.h>

#include <random>

#include "policy/addressorder.h"

namespace {

using addressorder::Address;

Address Random(std::mt19937& rng, bool ipv4) {
    Address a{};
    std::uniform_int_distribution<int> byte(0, 255);
    if (ipv4) {
        a[10] = a[11] = 0xFF;
        for (int i = 12; i < 16; ++i) a[std::size_t(i)] = std::uint8_t(byte(rng));
        return a;
    }
    a[0] = std::uint8_t(0x20 | (byte(rng) & 0x0F));
    for (int i = 1; i < 16; ++i) a[std::size_t(i)] = std::uint8_t(byte(rng));
    return a;
}

void BM_Order(benchmark::State& state) {
    std::mt19937 rng(26);
    QList<addressorder::CTableRow> table;
    for (int i = 0; i < 100; ++i)
        table.append({Random(rng, i % 10 == 0), 16 + i % 100, std::uint32_t(i % 60), std::uint32_t(i % 13)});
    addressorder::CMachine machine;
    machine.interfaces = {{1, false, false}, {2, false, false}, {3, true, false}};
    for (int i = 0; i < 12; ++i) {
        addressorder::CLocalAddress l;
        l.ipv4 = i % 4 == 0;
        l.address = Random(rng, l.ipv4);
        l.prefixLength = l.ipv4 ? 24 : 64;
        l.ifindex = 2 + i % 2;
        l.deprecated = i % 5 == 0;
        l.temporary = i % 3 == 0;
        machine.addresses.append(l);
    }
    QList<addressorder::CDestination> destinations;
    for (int i = 0; i < 1000; ++i) {
        addressorder::CDestination d;
        d.ipv4 = i % 3 == 0;
        d.address = Random(rng, d.ipv4);
        d.route = {i % 7 != 0, 2 + i % 2, d.ipv4, machine.addresses[0].address};
        destinations.append(d);
    }
    for (auto _ : state) benchmark::DoNotOptimize(addressorder::Order(table, machine, destinations));
}
BENCHMARK(BM_Order)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
