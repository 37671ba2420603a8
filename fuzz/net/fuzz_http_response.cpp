// Fuzzes the HTTP response rules. The first input byte chooses how the rest is cut into
// received chunks; the response read in chunks must give the same results as read whole. The
// rest is also sent as the body of a chunked response, in chunks of sizes the first byte
// chooses, and must decode to itself.
#include <cstdint>
#include <cstdlib>

#include "net/httpexchange.h"
#include "platform/codepage.h"
#include "policy/policy.h"

namespace {

// Feeds the bytes in pieces of 1 to 17 bytes chosen by the pattern; aborts when completion
// goes back once reached.
void FeedInPieces(net::CHttpResponse& response, QByteArrayView bytes, unsigned step) {
    qsizetype at = 0;
    bool completeEarly = false;
    while (at < bytes.size()) {
        const qsizetype n = std::min<qsizetype>(bytes.size() - at, 1 + (step % 17));
        step = step * 1103515245u + 12345u;
        if (!response.Append(bytes.sliced(at, n))) std::abort();
        at += n;
        if (response.IsComplete() && at < bytes.size()) completeEarly = true;
        if (completeEarly && !response.IsComplete()) std::abort();
    }
}

// The body in chunks of 1 to 32 bytes, with sizes in either case, some with leading zeros or an
// extension, then the last chunk with a trailer field.
QByteArray EncodeChunked(QByteArrayView body, unsigned step) {
    QByteArray out = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (qsizetype at = 0; at < body.size();) {
        const qsizetype n = std::min<qsizetype>(body.size() - at, 1 + (step % 32));
        QByteArray size = QByteArray::number(n, 16);
        if (step & 0x100) size = size.toUpper();
        if (step & 0x200) size.prepend("00");
        if (step & 0x400) size += " ;ext=\"a;b\"";
        out += size + "\r\n";
        out += body.sliced(at, n);
        out += "\r\n";
        at += n;
        step = step * 1103515245u + 12345u;
    }
    return out + "0\r\nX-Trailer: 1\r\n\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned pattern = data[0];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    net::CHttpResponse whole;
    if (!whole.Append(bytes)) return 0;

    net::CHttpResponse pieces;
    FeedInPieces(pieces, bytes, pattern);

    if (pieces.HeaderLength() != whole.HeaderLength()) std::abort();
    if (pieces.ContentLength() != whole.ContentLength()) std::abort();
    if (pieces.IsComplete() != whole.IsComplete()) std::abort();
    if (pieces.IsCompleteAtClose() != whole.IsCompleteAtClose()) std::abort();
    if (whole.HasHeaderEnd() && whole.HeaderLength() != bytes.indexOf("\r\n\r\n") + 4) std::abort();
    if (!whole.HasHeaderEnd() && bytes.indexOf("\r\n\r\n") >= 0) std::abort();
    if (pieces.Status() != whole.Status()) std::abort();
    if (pieces.BodyElements() != whole.BodyElements()) std::abort();
    if (whole.IsComplete() && !whole.IsCompleteAtClose()) std::abort();
    if (pieces.IsChunked() != whole.IsChunked()) std::abort();
    if (pieces.FramingError() != whole.FramingError()) std::abort();
    if (pieces.DecodedBody() != whole.DecodedBody()) std::abort();
    // Broken framing completes nothing; decoding never makes a body larger.
    if (whole.IsFramingBroken() && (whole.IsCompleteAtClose() || whole.IsComplete())) std::abort();
    if (whole.HasHeaderEnd() && whole.DecodedBody().size() > whole.Total() - whole.HeaderLength())
        std::abort();

    // A body of whole characters gives the lines of the plain rule: convert, turn "\r\n" into
    // "\n", split. Only bodies whose every byte stands for itself are compared, since a broken
    // double-byte character may legitimately be read differently.
    if (whole.HasHeaderEnd() && !whole.IsChunked()) {
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

    // The bytes as the body of a chunked response decode to themselves and give the lines of
    // the same body framed by Content-Length.
    if (bytes.size() < 4096) {
        net::CHttpResponse encoded;
        FeedInPieces(encoded, EncodeChunked(bytes, pattern), pattern * 7u);
        if (!encoded.IsChunked() || !encoded.IsComplete() || encoded.IsFramingBroken())
            std::abort();
        if (encoded.DecodedBody() != bytes) std::abort();
        net::CHttpResponse plain;
        plain.Append("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(bytes.size()) +
                     "\r\n\r\n");
        plain.Append(bytes);
        if (encoded.BodyElements() != plain.BodyElements()) std::abort();
    }

    (void)net::BuildHttpRequest(bytes.first(std::min<qsizetype>(bytes.size(), 300)));
    return 0;
}
