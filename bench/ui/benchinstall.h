#pragma once
// An installation tree for the window benchmarks: the settings file, the language library and
// the netsh stand-in in a temporary folder, with an application object over it.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

#include "app/application.h"
#include "platform/codepage.h"

namespace benchsupport {

inline bool CopyFile(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to);
}

class CBenchInstall {
public:
    CBenchInstall() {
        const QString dir = Dir();
        const QString stage = QStringLiteral(CORVANE_STAGE_DIR);
        CopyFile(QStringLiteral(CORVANE_SOURCE_DIR "/conf/zarntool.ini"), dir + "conf/zarntool.ini");
        CopyFile(stage + "/conf/langs/Japanese/lang.json", dir + "conf/langs/Japanese/lang.json");
        QFile::link(stage + "/netsh", dir + "netsh");
        qputenv("NETSH_PREFIXPOLICY_FILE", QFile::encodeName(dir + "netsh.table"));

        CZarntoolApp::Options options;
        options.appDir = dir;
        app = std::make_unique<CZarntoolApp>(options);
        app->m_szAppDir = dir;
        app->m_clLog.m_sLogPath = dir + "zarntool.log";
        app->m_pszProfileName = dir + "conf/zarntool.ini";
        CResourceSet set;
        set.Load(dir + "conf/langs/Japanese/lang.json");
        app->SetLanguageResources(set);
    }
    QString Dir() const { return m_dir.path() + u'/'; }

    // A policy table file of `count` switched-on rows of all three origins.
    void WriteTable(int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            const QString line = QStringLiteral("1,%1,Network %2,%3,%4,2001:db8:%5:%6::/64\r\n")
                                     .arg(i % 3)
                                     .arg(i)
                                     .arg(i % 100)
                                     .arg((i * 7919) % 100000)
                                     .arg(i / 65536, 0, 16)
                                     .arg(i % 65536, 0, 16);
            bytes += platform::ToCp932(line);
        }
        QFile f(Dir() + "conf/policytable.conf");
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
    }

    std::unique_ptr<CZarntoolApp> app;

private:
    QTemporaryDir m_dir;
};

}  // namespace benchsupport
