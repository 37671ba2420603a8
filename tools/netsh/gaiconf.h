#pragma once
// glibc's getaddrinfo configuration (/etc/gai.conf) as a prefix-policy table: the table glibc
// follows for a given file, and the file rewritten to make glibc follow a given table.
#include <QByteArray>
#include <QList>
#include <array>
#include <cstdint>

namespace gaiconf {

struct CRow {
    QByteArray prefix;  // as written, "<IPv6 address>/<length>"
    std::array<std::uint8_t, 16> address{};
    int length = 0;
    std::uint32_t precedence = 0;
    std::uint32_t label = 0;
};

// Largest value glibc takes from a precedence or label line.
constexpr std::uint32_t kMaxValue = 0x7FFFFFFF;

// One row per prefix named by a valid precedence or label line, in the order of first mention,
// each with the precedence and label glibc gives that prefix; glibc's built-in rows when the file
// names none.
QList<CRow> EffectiveTable(const QByteArray& file);

// True when the file has a precedence or label line that glibc takes.
bool HasTableLines(const QByteArray& file);

// The file with every precedence and label line removed and, where the first of them stood (else
// at the end), complete precedence and label tables for `rows`; every other line is kept byte
// for byte. No rows: no such lines, which gives glibc's built-in tables back.
QByteArray Rewrite(const QByteArray& file, const QList<CRow>& rows);

}  // namespace gaiconf
