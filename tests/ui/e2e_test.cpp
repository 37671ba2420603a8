// The real program end to end: the staged zarntool on a virtual X display (Xvfb), driven with
// synthetic input (xdotool), installing the policy table file through the netsh stand-in.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <optional>

#include "platform/codepage.h"
#include "support/testsupport.h"

namespace {

QString Tool(const char* name) { return QStandardPaths::findExecutable(QLatin1String(name)); }

// Runs a helper program to its end; returns its standard output, or nothing when it failed or
// took longer than `timeoutMs`.
std::optional<QString> RunTool(const QString& program, const QStringList& args, const QString& display,
            int timeoutMs = 30000) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(program, args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return std::nullopt;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return std::nullopt;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// A virtual X display for the life of the object.
class CVirtualDisplay {
public:
    CVirtualDisplay() {
        m_server.setProgram(Tool("Xvfb"));
        m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                               QStringLiteral("-screen"), QStringLiteral("0"),
                               QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                               QStringLiteral("tcp")});
        m_server.start();
        if (!m_server.waitForStarted(10000)) return;
        // The server writes its display number once it accepts connections.
        QByteArray number;
        for (int i = 0; i < 200 && !number.contains('\n'); ++i) {
            m_server.waitForReadyRead(100);
            number += m_server.readAllStandardOutput();
        }
        if (number.trimmed().isEmpty()) return;
        m_display = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
    }
    ~CVirtualDisplay() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(5000)) {
                m_server.kill();
                m_server.waitForFinished();
            }
        }
    }
    QString Name() const { return m_display; }

private:
    QProcess m_server;
    QString m_display;
};

// The mapped top-level windows titled "Corvane", newest last.
QStringList CorvaneWindows(const QString& display) {
    const QString out = RunTool(Tool("xdotool"),
                            {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                             QStringLiteral("--name"), QStringLiteral("^Corvane$")},
                            display, 10000)
                            .value_or(QString());
    return out.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// Waits until a mapped "Corvane" window other than those in `known` appears.
QString WaitForNewWindow(const QString& display, const QStringList& known, int timeoutMs = 60000) {
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        for (const QString& w : CorvaneWindows(display))
            if (!known.contains(w)) return w;
        QThread::msleep(100);
    }
    return QString();
}

bool Keys(const QString& display, const QString& window, const QStringList& keys) {
    if (!RunTool(Tool("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}, display))
        return false;
    QThread::msleep(200);
    for (const QString& k : keys) {
        if (!RunTool(Tool("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), k}, display))
            return false;
        QThread::msleep(150);
    }
    return true;
}

QStringList LogTexts(const QString& path) {
    QStringList texts;
    for (const QString& line : platform::FromCp932(testsupport::ReadFile(path)).split(QStringLiteral("\r\n"))) {
        const qsizetype a = line.indexOf(u',');
        const qsizetype b = a < 0 ? -1 : line.indexOf(u',', a + 1);
        if (b > 0) texts << line.mid(b + 1);
    }
    return texts;
}

}  // namespace

TEST(EndToEnd, AgreementThenApplyModeInstallsThePolicyTable) {
    ASSERT_FALSE(Tool("Xvfb").isEmpty()) << "xvfb is a dependency (scripts/install-deps.sh)";
    ASSERT_FALSE(Tool("xdotool").isEmpty()) << "xdotool is a dependency (scripts/install-deps.sh)";
    const QString stage = testsupport::StageDir() + u'/';
    const QString shot = QStringLiteral(CORVANE_BINARY_DIR "/tests/ui/ui_xshot");

    // A copy of the staged installation, with its own stand-in table and lock folder.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + u'/';
    for (const char* f : {"zarntool", "netsh"}) {
        ASSERT_TRUE(QFile::copy(stage + QLatin1String(f), root + QLatin1String(f))) << f;
        QFile(root + QLatin1String(f)).setPermissions(QFile::permissions(stage + QLatin1String(f)));
    }
    for (const char* f : {"conf/zarntool.ini", "conf/policytable.conf.default",
                          "conf/langs/Japanese/lang.json", "conf/langs/Japanese/license.rtf"}) {
        ASSERT_TRUE(testsupport::WriteFile(root + QLatin1String(f), testsupport::ReadFile(stage + QLatin1String(f))))
            << f;
    }
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("conf/policytable.conf"),
                                       "1,0,Loopback,0,50,::1/128\r\n"
                                       "1,0,IPv6,1,40,::/0\r\n"
                                       "0,2,Off,7,45,2001:db8:1::/48\r\n"
                                       "1,1,Site,9,35,2001:db8::/32\r\n"));
    const QString table = root + QStringLiteral("netsh.table");
    ASSERT_TRUE(testsupport::WriteFile(table, "30 2 2002::/16\n"));
    QDir().mkpath(root + QStringLiteral("run"));
    QFile(root + QStringLiteral("run")).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                      QFileDevice::ExeOwner);

    CVirtualDisplay display;
    ASSERT_FALSE(display.Name().isEmpty()) << "Xvfb did not start";

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.Name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"), table);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("run"));
    // Leak reports of the X libraries would change the exit status; our code's leaks are
    // checked by the in-process tests.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(root + QStringLiteral("zarntool"), {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // The agreement dialog.
    const QString agreement = WaitForNewWindow(display.Name(), {});
    ASSERT_FALSE(agreement.isEmpty()) << "the agreement dialog did not appear";
    QThread::msleep(300);
    const QString picture = QStringLiteral(CORVANE_BINARY_DIR "/tests/ui/e2e-agreement.png");
    EXPECT_TRUE(RunTool(shot, {agreement, picture}, display.Name()).has_value());
    const QImage image(picture);
    EXPECT_FALSE(image.isNull());
    EXPECT_GT(image.width(), 300);

    // Focus starts on the document: Tab to the check box, tick it, Tab to "利用する", press it.
    ASSERT_TRUE(Keys(display.Name(), agreement,
                     {QStringLiteral("Tab"), QStringLiteral("space"), QStringLiteral("Tab"),
                      QStringLiteral("space")}));

    // Box 404, perhaps after the progress window of the registration, which Return leaves
    // alone: Return on each new window until the program ends.
    QStringList known{agreement};
    for (int waited = 0; waited < 60 && !program.waitForFinished(1); ++waited) {
        const QString window = WaitForNewWindow(display.Name(), known, 1000);
        if (window.isEmpty()) continue;
        known << window;
        QThread::msleep(300);
        Keys(display.Name(), window, {QStringLiteral("Return")});
    }
    EXPECT_GE(known.size(), 2) << "box 404 did not appear";
    ASSERT_TRUE(program.state() == QProcess::NotRunning || program.waitForFinished(60000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);

    // The stand-in's table holds the switched-on rows only; the old entry is gone.
    QStringList entries;
    for (const QString& l : QString::fromUtf8(testsupport::ReadFile(table)).split(u'\n'))
        if (!l.trimmed().isEmpty() && !l.startsWith(u'#')) entries << l.trimmed();
    EXPECT_EQ(entries, (QStringList{QStringLiteral("50 0 ::1/128"), QStringLiteral("40 1 ::/0"),
                                    QStringLiteral("35 9 2001:db8::/32")}));

    const QStringList log = LogTexts(root + QStringLiteral("zarntool.log"));
    EXPECT_TRUE(log.contains(QStringLiteral("Corvaneを起動しました。")));
    EXPECT_TRUE(log.contains(QStringLiteral("m_chkAgreement=TRUE")));
    EXPECT_TRUE(log.contains(QStringLiteral("nResponseLicense=IDOK")));
    EXPECT_TRUE(log.contains(QStringLiteral("OSへの設定が完了しました。")));
    ASSERT_FALSE(log.isEmpty());
    EXPECT_EQ(log.last(), QStringLiteral("Corvaneを終了しました。"));
}

namespace {

// A copy of the staged installation in `root` (ending in "/"), with its own stand-in table,
// lock folder and an installed policy table file.
void CopyStage(const QString& root) {
    const QString stage = testsupport::StageDir() + u'/';
    for (const char* f : {"zarntool", "netsh"}) {
        ASSERT_TRUE(QFile::copy(stage + QLatin1String(f), root + QLatin1String(f))) << f;
        QFile(root + QLatin1String(f)).setPermissions(QFile::permissions(stage + QLatin1String(f)));
    }
    for (const char* f : {"conf/zarntool.ini", "conf/policytable.conf.default",
                          "conf/langs/Japanese/lang.json", "conf/langs/Japanese/license.rtf"}) {
        ASSERT_TRUE(testsupport::WriteFile(root + QLatin1String(f),
                                           testsupport::ReadFile(stage + QLatin1String(f))))
            << f;
    }
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("conf/policytable.conf"),
                                       "1,0,Loopback,0,50,::1/128\r\n"));
    ASSERT_TRUE(testsupport::WriteFile(root + QStringLiteral("netsh.table"), "30 2 2002::/16\n"));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("run")));
    QFile(root + QStringLiteral("run"))
        .setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

struct Headless {
    int exitCode = -1;
    QString errors;  // standard error
};

// An X display number no server has: no socket and no lock file.
QString UnusedDisplay() {
    for (int n = 6000; n < 7000; ++n)
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) &&
            !QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
            return QStringLiteral(":%1").arg(n);
    return {};
}

// Runs the copied program without any display to its end; with `display`, DISPLAY names that
// one.
Headless RunWithoutDisplay(const QString& root, const QStringList& args,
                           const QString& display = {}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    if (!display.isEmpty()) env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("NETSH_PREFIXPOLICY_FILE"), root + QStringLiteral("netsh.table"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root + QStringLiteral("run"));
    // Leak reports of Qt's one-time allocations would change the exit status; our code's leaks
    // are checked by the in-process tests.
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(env);
    program.start(root + QStringLiteral("zarntool"), args);
    Headless result;
    if (!program.waitForStarted(10000) || !program.waitForFinished(120000)) return result;
    result.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -2;
    result.errors = QString::fromUtf8(program.readAllStandardError());
    return result;
}

bool IsFifo(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

const QString k607 =
    QStringLiteral("画面を表示できないため、利用規約を確認できません。OSの設定は変更していません。");

}  // namespace

TEST(EndToEnd, WithoutADisplayStartUpRunsItsChecksAndEndsWithTheReasonOnStandardError) {
    // A display that is named but has no server behind it counts as none.
    const QString unreachable = UnusedDisplay();
    ASSERT_FALSE(unreachable.isEmpty());
    const struct {
        QStringList args;
        const char* removed;  // a file taken away before the start, or nullptr
        QString message;
        QString display;      // DISPLAY, or empty for none
    } kCases[] = {
        {{}, nullptr, k607, {}},  // apply mode: the agreement cannot be shown, nothing is applied
        {{QStringLiteral("/e")}, nullptr, k607, {}},
        {{}, "conf/zarntool.ini", QStringLiteral("設定ファイルが存在しません。起動できません。"), {}},
        {{}, nullptr, k607, unreachable},
        {{QStringLiteral("/e")}, nullptr, k607, unreachable},
    };
    for (const auto& c : kCases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString root = dir.path() + u'/';
        CopyStage(root);
        if (c.removed) {
            ASSERT_TRUE(QFile::remove(root + QLatin1String(c.removed)));
        }
        const QByteArray conf = testsupport::ReadFile(root + QStringLiteral("conf/policytable.conf"));
        const QByteArray table = testsupport::ReadFile(root + QStringLiteral("netsh.table"));

        const Headless run = RunWithoutDisplay(root, c.args, c.display);
        EXPECT_EQ(run.exitCode, 1) << c.args.join(u' ').toStdString() << c.display.toStdString()
                                   << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(QStringLiteral("Corvane: ") + c.message))
            << run.errors.toStdString();
        const QStringList log = LogTexts(root + QStringLiteral("zarntool.log"));
        // Logged as usual, from string 300 to string 301.
        EXPECT_EQ(log.value(c.removed ? 0 : 1), QStringLiteral("Corvaneを起動しました。"));
        EXPECT_TRUE(log.contains(c.message));
        EXPECT_EQ(log.value(log.size() - 1), QStringLiteral("Corvaneを終了しました。"));
        // Nothing was changed.
        EXPECT_EQ(testsupport::ReadFile(root + QStringLiteral("conf/policytable.conf")), conf);
        EXPECT_EQ(testsupport::ReadFile(root + QStringLiteral("netsh.table")), table);
    }
}

TEST(EndToEnd, FifosInPlaceOfTheProgramsFilesNeitherBlockNorChange) {
    // Each file replaced by a FIFO that nobody writes: the program must not wait in open(); it
    // takes the file's documented failure and the FIFO stays as it was.
    const struct {
        const char* fifo;
        QString message;  // the box that ends the run
    } kCases[] = {
        {"zarntool.log", k607},  // lines are dropped, the program goes on
        {"conf/langs/Japanese/lang.json",
         QStringLiteral("設定された言語の言語ファイルが認識できません。起動できません。")},
        {"conf/zarntool.ini",  // unreadable: no language is configured
         QStringLiteral("設定された言語の言語ファイルが存在しません。起動できません。")},
    };
    for (const auto& c : kCases) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString root = dir.path() + u'/';
        CopyStage(root);
        const QString fifo = root + QLatin1String(c.fifo);
        QFile::remove(fifo);  // the log does not exist yet
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        const Headless run = RunWithoutDisplay(root, {});
        EXPECT_EQ(run.exitCode, 1) << c.fifo << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(c.message)) << c.fifo << run.errors.toStdString();
        EXPECT_TRUE(IsFifo(fifo)) << c.fifo;
    }
}
