#include "net/httpexchange.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/cancelevent.h"
#include "platform/codepage.h"
#include "platform/deadline.h"
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
    // Each step reads one character or a run of them and gives the next position, or null once
    // the body is refused or complete (what follows the last chunk is not part of the response).
    while (p != nullptr && p < end) {
        switch (m_chunkState) {
            case ChunkState::Size:
            case ChunkState::SizeBlank:
            case ChunkState::Extension:
            case ChunkState::SizeLf:
                p = DecodeSizeLine(p, end);
                break;
            case ChunkState::Data:
            case ChunkState::DataCr:
            case ChunkState::DataLf:
                p = DecodeData(p, end);
                break;
            case ChunkState::LineStart:
            case ChunkState::Trailer:
            case ChunkState::TrailerLf:
            case ChunkState::FinalLf:
                p = DecodeTrailer(p, end);
                break;
            case ChunkState::Done:
                return;
        }
    }
}

const char* CHttpResponse::DecodeSizeLine(const char* p, const char* end) {
    const char c = *p;
    switch (m_chunkState) {
        case ChunkState::Size:
            if (const int digit = HexDigit(c); digit >= 0) {
                // Checked per digit, so the size stays far from overflowing.
                m_chunkLeft = m_chunkLeft * 16 + digit;
                m_sizeHasDigit = true;
                if (m_chunkLeft > kMaxHttpResponseBytes - m_decoded.size())
                    return Refused("chunk-too-large");
            } else if (!m_sizeHasDigit) {
                return Refused("chunk-size");
            } else if (IsBlank(c)) {
                m_chunkState = ChunkState::SizeBlank;
            } else if (c == ';') {
                m_chunkState = ChunkState::Extension;
            } else if (c == '\r') {
                m_chunkState = ChunkState::SizeLf;
            } else {
                return Refused("chunk-size");
            }
            return p + 1;
        case ChunkState::SizeBlank:
            if (c == ';') {
                m_chunkState = ChunkState::Extension;
            } else if (!IsBlank(c)) {
                return Refused("chunk-size");
            }
            return p + 1;
        case ChunkState::Extension:
            while (p < end && *p != '\r' && *p != '\n') ++p;
            if (p == end) return p;
            if (*p == '\n') return Refused("chunk-size");
            m_chunkState = ChunkState::SizeLf;
            return p + 1;
        default:  // SizeLf
            if (c != '\n') return Refused("chunk-size");
            m_chunkState = m_chunkLeft == 0 ? ChunkState::LineStart : ChunkState::Data;
            return p + 1;
    }
}

const char* CHttpResponse::DecodeData(const char* p, const char* end) {
    switch (m_chunkState) {
        case ChunkState::Data: {
            const qsizetype n = qsizetype(std::min<qint64>(end - p, m_chunkLeft));
            m_decoded.append(p, n);
            m_chunkLeft -= n;
            if (m_chunkLeft == 0) m_chunkState = ChunkState::DataCr;
            return p + n;
        }
        case ChunkState::DataCr:
            if (*p != '\r') return Refused("chunk-data");
            m_chunkState = ChunkState::DataLf;
            return p + 1;
        default:  // DataLf
            if (*p != '\n') return Refused("chunk-data");
            m_chunkState = ChunkState::Size;
            m_sizeHasDigit = false;
            return p + 1;
    }
}

const char* CHttpResponse::DecodeTrailer(const char* p, const char* end) {
    const char c = *p;
    switch (m_chunkState) {
        case ChunkState::LineStart:
            if (c == '\r') {
                m_chunkState = ChunkState::FinalLf;
            } else if (c == '\n' || c == ':' || IsBlank(c)) {
                return Refused("trailer");  // a bare LF, no field name, or a folded line
            } else {
                m_chunkState = ChunkState::Trailer;
                m_trailerHasColon = false;
            }
            return p + 1;
        case ChunkState::Trailer:
            while (p < end && *p != '\r' && *p != '\n') m_trailerHasColon |= *p++ == ':';
            if (p == end) return p;
            if (*p == '\n' || !m_trailerHasColon) return Refused("trailer");
            m_chunkState = ChunkState::TrailerLf;
            return p + 1;
        case ChunkState::TrailerLf:
            if (c != '\n') return Refused("trailer");
            m_chunkState = ChunkState::LineStart;
            return p + 1;
        default:  // FinalLf
            if (c != '\n') return Refused("trailer");
            m_chunkState = ChunkState::Done;
            return nullptr;
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

// Connects to the first of the addresses that answers, each in the resolver's order with an
// equal part of the time left, so that one silent address cannot use it all. The last failure
// is reported.
CHttpExchangeResult ConnectToFirst(const std::vector<platform::CSocketAddress>& addresses,
                                   const platform::CDeadline& deadline, platform::CSocket& socket,
                                   const platform::CCancelEvent* cancel) {
    CHttpExchangeResult failure{HttpOutcome::ConnectFailed, 0};
    int untried = int(addresses.size());
    for (const platform::CSocketAddress& address : addresses) {
        platform::CSocket candidate;
        if (const int openError = candidate.OpenFor(address)) {
            failure = {HttpOutcome::SocketFailed, openError};
        } else if (const int error =
                       candidate.ConnectBy(address, deadline.Share(untried), cancel)) {
            if (error == ECANCELED) return {HttpOutcome::Cancelled, 0};
            failure = {HttpOutcome::ConnectFailed, error};
        } else {
            socket = std::move(candidate);
            return {};
        }
        --untried;
    }
    return failure;
}

// Reads the response until it is complete, the server closes or the deadline passes.
CHttpExchangeResult ReceiveResponse(platform::CSocket& socket, const platform::CDeadline& deadline,
                                    CHttpResponse& response, const platform::CCancelEvent* cancel) {
    using platform::EIo;
    std::vector<char> buffer(static_cast<std::size_t>(kHttpChunkBytes));
    for (;;) {
        const platform::CIoResult got =
            socket.ReceiveBy(buffer.data(), buffer.size(), deadline, cancel);
        if (got.status == EIo::Cancelled) return {HttpOutcome::Cancelled, 0};
        if (got.status == EIo::WaitFailed) return {HttpOutcome::WaitFailed, got.error};
        if (got.status == EIo::TimedOut) return {HttpOutcome::TimedOut, 0};
        if (got.status == EIo::Failed) return {HttpOutcome::ReceiveFailed, got.error};
        if (got.bytes == 0) {
            if (response.IsCompleteAtClose()) return {};
            return {HttpOutcome::ClosedEarly, 0};
        }
        if (!response.Append(QByteArrayView(buffer.data(), qsizetype(got.bytes))))
            return {HttpOutcome::TooLarge, 0};
        if (response.IsFramingBroken()) return {HttpOutcome::BadFraming, 0};
        if (response.IsComplete()) return {};
    }
}

}  // namespace

CHttpExchangeResult ExchangeHttp(QByteArrayView address, QByteArrayView request, int waitMs,
                                 CHttpResponse& response, const platform::CCancelEvent* cancel) {
    using platform::EIo;
    // The clock starts before the name lookup; the lookup itself cannot be cut short.
    const platform::CDeadline deadline(waitMs);
    const QByteArray node = address.toByteArray();  // NUL-terminated

    std::vector<platform::CSocketAddress> addresses;
    const int error =
        platform::ResolveAddresses(node.constData(), kHttpPort, platform::EAddressFamily::Any,
                                   platform::ESocketType::Stream, addresses);
    if (error != 0 || addresses.empty()) return {HttpOutcome::ResolveFailed, error};

    platform::CSocket socket;
    if (const CHttpExchangeResult connected = ConnectToFirst(addresses, deadline, socket, cancel);
        connected.outcome != HttpOutcome::Complete)
        return connected;

    // One request, sent in full.
    const platform::CIoResult sent =
        socket.SendBy(request.data(), std::size_t(request.size()), deadline, cancel);
    if (sent.status == EIo::Cancelled) return {HttpOutcome::Cancelled, 0};
    if (sent.status == EIo::WaitFailed) return {HttpOutcome::WaitFailed, sent.error};
    if (sent.status == EIo::TimedOut) return {HttpOutcome::TimedOut, 0};
    if (sent.status == EIo::Failed) return {HttpOutcome::SendFailed, sent.error};

    return ReceiveResponse(socket, deadline, response, cancel);
}

}  // namespace net
