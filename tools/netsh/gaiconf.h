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
    bool named = true;  // a line of the file names the prefix (else glibc adds the row itself)
};

// Largest value glibc takes from a precedence or label line.
constexpr std::uint32_t kMaxValue = 0x7FFFFFFF;

// Every prefix of the two tables glibc follows by the file, each with the precedence and label
// glibc gives it: the prefixes of the valid precedence and label lines in the order of first
// mention, then "::/0" (which glibc adds to a table without it), then the built-in rows of a kind
// the file has no lines of. Registering these rows leaves glibc's behaviour as it was.
QList<CRow> EffectiveTable(const QByteArray& file);

// True when the file has a precedence or label line that glibc takes.
bool HasTableLines(const QByteArray& file);

// The file with every precedence and label line removed and, where the first of them stood (else
// at the end), complete precedence and label tables for `rows`; every other line is kept byte
// for byte. No rows: no such lines, which gives glibc's built-in tables back.
QByteArray Rewrite(const QByteArray& file, const QList<CRow>& rows);

}  // namespace gaiconf
