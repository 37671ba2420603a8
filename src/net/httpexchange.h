#pragma once
// The HTTP policy exchange: the fixed request, the reading of the response within one deadline,
// and the response rules (end of the header, Content-Length or chunked transfer coding, status,
// body lines).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {
class CCancelEvent;
}

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
//
// The body is framed by Content-Length, by the chunked transfer coding, or by the end of the
// connection. A chunked body is decoded as it arrives: hexadecimal size (either case), optional
// extensions after ";", CR LF, data, CR LF, ... up to the last chunk (size 0), optional trailer
// fields and the final CR LF. Any other transfer coding, a coding list, Transfer-Encoding
// together with Content-Length (a body that could be read two ways), and chunk framing that
// breaks these rules make the response unreadable (FramingError).
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

    // The header asks for the chunked transfer coding.
    bool IsChunked() const { return m_chunked; }
    // Why the body cannot be read, in a word for the log; empty while the framing is sound.
    // Once set it stays, and nothing completes.
    QLatin1StringView FramingError() const { return m_framingError; }
    bool IsFramingBroken() const { return !m_framingError.isEmpty(); }

    // Complete while the connection is still open: the header has ended and either it carries
    // a Content-Length and H + Content-Length bytes have arrived, or the last chunk and the
    // trailer section of a chunked body have arrived.
    bool IsComplete() const;
    // Complete once the server has closed the connection: the header has ended and a
    // Content-Length, if any, has been met; a chunked body must be complete as above.
    bool IsCompleteAtClose() const;

    // The status text: between the first blank of the status line and the next blank (or the
    // end of that line). Empty when there is none.
    QString Status() const;
    bool IsStatusOk() const {
        return Status().compare(QLatin1String("200"), Qt::CaseInsensitive) == 0;
    }

    // The body converted from CP932 in one piece (NUL bytes dropped), "\r\n" turned into "\n",
    // split at "\n" with SplitString. Limited to Content-Length bytes when the header gives a
    // length that has been met; for a chunked body, the data decoded so far. The caller skips
    // the first element.
    QStringList BodyElements() const;
    // The decoded data of a chunked body so far.
    const QByteArray& DecodedBody() const { return m_decoded; }

    // Content-Length of a header (status line first): the first field line whose name is
    // "content-length" without regard to case; its value is read like atoi (leading blanks,
    // optional sign, digits; no digits give 0), saturated far below overflow.
    static std::optional<qint64> ParseContentLength(QByteArrayView header);

private:
    enum class ChunkState {
        Size,       // hex digits of a chunk size
        SizeBlank,  // blanks after the size, before ";"
        Extension,  // after ";", up to CR
        SizeLf,     // after the CR of the size line
        Data,       // m_chunkLeft data bytes to come
        DataCr,     // the CR after the data
        DataLf,     // the LF after the data
        LineStart,  // start of a trailer field line, or of the final CR LF
        Trailer,    // inside a trailer field line
        TrailerLf,  // after the CR of a trailer field line
        FinalLf,    // after the final CR
        Done,
    };
    void ExamineHeader();
    void Decode(QByteArrayView raw);
    // The steps of the chunked decoding: the size line, the data with its line end, and the
    // trailer section. Each returns the next position to read, or null when it has stopped.
    const char* DecodeSizeLine(const char* p, const char* end);
    const char* DecodeData(const char* p, const char* end);
    const char* DecodeTrailer(const char* p, const char* end);
    void Refuse(const char* why) { m_framingError = QLatin1StringView(why); }
    // Refuses the body and stops the decoding.
    const char* Refused(const char* why) {
        Refuse(why);
        return nullptr;
    }

    QByteArray m_bytes;
    qsizetype m_headerLength = -1;
    std::optional<qint64> m_contentLength;
    bool m_chunked = false;
    QLatin1StringView m_framingError;
    // Chunked decoding: the raw bytes decoded so far end at m_decodedUpTo.
    QByteArray m_decoded;
    qsizetype m_decodedUpTo = 0;
    ChunkState m_chunkState = ChunkState::Size;
    qint64 m_chunkLeft = 0;
    bool m_sizeHasDigit = false;
    bool m_trailerHasColon = false;
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
    BadFraming,     // the body's framing cannot be read (response.FramingError())
    Cancelled,      // the cancel event was set during a wait
};

struct CHttpExchangeResult {
    HttpOutcome outcome = HttpOutcome::Complete;
    int error = 0;
};

// Resolves the address (any family, stream sockets, port 49881), connects, sends `request` and
// reads the response. The exchange ends waitMs after it started, however the server spaces its
// bytes: every wait (connect, send, each receive) is for the time left. When the name gives
// several addresses, a failed connect goes on to the next within the same time; each attempt
// gets an equal part of the time left, so that one silent address cannot use it all. The last
// failure is reported. Setting `cancel` (may be null) ends any wait at once.
CHttpExchangeResult ExchangeHttp(QByteArrayView address, QByteArrayView request, int waitMs,
                                 CHttpResponse& response,
                                 const platform::CCancelEvent* cancel = nullptr);

}  // namespace net
