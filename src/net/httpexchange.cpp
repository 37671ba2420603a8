#include "net/httpexchange.h"

#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

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
        if (at >= 0) {
            m_headerLength = at + 4;
            m_contentLength = ParseContentLength(QByteArrayView(m_bytes).first(m_headerLength));
        }
    }
    return true;
}

bool CHttpResponse::IsComplete() const {
    if (m_headerLength < 0 || !m_contentLength) return false;
    return qint64(m_headerLength) + *m_contentLength <= Total();
}

bool CHttpResponse::IsCompleteAtClose() const {
    if (m_headerLength < 0) return false;
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
    qsizetype bodyLength = m_bytes.size() - m_headerLength;
    if (m_contentLength && *m_contentLength >= 0 && *m_contentLength < bodyLength)
        bodyLength = qsizetype(*m_contentLength);
    const QByteArrayView raw = QByteArrayView(m_bytes).sliced(m_headerLength, bodyLength);

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

// Connects within the exchange's wait, so that an unreachable server is reported after the
// same 30 seconds as a silent one instead of the kernel's much longer connect time-out.
// Returns 0, or the error number (ETIMEDOUT when the wait ran out).
int ConnectWithin(int fd, const sockaddr* address, socklen_t length, int waitMs) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    int error = 0;
    if (::connect(fd, address, length) != 0) {
        if (errno != EINPROGRESS) return errno;
        pollfd pfd{};
        pfd.fd = fd;
        pfd.events = POLLOUT;
        int ready;
        do {
            ready = ::poll(&pfd, 1, std::max(waitMs, 0));
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
        if (error != 0) return error;
    }
    if (::fcntl(fd, F_SETFL, flags) != 0) return errno;
    return 0;
}

}  // namespace

CHttpExchangeResult ExchangeHttp(QByteArrayView address, QByteArrayView request, int waitMs,
                                 CHttpResponse& response) {
    CHttpExchangeResult result;
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
    const addrinfo* first = resolved.First();

    platform::CSocket socket;
    if (!socket.Open(first->ai_family, first->ai_socktype, first->ai_protocol))
        return {HttpOutcome::SocketFailed, errno};
    if (const int error = ConnectWithin(socket.Get(), first->ai_addr, first->ai_addrlen, waitMs))
        return {HttpOutcome::ConnectFailed, error};
    resolved.Free();

    // One request; a send that stops short is continued. MSG_NOSIGNAL: a peer that has gone
    // away gives an error, not a signal that ends the program.
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(socket.Get(), request.data() + sent,
                                 std::size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return {HttpOutcome::SendFailed, n < 0 ? errno : 0};
        sent += n;
    }

    std::vector<char> buffer(static_cast<std::size_t>(kHttpChunkBytes));
    for (;;) {
        pollfd pfd{};
        pfd.fd = socket.Get();
        pfd.events = POLLIN;
        const int ready = ::poll(&pfd, 1, std::max(waitMs, 0));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return {HttpOutcome::WaitFailed, errno};
        }
        if (ready == 0) return {HttpOutcome::TimedOut, 0};

        const ssize_t n = ::recv(socket.Get(), buffer.data(), buffer.size(), 0);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return {HttpOutcome::ReceiveFailed, errno};
        }
        if (n == 0) {
            if (response.IsCompleteAtClose()) return result;
            return {HttpOutcome::ClosedEarly, 0};
        }
        if (!response.Append(QByteArrayView(buffer.data(), n))) return {HttpOutcome::TooLarge, 0};
        if (response.IsComplete()) return result;
    }
}

}  // namespace net
