// Fuzzes the HTTP response rules. The first input byte chooses how the rest is cut into
// received chunks; the response read in chunks must give the same results as read whole.
#include <cstdint>
#include <cstdlib>

#include "net/httpexchange.h"
#include "platform/codepage.h"
#include "policy/policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned pattern = data[0];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    net::CHttpResponse whole;
    if (!whole.Append(bytes)) return 0;

    net::CHttpResponse chunked;
    qsizetype at = 0;
    unsigned step = pattern;
    bool completeEarly = false;
    while (at < bytes.size()) {
        const qsizetype n = std::min<qsizetype>(bytes.size() - at, 1 + (step % 17));
        step = step * 1103515245u + 12345u;
        if (!chunked.Append(bytes.sliced(at, n))) std::abort();
        at += n;
        if (chunked.IsComplete() && at < bytes.size()) completeEarly = true;
        // Completion never goes back once reached.
        if (completeEarly && !chunked.IsComplete()) std::abort();
    }

    if (chunked.HeaderLength() != whole.HeaderLength()) std::abort();
    if (chunked.ContentLength() != whole.ContentLength()) std::abort();
    if (chunked.IsComplete() != whole.IsComplete()) std::abort();
    if (chunked.IsCompleteAtClose() != whole.IsCompleteAtClose()) std::abort();
    if (whole.HasHeaderEnd() && whole.HeaderLength() != bytes.indexOf("\r\n\r\n") + 4) std::abort();
    if (!whole.HasHeaderEnd() && bytes.indexOf("\r\n\r\n") >= 0) std::abort();
    if (chunked.Status() != whole.Status()) std::abort();
    if (chunked.BodyElements() != whole.BodyElements()) std::abort();
    if (whole.IsComplete() && !whole.IsCompleteAtClose()) std::abort();

    // A body of whole characters gives the lines of the plain rule: convert, turn "\r\n" into
    // "\n", split. Only bodies whose every byte stands for itself are compared, since a broken
    // double-byte character may legitimately be read differently.
    if (whole.HasHeaderEnd()) {
        qsizetype length = bytes.size() - whole.HeaderLength();
        if (whole.ContentLength() && *whole.ContentLength() >= 0 && *whole.ContentLength() < length)
            length = qsizetype(*whole.ContentLength());
        const QByteArrayView body = bytes.sliced(whole.HeaderLength(), length);
        bool singleBytes = true;
        for (char c : body)
            if (static_cast<unsigned char>(c) >= 0x80) singleBytes = false;
        if (singleBytes) {
            QByteArray noNul = body.toByteArray();
            noNul.removeIf([](char c) { return c == '\0'; });
            QString text = platform::FromCp932(noNul);
            text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
            if (whole.BodyElements() != SplitString(text, QStringLiteral("\n"))) std::abort();
        }
    }

    (void)net::BuildHttpRequest(bytes.first(std::min<qsizetype>(bytes.size(), 300)));
    return 0;
}
