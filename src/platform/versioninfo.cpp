#include "platform/versioninfo.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdint>
#include <cstring>

#include "platform/fileutil.h"

namespace verinfo {
namespace {

// Most section headers and the largest section-name table looked at; real programs stay far
// below both.
constexpr std::uint64_t kMaxSections = 65536;
constexpr std::uint64_t kMaxNameTable = 4 * 1024 * 1024;

struct Section {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

class ElfFile {
public:
    explicit ElfFile(QIODevice& file) : m_file(file) {}

    // Finds the section called `name`; false when the file is no readable ELF file or has no
    // such section with contents.
    bool FindSection(const char* name, Section* found);
    QByteArray Read(std::uint64_t offset, std::uint64_t size);

private:
    std::uint64_t U(const unsigned char* p, int bytes) const {
        std::uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            const int shift = m_bigEndian ? (bytes - 1 - i) * 8 : i * 8;
            v |= static_cast<std::uint64_t>(p[i]) << shift;
        }
        return v;
    }

    QIODevice& m_file;
    bool m_bigEndian = false;
    std::uint64_t m_fileSize = 0;
};

QByteArray ElfFile::Read(std::uint64_t offset, std::uint64_t size) {
    if (offset > m_fileSize || size > m_fileSize - offset) return {};
    if (!m_file.seek(static_cast<qint64>(offset))) return {};
    QByteArray data = m_file.read(static_cast<qint64>(size));
    if (static_cast<std::uint64_t>(data.size()) != size) return {};
    return data;
}

bool ElfFile::FindSection(const char* name, Section* found) {
    if (!m_file.isOpen() || !m_file.isReadable() || m_file.isSequential()) return false;
    m_fileSize = static_cast<std::uint64_t>(qMax<qint64>(0, m_file.size()));
    const QByteArray ident = Read(0, 16);
    if (ident.size() != 16 || !ident.startsWith("\x7f" "ELF")) return false;
    const auto* id = reinterpret_cast<const unsigned char*>(ident.constData());
    const bool is64 = id[4] == 2;
    if (id[4] != 1 && id[4] != 2) return false;
    if (id[5] != 1 && id[5] != 2) return false;
    m_bigEndian = id[5] == 2;

    const QByteArray header = Read(0, is64 ? 64 : 52);
    if (header.isEmpty()) return false;
    const auto* h = reinterpret_cast<const unsigned char*>(header.constData());
    const std::uint64_t shoff = is64 ? U(h + 0x28, 8) : U(h + 0x20, 4);
    const std::uint64_t shentsize = is64 ? U(h + 0x3A, 2) : U(h + 0x2E, 2);
    std::uint64_t shnum = is64 ? U(h + 0x3C, 2) : U(h + 0x30, 2);
    std::uint64_t shstrndx = is64 ? U(h + 0x3E, 2) : U(h + 0x32, 2);
    const std::uint64_t minEntry = is64 ? 64 : 40;
    if (shoff == 0 || shoff >= m_fileSize || shentsize < minEntry) return false;

    struct Header {
        std::uint64_t name = 0, type = 0, offset = 0, size = 0, link = 0;
    };
    // One section header; false when it lies outside the file.
    auto sectionHeader = [&](std::uint64_t index, Header* out) {
        if (index >= kMaxSections) return false;
        const QByteArray sh = Read(shoff + index * shentsize, minEntry);
        if (sh.isEmpty()) return false;
        const auto* p = reinterpret_cast<const unsigned char*>(sh.constData());
        out->name = U(p + 0x00, 4);
        out->type = U(p + 0x04, 4);
        if (is64) {
            out->offset = U(p + 0x18, 8);
            out->size = U(p + 0x20, 8);
            out->link = U(p + 0x28, 4);
        } else {
            out->offset = U(p + 0x10, 4);
            out->size = U(p + 0x14, 4);
            out->link = U(p + 0x18, 4);
        }
        return true;
    };
    // Extended numbering: the real counts live in section 0.
    if (shnum == 0 || shstrndx == 0xFFFF) {
        Header first;
        if (!sectionHeader(0, &first)) return false;
        if (shnum == 0) shnum = first.size;
        if (shstrndx == 0xFFFF) shstrndx = first.link;
    }
    if (shnum == 0 || shnum > kMaxSections || shstrndx >= shnum) return false;

    Header strings;
    if (!sectionHeader(shstrndx, &strings)) return false;
    if (strings.size == 0 || strings.size > kMaxNameTable) return false;
    const QByteArray names = Read(strings.offset, strings.size);
    if (names.isEmpty()) return false;

    const std::size_t nameLength = std::strlen(name);
    for (std::uint64_t i = 0; i < shnum; ++i) {
        Header sh;
        if (!sectionHeader(i, &sh)) return false;
        if (sh.name >= static_cast<std::uint64_t>(names.size())) continue;
        const char* candidate = names.constData() + sh.name;
        const std::uint64_t room = static_cast<std::uint64_t>(names.size()) - sh.name;
        if (room < nameLength + 1 || std::memcmp(candidate, name, nameLength + 1) != 0) continue;
        if (sh.type == 8) return false;  // SHT_NOBITS: no contents in the file
        found->offset = sh.offset;
        found->size = sh.size;
        return found->offset <= m_fileSize && found->size <= m_fileSize - found->offset;
    }
    return false;
}

// The resource text: everything before the first NUL byte.
QByteArray ResourceText(const QByteArray& data) {
    const qsizetype nul = data.indexOf('\0');
    return nul < 0 ? data : data.left(nul);
}

bool LooksLikeResource(const QByteArray& data) {
    return ResourceText(data).startsWith("VS_VERSION_INFO");
}

}  // namespace

bool GetFileVersionInfo(const QString& path, QByteArray* data) {
    // Only a regular file: a pipe or device could block or never end.
    QFile file;
    if (!platform::OpenRegularForReading(file, path)) return false;
    return GetFileVersionInfo(file, data);
}

bool GetFileVersionInfo(QIODevice& device, QByteArray* data) {
    ElfFile elf(device);
    Section section;
    if (!elf.FindSection(CORVANE_VERSION_SECTION, &section)) return false;
    if (section.size == 0 || section.size > static_cast<std::uint64_t>(kMaxResourceBytes))
        return false;
    QByteArray bytes = elf.Read(section.offset, section.size);
    if (bytes.isEmpty() || !LooksLikeResource(bytes)) return false;
    if (data) *data = bytes;
    return true;
}

qint64 GetFileVersionInfoSize(const QString& path) {
    QByteArray data;
    return GetFileVersionInfo(path, &data) ? data.size() : 0;
}

bool VerQueryValue(const QByteArray& data, const QString& subBlock, QString* value) {
    if (!LooksLikeResource(data)) return false;
    const QStringList lines = QString::fromUtf8(ResourceText(data)).split(QLatin1Char('\n'));
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QString& line = lines[i];
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        if (line.left(eq).compare(subBlock, Qt::CaseInsensitive) != 0) continue;
        if (value) *value = line.mid(eq + 1);
        return true;
    }
    return false;
}

}  // namespace verinfo
