// netsh for Linux: the "interface ipv6" prefix-policy commands of a Japanese-language Windows,
// so that Corvane has an operating-system table to read and install on Linux.
//
//   netsh interface ipv6 show prefixpolicies      (Vista/7 form: highest precedence first)
//   netsh interface ipv6 show prefixpolicy        (XP form: lowest precedence first)
//   netsh interface ipv6 add prefixpolicy <prefix> <precedence> <label> [store]
//   netsh interface ipv6 delete prefixpolicy <prefix> [store]
//
// Parameters may also be given by name (prefix=, precedence=, label=, store=). Everything is
// printed in CP932 with CR LF line ends, as the Windows console command does.
//
// Two stores hold the table, chosen by NETSH_STORE ("file" or "system"), else by a line
// "store=file" or "store=system" in "netsh.conf" beside this program, else "file".
//
// The file store keeps the table in the file named by NETSH_PREFIXPOLICY_FILE, by default
// "netsh-prefixpolicy.table" beside this program: one entry per line, "precedence label
// prefix", UTF-8, lines starting with "#" ignored. While the file does not exist the table is
// the Windows 7 default; an empty file is an empty table. Changes replace the file atomically,
// and every run holds a lock on "<table file>.lock" so concurrent runs are serialised.
//
// The system store is this machine's own table: the table glibc's getaddrinfo follows by
// /etc/gai.conf (NETSH_GAI_CONF names another file), and the kernel's address labels, which
// every change sets to the table's rows the kernel can hold (not when NETSH_KERNEL_LABELS=0 or
// netsh.conf says "kernel_labels=no"). Each change is one transaction of both (systemstore.h).
//
//   netsh --load-kernel-labels    sets the kernel's labels from the file, for a boot
//
//   netsh -f FILE, netsh exec FILE    runs each line of FILE as a command (the words after
//   "netsh"), in order, in one process; blank lines and lines starting with "#" are skipped.
//   Each command's output is what it prints alone, followed by the line
//   "# end of line N, exit code C" (N: its line in FILE; C: the exit code it would have alone),
//   so that a caller can tell where one command's output ends. A failed command does not stop
//   the script. The exit code is 0 when every command gave 0, else 1. The script is one
//   transaction of its store: the table is loaded once under one lock, every command works on
//   it in memory (a "show" lists it as the script has it so far), and it is stored once at the
//   end (the file store: one write; the system store: one replacement of the file and one
//   update of the kernel's labels). A refused command changes nothing and the rest still apply;
//   if the store cannot be written at the end, every change of the script is left undone and
//   each of them prints that failure, as it would have alone, instead of "OK". The outputs
//   are therefore printed when the script ends.
//
// NETSH_STORE and netsh.conf are read by platform::ReadNetshConf, which the program uses too.
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "common/addrlabel.h"
#include "common/consoletext.h"
#include "gaiconf.h"
#include "platform/netshconf.h"
#include "systemstore.h"
#include "texts.h"
#include "platform/codepage.h"
#include "platform/fd.h"
#include "platform/fileutil.h"
#include "platform/process.h"
#include "platform/selfpath.h"

namespace {

using namespace netshtext;

// ---- texts (what a Japanese-language Windows prints) ----

const char16_t kUsageAdd[] =
    u"使用法: add prefixpolicy [prefix=]<IPv6 アドレス>/<整数> [precedence=]<整数> [label=]<整数> "
    u"[[store=]active|persistent]";
const char16_t kUsageDelete[] =
    u"使用法: delete prefixpolicy [prefix=]<IPv6 アドレス>/<整数> [[store=]active|persistent]";
const char16_t kUsageShowPolicies[] = u"使用法: show prefixpolicies [[store=]active|persistent]";
const char16_t kUsageShowPolicy[] = u"使用法: show prefixpolicy [[store=]active|persistent]";

// Every help text's lines after the fourth have other than three blank-separated columns, so
// that a reader expecting the table never takes a help line for an entry.
const QStringList& TopHelp() {
    static const QStringList lines = {
        QStringLiteral("使用法: netsh [コンテキスト] <コマンド>"),
        QString(),
        QStringLiteral("次のコマンドを利用できます:"),
        QString(),
        QStringLiteral("このコンテキストのコマンド:"),
        QStringLiteral("?              - コマンドの 一覧を表示します。"),
        QStringLiteral("help           - コマンドの 一覧を表示します。"),
        QStringLiteral("interface      - 'interface' コンテキストに 変更します。"),
        QString(),
        QStringLiteral("サブコンテキストを使用するには、コンテキスト名の後に コマンドを入力してください。"),
    };
    return lines;
}

const QStringList& InterfaceHelp() {
    static const QStringList lines = {
        QStringLiteral("次のコマンドを利用できます:"),
        QString(),
        QStringLiteral("このコンテキストのコマンド:"),
        QStringLiteral("?              - コマンドの一覧を表示します。"),
        QStringLiteral("help           - コマンドの 一覧を表示します。"),
        QStringLiteral("ipv6           - 'interface ipv6' コンテキストに 変更します。"),
        QString(),
        QStringLiteral("サブコンテキストを使用するには、コンテキスト名の後に コマンドを入力してください。"),
    };
    return lines;
}

const QStringList& Ipv6Help() {
    static const QStringList lines = {
        QStringLiteral("次のコマンドを利用できます:"),
        QString(),
        QStringLiteral("このコンテキストのコマンド:"),
        QStringLiteral("?              - コマンドの一覧を表示します。"),
        QStringLiteral("add            - プレフィックス ポリシー エントリを追加します。"),
        QStringLiteral("delete         - プレフィックス ポリシー エントリを削除します。"),
        QStringLiteral("help           - コマンドの 一覧を表示します。"),
        QStringLiteral("show           - プレフィックス ポリシー テーブルを表示します。"),
        QString(),
        QStringLiteral("コマンドのヘルプを表示するには、コマンドの後にスペースを入れ、? を入力してください。"),
    };
    return lines;
}

QStringList GroupHelp(const QString& verb) {
    QStringList lines = {QStringLiteral("次のコマンドを利用できます:"), QString()};
    if (verb == u"add") {
        lines << QStringLiteral("add prefixpolicy - プレフィックス ポリシー エントリを 追加します。");
    } else if (verb == u"delete") {
        lines << QStringLiteral("delete prefixpolicy - プレフィックス ポリシー エントリを 削除します。");
    } else {
        lines << QStringLiteral("show prefixpolicies - プレフィックス ポリシー テーブルを 表示します。")
              << QStringLiteral("show prefixpolicy - プレフィックス ポリシー テーブルを 昇順に表示します。");
    }
    lines << QString() << QStringLiteral("コマンドのヘルプを表示するには、コマンドの後にスペースを入れ、? を入力してください。");
    return lines;
}

// ---- output ----

using COutput = CConsoleText;

// ---- the table ----

struct CEntry {
    std::uint32_t precedence = 0;
    std::uint32_t label = 0;
    QString prefix;  // as given
    std::array<std::uint8_t, 16> address{};
    int length = 0;
    bool named = true;  // the system store: a line of gai.conf names it (gaiconf::CRow)

    // The file store tells prefixes apart as written, as the stand-in always has; glibc and the
    // kernel (the system store) compare them with the host bits masked.
    bool SamePrefix(const CEntry& other, bool masked) const {
        if (length != other.length) return false;
        if (!masked) return address == other.address;
        for (int bit = 0; bit < length; ++bit) {
            const unsigned mask = 0x80u >> (bit % 8);
            if ((address[std::size_t(bit / 8)] & mask) != (other.address[std::size_t(bit / 8)] & mask)) return false;
        }
        return true;
    }
};

// A decimal number of 1 to 10 ASCII digits, at most 4294967295.
std::optional<std::uint32_t> ParseNumber(const QString& text) {
    if (text.isEmpty() || text.size() > 10) return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + std::uint64_t(c.unicode() - u'0');
    }
    if (value > 0xFFFFFFFFull) return std::nullopt;
    return std::uint32_t(value);
}

// "<IPv6 address>/<length 0..128>".
bool ParsePrefix(const QString& text, CEntry& entry) {
    const qsizetype slash = text.indexOf(u'/');
    if (slash <= 0 || slash != text.lastIndexOf(u'/')) return false;
    const QString lengthText = text.mid(slash + 1);
    if (lengthText.isEmpty() || lengthText.size() > 3) return false;
    const std::optional<std::uint32_t> length = ParseNumber(lengthText);
    if (!length || *length > 128) return false;
    const QString addressText = text.left(slash);
    for (const QChar c : addressText) {
        if (!(c.isDigit() && c.unicode() < 128) && !(c >= u'a' && c <= u'f') && !(c >= u'A' && c <= u'F') &&
            c != u':' && c != u'.')
            return false;
    }
    const QByteArray latin = addressText.toLatin1();
    if (::inet_pton(AF_INET6, latin.constData(), entry.address.data()) != 1) return false;
    entry.length = int(*length);
    entry.prefix = text;
    return true;
}

QList<CEntry> DefaultTable() {
    static const struct {
        std::uint32_t precedence;
        std::uint32_t label;
        const char16_t* prefix;
    } kRows[] = {{50, 0, u"::1/128"}, {40, 1, u"::/0"},          {30, 2, u"2002::/16"},
                 {20, 3, u"::/96"},   {10, 4, u"::ffff:0:0/96"}, {5, 5, u"2001::/32"}};
    QList<CEntry> table;
    for (const auto& r : kRows) {
        CEntry e;
        ParsePrefix(QString::fromUtf16(r.prefix), e);
        e.precedence = r.precedence;
        e.label = r.label;
        table.append(e);
    }
    return table;
}

QString TablePath() {
    const QByteArray fromEnv = qgetenv("NETSH_PREFIXPOLICY_FILE");
    if (!fromEnv.isEmpty()) return QString::fromLocal8Bit(fromEnv);
    return platform::ProgramDirectory() + QStringLiteral("netsh-prefixpolicy.table");
}

enum class ELoad { Ok, Invalid, Unreadable };

ELoad LoadTable(const QString& path, QList<CEntry>& table) {
    table.clear();
    if (!platform::FileExists(path)) {
        if (platform::DirectoryExists(path)) return ELoad::Unreadable;
        table = DefaultTable();
        return ELoad::Ok;
    }
    QByteArray bytes;
    if (!platform::ReadWholeFile(path, &bytes)) return ELoad::Unreadable;
    const QStringList lines = QString::fromUtf8(bytes).split(u'\n');
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        if (fields.size() != 3) return ELoad::Invalid;
        CEntry e;
        const auto precedence = ParseNumber(fields[0]);
        const auto label = ParseNumber(fields[1]);
        if (!precedence || !label || !ParsePrefix(fields[2], e)) return ELoad::Invalid;
        e.precedence = *precedence;
        e.label = *label;
        table.append(e);
    }
    return ELoad::Ok;
}

bool SaveTable(const QString& path, const QList<CEntry>& table) {
    QByteArray bytes = "# netsh interface ipv6 prefix policies: precedence label prefix\n";
    for (const CEntry& e : table) {
        bytes += QByteArray::number(e.precedence) + ' ' + QByteArray::number(e.label) + ' ' + e.prefix.toUtf8() + '\n';
    }
    return platform::WriteFileAtomic(path, bytes);
}

// Holds an flock on "<table>.lock" for the lifetime of the run: shared for a listing, exclusive
// for a change. Without a lock file a listing still runs; a change that cannot create the lock
// file (an unwritable folder) could not write the table there either.
class CTableLock {
public:
    CTableLock(const QString& tablePath, bool exclusive) {
        const QByteArray lockPath = (tablePath + QStringLiteral(".lock")).toLocal8Bit();
        // A listing never creates the lock file: before any change there is nothing to wait for,
        // and a change replaces the table atomically anyway.
        // Opened without blocking and only as a regular file: a FIFO in its place is refused.
        if (exclusive)
            m_fd = platform::OpenRegularFile(lockPath.constData(), O_RDWR | O_CREAT, 0666);
        if (!m_fd.IsValid()) m_fd = platform::OpenRegularFile(lockPath.constData(), O_RDONLY);
        if (!m_fd.IsValid()) return;
        while (::flock(m_fd.Get(), exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno != EINTR) {
                m_fd.Close();
                return;
            }
        }
    }
    bool Held() const { return m_fd.IsValid(); }

private:
    platform::CFd m_fd;  // closing it releases the lock
};

QList<CEntry> FromRows(const QList<gaiconf::CRow>& rows) {
    QList<CEntry> table;
    table.reserve(rows.size());
    for (const gaiconf::CRow& r : rows) {
        CEntry e;
        e.precedence = r.precedence;
        e.label = r.label;
        e.prefix = QString::fromLatin1(r.prefix);
        e.address = r.address;
        e.length = r.length;
        e.named = r.named;
        table.append(e);
    }
    return table;
}

QList<gaiconf::CRow> ToRows(const QList<CEntry>& table) {
    QList<gaiconf::CRow> rows;
    rows.reserve(table.size());
    for (const CEntry& e : table) {
        gaiconf::CRow r;
        r.prefix = e.prefix.toLatin1();
        r.address = e.address;
        r.length = e.length;
        r.precedence = e.precedence;
        r.label = e.label;
        r.named = e.named;
        rows.append(r);
    }
    return rows;
}

// The settings (platform/netshconf.h); a store word that is neither "file" nor "system" is
// noted, and the file store, which never touches the machine, is used.
platform::CNetshConf NetshConf() {
    const QString word = platform::NetshStoreWord(platform::ProgramDirectory());
    if (!word.isEmpty() && word.compare(u"file", Qt::CaseInsensitive) != 0 &&
        word.compare(u"system", Qt::CaseInsensitive) != 0)
        std::fprintf(stderr, "netsh: unknown store \"%s\", using the file store\n", word.toLocal8Bit().constData());
    return platform::ReadNetshConf(platform::ProgramDirectory());
}

// The table a script works on: loaded once under one lock, changed in memory command by command
// and stored once when the script ends (see the top of this file).
struct CScript {
    platform::CNetshConf conf;
    std::unique_ptr<systemstore::CBatch> batch;  // the system store
    QString path;                                // the file store's table, its lock and rows
    std::unique_ptr<CTableLock> lock;
    ELoad loaded = ELoad::Ok;
    QList<CEntry> table;
    bool changed = false;
    bool pending = false;  // the command being run made a change that waits for the end
};

// ---- parameters ----

// Fills named parameters from positional and "name=value" words, Windows netsh style.
// False on an unknown name, a parameter given twice, or too many words.
bool BindParameters(const QStringList& words, const QStringList& names, QList<std::optional<QString>>& values) {
    values = QList<std::optional<QString>>(names.size());
    qsizetype next = 0;
    for (const QString& w : words) {
        const qsizetype eq = w.indexOf(u'=');
        qsizetype slot = -1;
        QString value = w;
        if (eq > 0) {
            const QString tag = w.left(eq);
            for (qsizetype i = 0; i < names.size(); ++i) {
                if (tag.compare(names[i], Qt::CaseInsensitive) == 0) slot = i;
            }
            if (slot < 0) return false;
            value = w.mid(eq + 1);
        } else {
            while (next < names.size() && values[next]) ++next;
            if (next >= names.size()) return false;
            slot = next;
        }
        if (values[slot]) return false;
        values[slot] = value;
    }
    return true;
}

bool IsHelpWord(const QString& w) {
    return w == u"?" || w == u"/?" || w == u"-?" || w.compare(u"help", Qt::CaseInsensitive) == 0;
}

bool ValidStore(const std::optional<QString>& store) {
    return !store || store->compare(u"active", Qt::CaseInsensitive) == 0 ||
           store->compare(u"persistent", Qt::CaseInsensitive) == 0;
}

void PrintSyntaxError(COutput& out, const char16_t* usage) {
    out.Line(QString::fromUtf16(kBadSyntax));
    out.Line();
    out.Line(QString::fromUtf16(usage));
    out.Line();
}

// ---- commands ----

// The table a listing shows: the store's, or the script's as it has it so far.
ELoad LoadForShow(CScript* script, QList<CEntry>& table) {
    if (script && script->conf.systemStore) {
        table = FromRows(script->batch->Rows());
        return ELoad::Ok;
    }
    if (script) {
        table = script->table;
        return script->loaded;
    }
    if (NetshConf().systemStore) {
        // No lock: every change replaces the file at once.
        QList<gaiconf::CRow> rows;
        const ELoad loaded = systemstore::Load(rows) ? ELoad::Ok : ELoad::Unreadable;
        table = FromRows(rows);
        return loaded;
    }
    const QString path = TablePath();
    CTableLock lock(path, false);
    return LoadTable(path, table);
}

int ShowCommand(COutput& out, const QStringList& params, bool ascending, CScript* script) {
    const char16_t* usage = ascending ? kUsageShowPolicy : kUsageShowPolicies;
    if (!params.isEmpty() && IsHelpWord(params.first())) {
        out.Line(QString::fromUtf16(usage));
        out.Line();
        return 0;
    }
    QList<std::optional<QString>> values;
    if (!BindParameters(params, {QStringLiteral("store")}, values)) {
        PrintSyntaxError(out, usage);
        return 1;
    }
    if (!ValidStore(values[0])) {
        PrintMessage(out, kBadParameter);
        return 1;
    }
    QList<CEntry> table;
    switch (LoadForShow(script, table)) {
        case ELoad::Ok: break;
        case ELoad::Invalid: PrintMessage(out, kInvalidData); return 1;
        case ELoad::Unreadable: PrintMessage(out, kAccessDenied); return 1;
    }
    std::stable_sort(table.begin(), table.end(), [ascending](const CEntry& a, const CEntry& b) {
        return ascending ? a.precedence < b.precedence : a.precedence > b.precedence;
    });
    out.Line(QStringLiteral("アクティブ状態を照会しています..."));
    out.Line();
    out.Line(QStringLiteral("優先順位   ラベル  プレフィックス"));
    out.Line(QStringLiteral("----------  -----  --------------------------------"));
    for (const CEntry& e : table) {
        out.Line(QStringLiteral("%1  %2  %3")
                     .arg(e.precedence, 10)
                     .arg(e.label, 5)
                     .arg(e.prefix));
    }
    out.Line();
    return 0;
}

// Runs a change under the exclusive lock: load, apply, save. The table file is left as it
// was whenever the change is refused or cannot be written. The system store runs it as one
// transaction of the file and the kernel's labels (systemstore.h).
template <typename Change>
systemstore::CChange OnRows(Change& change) {
    return [&change](QList<gaiconf::CRow>& rows) {
        QList<CEntry> table = FromRows(rows);
        const char16_t* refusal = change(table, true);
        if (!refusal) rows = ToRows(table);
        return refusal;
    };
}

// A change inside a script: made on the script's table and left pending; nothing printed
// unless it is refused.
template <typename Change>
int ChangeInScript(COutput& out, CScript& script, Change change, bool addition) {
    if (script.conf.systemStore) {
        if (!script.batch->Apply(out, OnRows(change), addition)) return 1;
        script.pending = true;
        return 0;
    }
    if (!script.lock->Held()) {
        PrintMessage(out, kAccessDenied);
        return 1;
    }
    switch (script.loaded) {
        case ELoad::Ok: break;
        case ELoad::Invalid: PrintMessage(out, kInvalidData); return 1;
        case ELoad::Unreadable: PrintMessage(out, kAccessDenied); return 1;
    }
    if (const char16_t* refusal = change(script.table, false)) {
        PrintMessage(out, refusal);
        return 1;
    }
    script.changed = true;
    script.pending = true;
    return 0;
}

template <typename Change>
int ChangeTable(COutput& out, CScript* script, Change change, bool addition = false) {
    if (script) return ChangeInScript(out, *script, change, addition);
    const platform::CNetshConf conf = NetshConf();
    if (conf.systemStore) return systemstore::Change(out, OnRows(change), addition, conf.kernelLabels);
    const QString path = TablePath();
    CTableLock lock(path, true);
    if (!lock.Held()) {
        PrintMessage(out, kAccessDenied);
        return 1;
    }
    QList<CEntry> table;
    switch (LoadTable(path, table)) {
        case ELoad::Ok: break;
        case ELoad::Invalid: PrintMessage(out, kInvalidData); return 1;
        case ELoad::Unreadable: PrintMessage(out, kAccessDenied); return 1;
    }
    if (const char16_t* refusal = change(table, false)) {
        PrintMessage(out, refusal);
        return 1;
    }
    if (!SaveTable(path, table)) {
        PrintMessage(out, kAccessDenied);
        return 1;
    }
    PrintMessage(out, kOk);
    return 0;
}

int AddCommand(COutput& out, const QStringList& params, CScript* script) {
    if (!params.isEmpty() && IsHelpWord(params.first())) {
        out.Line(QString::fromUtf16(kUsageAdd));
        out.Line();
        return 0;
    }
    QList<std::optional<QString>> values;
    if (!BindParameters(params, {QStringLiteral("prefix"), QStringLiteral("precedence"), QStringLiteral("label"), QStringLiteral("store")}, values) ||
        !values[0] || !values[1] || !values[2]) {
        PrintSyntaxError(out, kUsageAdd);
        return 1;
    }
    CEntry entry;
    const auto precedence = ParseNumber(*values[1]);
    const auto label = ParseNumber(*values[2]);
    if (!ParsePrefix(*values[0], entry) || !precedence || !label || !ValidStore(values[3])) {
        PrintMessage(out, kBadParameter);
        return 1;
    }
    entry.precedence = *precedence;
    entry.label = *label;
    return ChangeTable(out, script, [&entry](QList<CEntry>& table, bool masked) -> const char16_t* {
        for (const CEntry& e : table) {
            if (e.SamePrefix(entry, masked)) return kExists;
        }
        table.append(entry);
        return nullptr;
    }, true);
}

int DeleteCommand(COutput& out, const QStringList& params, CScript* script) {
    if (!params.isEmpty() && IsHelpWord(params.first())) {
        out.Line(QString::fromUtf16(kUsageDelete));
        out.Line();
        return 0;
    }
    QList<std::optional<QString>> values;
    if (!BindParameters(params, {QStringLiteral("prefix"), QStringLiteral("store")}, values) || !values[0]) {
        PrintSyntaxError(out, kUsageDelete);
        return 1;
    }
    CEntry entry;
    if (!ParsePrefix(*values[0], entry) || !ValidStore(values[1])) {
        PrintMessage(out, kBadParameter);
        return 1;
    }
    return ChangeTable(out, script, [&entry](QList<CEntry>& table, bool masked) -> const char16_t* {
        for (qsizetype i = 0; i < table.size(); ++i) {
            if (table[i].SamePrefix(entry, masked)) {
                table.removeAt(i);
                return nullptr;
            }
        }
        return kNotFound;
    });
}

int UnknownCommand(COutput& out, const QStringList& args) {
    out.Line(QString::fromUtf16(kUnknownCommand) + args.join(u' '));
    out.Line();
    return 1;
}

bool Is(const QString& word, const char16_t* name) { return word.compare(QStringView(name), Qt::CaseInsensitive) == 0; }

int RunScript(COutput& out, const QString& file);

// One command; inside a script (`script`), "-f", "exec" and "--load-kernel-labels" are not
// commands.
int Run(COutput& out, const QStringList& args, CScript* script = nullptr) {
    if (!script && args.size() == 2 && (args[0] == u"-f" || Is(args[0], u"exec"))) return RunScript(out, args[1]);
    // At boot: the kernel's labels from the system store's file (a systemd unit runs it).
    if (!script && args.size() == 1 && args[0] == u"--load-kernel-labels") {
        const platform::CNetshConf conf = NetshConf();
        if (!conf.systemStore) {
            std::fprintf(stderr, "netsh: the file store sets no kernel labels; nothing to load\n");
            PrintMessage(out, kOk);
            return 0;
        }
        return systemstore::LoadKernelLabels(out, conf.kernelLabels);
    }
    if (args.isEmpty() || IsHelpWord(args.first())) {
        out.Lines(TopHelp());
        return 0;
    }
    if (!Is(args[0], u"interface")) return UnknownCommand(out, args);
    if (args.size() == 1 || IsHelpWord(args[1])) {
        out.Lines(InterfaceHelp());
        return 0;
    }
    if (!Is(args[1], u"ipv6")) return UnknownCommand(out, args);
    const QStringList rest = args.mid(2);
    if (rest.isEmpty() || IsHelpWord(rest[0])) {
        out.Lines(Ipv6Help());
        return 0;
    }
    const QString verb = rest[0].toLower();
    if (verb != u"show" && verb != u"add" && verb != u"delete") return UnknownCommand(out, args);
    if (rest.size() == 1 || IsHelpWord(rest[1])) {
        out.Lines(GroupHelp(verb));
        return 0;
    }
    const QStringList params = rest.mid(2);
    if (verb == u"show") {
        if (Is(rest[1], u"prefixpolicies")) return ShowCommand(out, params, false, script);
        if (Is(rest[1], u"prefixpolicy")) return ShowCommand(out, params, true, script);
    } else if (verb == u"add") {
        if (Is(rest[1], u"prefixpolicy")) return AddCommand(out, params, script);
    } else if (Is(rest[1], u"prefixpolicy")) {
        return DeleteCommand(out, params, script);
    }
    return UnknownCommand(out, args);
}

// The outcome of one line of a script.
struct CScriptLine {
    int line = 0;
    int rc = 0;
    bool pending = false;
    COutput text;
};

// Stores the script's table once; what every pending change prints (also its exit code).
int CommitScript(CScript& script, COutput& result) {
    if (script.conf.systemStore) {
        return script.batch->Commit(result, script.conf.kernelLabels);
    }
    if (script.changed && !SaveTable(script.path, script.table)) {
        PrintMessage(result, kAccessDenied);
        return 1;
    }
    PrintMessage(result, kOk);
    return 0;
}

int RunScript(COutput& out, const QString& file) {
    QByteArray bytes;
    if (!platform::FileExists(file) || !platform::ReadWholeFile(file, &bytes)) {
        PrintMessage(out, kNotFound);
        return 1;
    }
    CScript script;
    script.conf = NetshConf();
    if (script.conf.systemStore) {
        script.batch = std::make_unique<systemstore::CBatch>();
    } else {
        script.path = TablePath();
        script.lock = std::make_unique<CTableLock>(script.path, true);
        script.loaded = LoadTable(script.path, script.table);
    }
    std::vector<CScriptLine> results;
    const QStringList lines = platform::FromCp932(bytes).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        CScriptLine& result = results.emplace_back();
        result.line = int(i + 1);
        script.pending = false;
        result.rc = Run(result.text, platform::SplitCommandLine(line), &script);
        result.pending = script.pending;
    }
    COutput committed;
    const int commitRc = std::any_of(results.begin(), results.end(), [](const CScriptLine& r) { return r.pending; })
                             ? CommitScript(script, committed)
                             : 0;
    int rc = 0;
    for (CScriptLine& r : results) {
        if (r.pending) {
            r.text.Append(committed);
            r.rc = commitRc;
        }
        out.Append(r.text);
        out.Line(QStringLiteral("# end of line %1, exit code %2").arg(r.line).arg(r.rc));
        rc = r.rc != 0 ? 1 : rc;
    }
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args.append(QString::fromLocal8Bit(argv[i]));
    COutput out;
    const int rc = Run(out, args);
    out.Flush();
    return rc;
}
