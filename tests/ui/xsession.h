#pragma once
// Runs the staged program on a private X server (Xvfb) and drives it with xdotool, the way a
// user would: find a window by its title, click at a point of it, type text, press keys.
// Every process is started without a shell, with its arguments as a list.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPoint>
#include <QSize>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

namespace xsession {

inline bool ToolsAvailable() {
    return !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() &&
           !QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty();
}

// Copies the files of `from` into `to`, folders included.
inline bool CopyTree(const QString& from, const QString& to) {
    QDir source(from);
    if (!source.exists() || !QDir().mkpath(to)) return false;
    for (const QFileInfo& entry :
         source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden)) {
        const QString target = to + u'/' + entry.fileName();
        if (entry.isDir()) {
            if (!CopyTree(entry.filePath(), target)) return false;
        } else {
            QFile::remove(target);
            if (!QFile::copy(entry.filePath(), target)) return false;
        }
    }
    return true;
}

// A private X server for the life of the object.
class CXvfb {
public:
    // -noreset: the server must not restart when its last client goes, or a client connecting
    // at that moment is refused.
    CXvfb() {
        // A display number nobody uses: no socket and no lock file.
        for (int n = 90 + static_cast<int>(QCoreApplication::applicationPid() % 100); n < 400; ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
                continue;
            m_display = QStringLiteral(":%1").arg(n);
            m_server.setProgram(QStandardPaths::findExecutable(QStringLiteral("Xvfb")));
            m_server.setArguments({m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                                   QStringLiteral("1024x768x24"), QStringLiteral("-noreset"),
                                   QStringLiteral("-nolisten"),
                                   QStringLiteral("tcp")});
            m_server.setProcessChannelMode(QProcess::MergedChannels);
            m_server.start();
            if (!m_server.waitForStarted(5000)) continue;
            QElapsedTimer clock;
            clock.start();
            const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(n);
            while (!QFile::exists(socket) && clock.elapsed() < 10000 &&
                   m_server.state() == QProcess::Running)
                QThread::msleep(20);
            // Ready once the display's lock names this server (not another one that took the
            // number meanwhile) and a client can connect and ask for the screen size.
            while (m_server.state() == QProcess::Running && clock.elapsed() < 10000) {
                if (LockHolder(n) == m_server.processId() && CanConnect()) return;
                QThread::msleep(50);
            }
            m_server.kill();
            m_server.waitForFinished(2000);
        }
        m_display.clear();
    }
    ~CXvfb() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(3000)) {
                m_server.kill();
                m_server.waitForFinished(3000);
            }
        }
    }
    CXvfb(const CXvfb&) = delete;
    CXvfb& operator=(const CXvfb&) = delete;

    bool IsRunning() const { return !m_display.isEmpty(); }
    QString Display() const { return m_display; }

private:
    static qint64 LockHolder(int display) {
        QFile lock(QStringLiteral("/tmp/.X%1-lock").arg(display));
        if (!lock.open(QIODevice::ReadOnly)) return -1;
        return lock.read(64).trimmed().toLongLong();
    }

    bool CanConnect() const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        p.setProcessEnvironment(env);
        p.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")),
                {QStringLiteral("getdisplaygeometry")});
        return p.waitForFinished(3000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0 && !p.readAllStandardOutput().trimmed().isEmpty();
    }

    QProcess m_server;
    QString m_display;
};

// xdotool on one display.
class CXdo {
public:
    explicit CXdo(const QString& display) : m_display(display) {}

    // Runs xdotool with `args`; returns its standard output, trimmed; empty on failure.
    QString Run(const QStringList& args, int timeoutMs = 10000) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), m_display);
        p.setProcessEnvironment(env);
        p.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")), args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished(2000);
            return {};
        }
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    // The visible windows titled `title`, polled until there are at least `count` or the time
    // is up.
    QStringList WaitForWindows(const QString& title, int count, int timeoutMs = 30000) const {
        QElapsedTimer clock;
        clock.start();
        QStringList ids;
        do {
            ids = Run({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                       QStringLiteral("--name"), QStringLiteral("^") + title + u'$'})
                      .split(u'\n', Qt::SkipEmptyParts);
            if (ids.size() >= count) return ids;
            QThread::msleep(20);
        } while (clock.elapsed() < timeoutMs);
        return ids;
    }

    // The size of a window, or an empty size.
    QSize WindowSize(const QString& id) const {
        const QStringList lines =
            Run({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id}).split(u'\n');
        int w = -1, h = -1;
        for (const QString& line : lines) {
            if (line.startsWith(QStringLiteral("WIDTH="))) w = line.mid(6).toInt();
            if (line.startsWith(QStringLiteral("HEIGHT="))) h = line.mid(7).toInt();
        }
        return w > 0 && h > 0 ? QSize(w, h) : QSize();
    }

    void Focus(const QString& id) const {
        Run({QStringLiteral("windowactivate"), QStringLiteral("--sync"), id}, 3000);
        Run({QStringLiteral("windowfocus"), QStringLiteral("--sync"), id});
    }
    void ClickAt(const QString& id, const QPoint& p) const {
        Run({QStringLiteral("mousemove"), QStringLiteral("--window"), id, QString::number(p.x()),
             QString::number(p.y()), QStringLiteral("click"), QStringLiteral("1")});
    }
    void Key(const QStringList& keys) const {
        QStringList args = {QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("60")};
        args += keys;
        Run(args);
    }
    void Type(const QString& text) const {
        Run({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("40"), text});
    }

private:
    QString m_display;
};

// A copy of the staged program, its stand-ins and its conf tree in a temporary folder, so a
// run can write its files without touching the stage.
class CStagedCopy {
public:
    explicit CStagedCopy(const QString& stage) {
        m_ok = m_dir.isValid();
        for (const char* name : {"zarntool", "netsh", "ipconfig"}) {
            const QString from = stage + u'/' + QLatin1String(name);
            if (!QFile::exists(from)) continue;
            const QString to = Dir() + QLatin1String(name);
            m_ok = m_ok && QFile::copy(from, to) &&
                   QFile::setPermissions(to, QFile::permissions(from));
        }
        m_ok = m_ok && CopyTree(stage + QStringLiteral("/conf"), Dir() + QStringLiteral("conf"));
    }
    bool IsValid() const { return m_ok; }
    QString Dir() const { return m_dir.path() + u'/'; }

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
};

}  // namespace xsession
