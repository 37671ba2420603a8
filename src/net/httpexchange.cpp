#include "net/httpexchange.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/cancelevent.h"
#include "platform/deadline.h"
#include "platform/codepage.h"
#include "platform/socket.h"
#include "policy/policy.h"

namespace net {

QByteArray BuildHttpRequest(QByteArrayView address) {
    QByteArray request;
    request.reserve(address.size() + 128);
    request += "GET /v6/route-info HTTP/1.1\r\n";
    request += "Host:";
    if (address.contains(':')) {
        request += '[';
        request += address;
        request += ']';
    } else {
        request += address;
    }
    request += ':';
    request += QByteArray::number(kHttpPort);
    request += "\r\n";
    request += "Accept:*/*\r\n";
    request += "Accept-Charset:Shift_JIS\r\n";
    request += "Connection:close\r\n";
    request += "\r\n";
    return request;
}

// ---------------------------------------------------------------------------------------------
// CHttpResponse

bool CHttpResponse::Append(QByteArrayView chunk) {
    if (chunk.isEmpty()) return true;
    if (qint64(chunk.size()) > kMaxHttpResponseBytes - Total()) return false;
    const qsizetype before = m_bytes.size();
    m_bytes.append(chunk.data(), chunk.size());
    if (m_headerLength < 0) {
        // Only the new bytes and the three before them can complete the first "\r\n\r\n".
        const qsizetype from = std::max<qsizetype>(0, before - 3);
        const qsizetype at = m_bytes.indexOf("\r\n\r\n", from);
        if (at < 0) return true;
        m_headerLength = at + 4;
        m_decodedUpTo = m_headerLength;
        ExamineHeader();
    }
    if (m_chunked && !IsFramingBroken() && m_chunkState != ChunkState::Done) {
        Decode(QByteArrayView(m_bytes).sliced(m_decodedUpTo));
        m_decodedUpTo = m_bytes.size();
    }
    return true;
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

QByteArrayView TrimBlanks(QByteArrayView text) {
    while (!text.isEmpty() && IsBlank(text.front())) text = text.sliced(1);
    while (!text.isEmpty() && IsBlank(text.back())) text.chop(1);
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void CHttpResponse::ExamineHeader() {
    const QByteArrayView header = QByteArrayView(m_bytes).first(m_headerLength);
    m_contentLength = ParseContentLength(header);

    // The transfer codings of every Transfer-Encoding field, in order. Empty list elements are
    // skipped, as lists allow.
    bool hasTransferEncoding = false;
    qsizetype codings = 0;
    bool onlyChunked = true;
    qsizetype lineStart = header.indexOf("\r\n");  // the status line is not a field
    while (lineStart >= 0 && lineStart + 2 < header.size()) {
        lineStart += 2;
        qsizetype lineEnd = header.indexOf("\r\n", lineStart);
        if (lineEnd < 0) lineEnd = header.size();
        const QByteArrayView line = header.sliced(lineStart, lineEnd - lineStart);
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 &&
            TrimBlanks(line.first(colon))
                    .compare(QByteArrayView("transfer-encoding"), Qt::CaseInsensitive) == 0) {
            hasTransferEncoding = true;
            QByteArrayView rest = line.sliced(colon + 1);
            while (!rest.isEmpty()) {
                qsizetype comma = rest.indexOf(',');
                if (comma < 0) comma = rest.size();
                const QByteArrayView coding = TrimBlanks(rest.first(comma));
                rest = rest.sliced(std::min(comma + 1, rest.size()));
                if (coding.isEmpty()) continue;
                ++codings;
                if (coding.compare(QByteArrayView("chunked"), Qt::CaseInsensitive) != 0)
                    onlyChunked = false;
            }
        }
        lineStart = lineEnd;
    }
    if (!hasTransferEncoding) return;
    // Only "chunked" on its own is read. With a Content-Length beside it the two framings may
    // disagree, and a body that can be read two ways is not read at all.
    if (codings != 1 || !onlyChunked) return Refuse("transfer-coding");
    if (m_contentLength) return Refuse("transfer-coding-with-content-length");
    m_chunked = true;
}

void CHttpResponse::Decode(QByteArrayView raw) {
    const char* p = raw.data();
    const char* const end = p + raw.size();
    while (p < end) {
        const char c = *p;
        switch (m_chunkState) {
            case ChunkState::Size:
                if (const int digit = HexDigit(c); digit >= 0) {
                    // Checked per digit, so the size stays far from overflowing.
                    m_chunkLeft = m_chunkLeft * 16 + digit;
                    m_sizeHasDigit = true;
                    if (m_chunkLeft > kMaxHttpResponseBytes - m_decoded.size())
                        return Refuse("chunk-too-large");
                } else if (!m_sizeHasDigit) {
                    return Refuse("chunk-size");
                } else if (IsBlank(c)) {
                    m_chunkState = ChunkState::SizeBlank;
                } else if (c == ';') {
                    m_chunkState = ChunkState::Extension;
                } else if (c == '\r') {
                    m_chunkState = ChunkState::SizeLf;
                } else {
                    return Refuse("chunk-size");
                }
                ++p;
                break;
            case ChunkState::SizeBlank:
                if (c == ';') {
                    m_chunkState = ChunkState::Extension;
                } else if (!IsBlank(c)) {
                    return Refuse("chunk-size");
                }
                ++p;
                break;
            case ChunkState::Extension:
                while (p < end && *p != '\r' && *p != '\n') ++p;
                if (p == end) break;
                if (*p == '\n') return Refuse("chunk-size");
                m_chunkState = ChunkState::SizeLf;
                ++p;
                break;
            case ChunkState::SizeLf:
                if (c != '\n') return Refuse("chunk-size");
                m_chunkState = m_chunkLeft == 0 ? ChunkState::LineStart : ChunkState::Data;
                ++p;
                break;
            case ChunkState::Data: {
                const qsizetype n = qsizetype(std::min<qint64>(end - p, m_chunkLeft));
                m_decoded.append(p, n);
                p += n;
                m_chunkLeft -= n;
                if (m_chunkLeft == 0) m_chunkState = ChunkState::DataCr;
                break;
            }
            case ChunkState::DataCr:
                if (c != '\r') return Refuse("chunk-data");
                m_chunkState = ChunkState::DataLf;
                ++p;
                break;
            case ChunkState::DataLf:
                if (c != '\n') return Refuse("chunk-data");
                m_chunkState = ChunkState::Size;
                m_sizeHasDigit = false;
                ++p;
                break;
            case ChunkState::LineStart:
                if (c == '\r') {
                    m_chunkState = ChunkState::FinalLf;
                } else if (c == '\n' || c == ':' || IsBlank(c)) {
                    return Refuse("trailer");  // a bare LF, no field name, or a folded line
                } else {
                    m_chunkState = ChunkState::Trailer;
                    m_trailerHasColon = false;
                }
                ++p;
                break;
            case ChunkState::Trailer:
                while (p < end && *p != '\r' && *p != '\n') m_trailerHasColon |= *p++ == ':';
                if (p == end) break;
                if (*p == '\n' || !m_trailerHasColon) return Refuse("trailer");
                m_chunkState = ChunkState::TrailerLf;
                ++p;
                break;
            case ChunkState::TrailerLf:
                if (c != '\n') return Refuse("trailer");
                m_chunkState = ChunkState::LineStart;
                ++p;
                break;
            case ChunkState::FinalLf:
                if (c != '\n') return Refuse("trailer");
                m_chunkState = ChunkState::Done;
                return;  // what follows the last chunk is not part of the response
            case ChunkState::Done:
                return;
        }
    }
}

bool CHttpResponse::IsComplete() const {
    if (m_headerLength < 0 || IsFramingBroken()) return false;
    if (m_chunked) return m_chunkState == ChunkState::Done;
    if (!m_contentLength) return false;
    return qint64(m_headerLength) + *m_contentLength <= Total();
}

bool CHttpResponse::IsCompleteAtClose() const {
    if (m_headerLength < 0 || IsFramingBroken()) return false;
    if (m_chunked) return m_chunkState == ChunkState::Done;
    if (!m_contentLength) return true;
    return qint64(m_headerLength) + *m_contentLength <= Total();
}

std::optional<qint64> CHttpResponse::ParseContentLength(QByteArrayView header) {
    constexpr qint64 kSaturated = qint64(1) << 62;
    qsizetype lineStart = header.indexOf("\r\n");  // the status line is not a field
    if (lineStart < 0) return std::nullopt;
    lineStart += 2;
    while (lineStart < header.size()) {
        qsizetype lineEnd = header.indexOf("\r\n", lineStart);
        if (lineEnd < 0) lineEnd = header.size();
        const QByteArrayView line = header.sliced(lineStart, lineEnd - lineStart);
        const qsizetype colon = line.indexOf(':');
        if (colon >= 0 && line.first(colon).trimmed().compare(QByteArrayView("content-length"),
                                                              Qt::CaseInsensitive) == 0) {
            qsizetype i = colon + 1;
            auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; };
            while (i < line.size() && isBlank(line[i])) ++i;
            bool negative = false;
            if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
                negative = line[i] == '-';
                ++i;
            }
            qint64 value = 0;
            while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
                value = value > kSaturated / 10 ? kSaturated : value * 10 + (line[i] - '0');
                ++i;
            }
            value = std::min(value, kSaturated);
            return negative ? -value : value;
        }
        lineStart = lineEnd + 2;
    }
    return std::nullopt;
}

QString CHttpResponse::Status() const {
    const qsizetype headerEnd = m_headerLength >= 0 ? m_headerLength : m_bytes.size();
    const QByteArrayView header = QByteArrayView(m_bytes).first(headerEnd);
    qsizetype lineEnd = header.indexOf("\r\n");
    if (lineEnd < 0) lineEnd = header.size();
    const QByteArrayView line = header.first(lineEnd);
    const qsizetype first = line.indexOf(' ');
    if (first < 0) return {};
    qsizetype next = line.indexOf(' ', first + 1);
    if (next < 0) next = line.size();
    return platform::FromCp932(line.sliced(first + 1, next - first - 1));
}

namespace {

// Bytes that the code page layer maps to the same UTF-16 value as Latin-1 does: the ASCII range
// except the three control codes its converter swaps.
bool IsPlainAscii(QByteArrayView bytes) {
    if (!QtPrivate::isAscii(QLatin1StringView(bytes.data(), bytes.size()))) return false;
    for (char c : {'\x1A', '\x1C', '\x7F'})
        if (bytes.contains(c)) return false;
    return true;
}

// Drops NUL bytes and turns "\r\n" into "\n", copying the runs between them in one piece.
QByteArray NormaliseLineEnds(QByteArrayView raw) {
    QByteArray out(raw.size(), Qt::Uninitialized);
    char* to = out.data();
    const char* p = raw.data();
    const char* const end = p + raw.size();
    while (p < end) {
        const char* stop = p;
        while (stop < end && *stop != '\r' && *stop != '\0') ++stop;
        std::memcpy(to, p, std::size_t(stop - p));
        to += stop - p;
        p = stop;
        if (p == end) break;
        if (*p == '\0') {
            ++p;
            continue;
        }
        // A CR: dropped when the next byte other than NUL is an LF.
        const char* next = p + 1;
        while (next < end && *next == '\0') ++next;
        if (next == end || *next != '\n') *to++ = '\r';
        p = next;
    }
    out.truncate(to - out.data());
    return out;
}

// The lines of an ASCII body without NUL bytes, as SplitString would give them after "\r\n"
// has become "\n": empty lines are kept, an empty remainder after the last line feed is not.
QStringList SplitAsciiLines(QByteArrayView raw) {
    if (raw.isEmpty()) return {};  // an empty chunked body may have no storage at all
    const char* p = raw.data();
    const char* const end = p + raw.size();
    qsizetype count = 1;
    for (const char* q = p;
         (q = static_cast<const char*>(std::memchr(q, '\n', std::size_t(end - q)))); ++q)
        ++count;
    QStringList lines;
    lines.reserve(count);
    while (p < end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', std::size_t(end - p)));
        if (lf == nullptr) {
            lines.append(QString::fromLatin1(p, end - p));
            break;
        }
        const char* stop = (lf > p && lf[-1] == '\r') ? lf - 1 : lf;
        lines.append(QString::fromLatin1(p, stop - p));
        p = lf + 1;
    }
    return lines;
}

}  // namespace

QStringList CHttpResponse::BodyElements() const {
    if (m_headerLength < 0) return {};
    QByteArrayView raw = m_decoded;
    if (!m_chunked) {
        qsizetype bodyLength = m_bytes.size() - m_headerLength;
        if (m_contentLength && *m_contentLength >= 0 && *m_contentLength < bodyLength)
            bodyLength = qsizetype(*m_contentLength);
        raw = QByteArrayView(m_bytes).sliced(m_headerLength, bodyLength);
    }

    // The usual body, plain ASCII without NUL bytes, is cut into lines straight from the bytes:
    // the same lines as below, without the intermediate copies.
    if (!raw.contains('\0') && IsPlainAscii(raw)) return SplitAsciiLines(raw);

    // NUL bytes dropped and "\r\n" turned into "\n" on the bytes: neither CR nor LF is ever
    // the second byte of a CP932 character, so this is the same as doing it on the text.
    const QByteArray body = NormaliseLineEnds(raw);
    // Converted in one piece, so that no double-byte character is cut.
    return SplitString(platform::FromCp932(body), QStringLiteral("\n"));
}

// ---------------------------------------------------------------------------------------------
// The exchange

namespace {

// Connects by the deadline, so that an unreachable server is reported within the exchange's
// wait instead of the kernel's much longer connect time-out. The socket is left non-blocking:
// every later wait of the exchange is a poll against the same deadline. Returns 0, or the
// error number (ETIMEDOUT when the time ran out).
int ConnectBy(int fd, const sockaddr* address, socklen_t length,
              const platform::CDeadline& deadline, const platform::CCancelEvent* cancel) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    if (::connect(fd, address, length) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    const int ready = platform::PollUntil(fd, POLLOUT, deadline, cancel);
    if (ready == platform::kWaitCancelled) return ECANCELED;
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

}  // namespace

CHttpExchangeResult ExchangeHttp(QByteArrayView address, QByteArrayView request, int waitMs,
                                 CHttpResponse& response, const platform::CCancelEvent* cancel) {
    // The clock starts before the name lookup; the lookup itself cannot be cut short.
    const platform::CDeadline deadline(waitMs);
    const QByteArray node = address.toByteArray();  // NUL-terminated
    const QByteArray service = QByteArray::number(kHttpPort);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    platform::CAddrInfo resolved;
    const int rc = resolved.Resolve(node.constData(), service.constData(), hints);
    if (rc != 0 || resolved.First() == nullptr) {
        return {HttpOutcome::ResolveFailed, rc != 0 ? platform::ResolverErrorNumber(rc) : 0};
    }

    // Each address in the resolver's order until one connects.
    int untried = 0;
    for (const addrinfo* ai = resolved.First(); ai != nullptr; ai = ai->ai_next) ++untried;
    platform::CSocket socket;
    CHttpExchangeResult failure{HttpOutcome::ConnectFailed, 0};
    for (const addrinfo* ai = resolved.First(); ai != nullptr; ai = ai->ai_next, --untried) {
        platform::CSocket candidate;
        if (!candidate.Open(ai->ai_family, ai->ai_socktype, ai->ai_protocol)) {
            failure = {HttpOutcome::SocketFailed, errno};
            continue;
        }
        if (const int error = ConnectBy(candidate.Get(), ai->ai_addr, ai->ai_addrlen,
                                        deadline.Share(untried), cancel)) {
            if (error == ECANCELED) return {HttpOutcome::Cancelled, 0};
            failure = {HttpOutcome::ConnectFailed, error};
            continue;
        }
        socket = std::move(candidate);
        break;
    }
    if (!socket.IsValid()) return failure;
    resolved.Free();

    // One request; a send that stops short is continued. MSG_NOSIGNAL: a peer that has gone
    // away gives an error, not a signal that ends the program.
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(socket.Get(), request.data() + sent,
                                 std::size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = platform::PollUntil(socket.Get(), POLLOUT, deadline, cancel);
            if (ready == platform::kWaitCancelled) return {HttpOutcome::Cancelled, 0};
            if (ready < 0) return {HttpOutcome::WaitFailed, errno};
            if (ready == 0) return {HttpOutcome::TimedOut, 0};
            continue;
        }
        return {HttpOutcome::SendFailed, n < 0 ? errno : 0};
    }

    std::vector<char> buffer(static_cast<std::size_t>(kHttpChunkBytes));
    for (;;) {
        const int ready = platform::PollUntil(socket.Get(), POLLIN, deadline, cancel);
        if (ready == platform::kWaitCancelled) return {HttpOutcome::Cancelled, 0};
        if (ready < 0) return {HttpOutcome::WaitFailed, errno};
        if (ready == 0) return {HttpOutcome::TimedOut, 0};

        const ssize_t n = ::recv(socket.Get(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return {HttpOutcome::ReceiveFailed, errno};
        }
        if (n == 0) {
            if (response.IsCompleteAtClose()) return {};
            return {HttpOutcome::ClosedEarly, 0};
        }
        if (!response.Append(QByteArrayView(buffer.data(), n))) return {HttpOutcome::TooLarge, 0};
        if (response.IsFramingBroken()) return {HttpOutcome::BadFraming, 0};
        if (response.IsComplete()) return {};
    }
}

}  // namespace net
