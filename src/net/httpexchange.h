#pragma once
// The HTTP policy exchange: the fixed request, the reading of the response with an inactivity
// limit, and the response rules (end of the header, Content-Length, status, body lines).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace net {

constexpr int kHttpPort = 49881;
// The request must fit in a 4096-byte buffer with its terminating NUL.
constexpr qsizetype kMaxHttpRequestBytes = 4095;
// The largest response accepted; a hostile server cannot make the program hold more.
constexpr qint64 kMaxHttpResponseBytes = 16 * 1024 * 1024;
// Bytes asked for per receive.
constexpr qsizetype kHttpChunkBytes = 65534;

// The request for an address (CP932 bytes of the "ADDRESS" setting). An address containing
// ":" (an IPv6 literal) is written in brackets on the Host line.
QByteArray BuildHttpRequest(QByteArrayView address);

// A response as it arrives. Work per appended chunk is proportional to the chunk; the header
// is examined once, when its end has arrived.
class CHttpResponse {
public:
    // Adds received bytes. False, with nothing added, when the total would pass
    // kMaxHttpResponseBytes.
    bool Append(QByteArrayView chunk);

    // The end of the header ("\r\n\r\n") has arrived.
    bool HasHeaderEnd() const { return m_headerLength >= 0; }
    // Header length H: the position of the first "\r\n\r\n" plus 4, or -1.
    qsizetype HeaderLength() const { return m_headerLength; }
    // The Content-Length of the header, when the header has ended and carries one.
    std::optional<qint64> ContentLength() const { return m_contentLength; }
    qint64 Total() const { return m_bytes.size(); }
    const QByteArray& Bytes() const { return m_bytes; }

    // Complete while the connection is still open: the header has ended, it carries a
    // Content-Length, and H + Content-Length bytes have arrived.
    bool IsComplete() const;
    // Complete once the server has closed the connection: the header has ended and a
    // Content-Length, if any, has been met.
    bool IsCompleteAtClose() const;

    // The status text: between the first blank of the status line and the next blank (or the
    // end of that line). Empty when there is none.
    QString Status() const;
    bool IsStatusOk() const {
        return Status().compare(QLatin1String("200"), Qt::CaseInsensitive) == 0;
    }

    // The body converted from CP932 in one piece (NUL bytes dropped), "\r\n" turned into "\n",
    // split at "\n" with SplitString. Limited to Content-Length bytes when the header gives a
    // length that has been met. The caller skips the first element.
    QStringList BodyElements() const;

    // Content-Length of a header (status line first): the first field line whose name is
    // "content-length" without regard to case; its value is read like atoi (leading blanks,
    // optional sign, digits; no digits give 0), saturated far below overflow.
    static std::optional<qint64> ParseContentLength(QByteArrayView header);

private:
    QByteArray m_bytes;
    qsizetype m_headerLength = -1;
    std::optional<qint64> m_contentLength;
};

// How an exchange ended.
enum class HttpOutcome {
    Complete,       // a complete response is in `response`
    ResolveFailed,  // error: the resolver's code
    SocketFailed,   // error: errno
    ConnectFailed,  // error: errno
    SendFailed,     // error: errno
    TimedOut,       // no data within the wait
    WaitFailed,     // the wait itself failed; error: errno
    ReceiveFailed,  // error: errno
    ClosedEarly,    // the server closed before the response was complete
    TooLarge,       // the response passed kMaxHttpResponseBytes
};

struct CHttpExchangeResult {
    HttpOutcome outcome = HttpOutcome::Complete;
    int error = 0;
};

// Resolves the address (any family, stream sockets, port 49881), connects to the first result
// only, sends `request` and reads the response. Each wait for data lasts at most waitMs.
CHttpExchangeResult ExchangeHttp(QByteArrayView address, QByteArrayView request, int waitMs,
                                 CHttpResponse& response);

}  // namespace net
