#pragma once
// The installation's files, all below the program directory (which ends in "/").
#include <QString>

class CInstallPaths {
public:
    CInstallPaths() = default;
    explicit CInstallPaths(QString appDir) : m_appDir(std::move(appDir)) {}

    const QString& AppDir() const { return m_appDir; }
    QString Log() const { return m_appDir + QStringLiteral("zarntool.log"); }
    // The program file `exeName`, and the diagnostic file the editor exports.
    QString Program(const QString& exeName) const { return m_appDir + exeName; }
    QString Export() const { return m_appDir + QStringLiteral("export"); }
    QString Settings() const { return m_appDir + QStringLiteral("conf/zarntool.ini"); }
    QString PolicyTable() const { return m_appDir + QStringLiteral("conf/policytable.conf"); }
    QString FactoryTable() const {
        return m_appDir + QStringLiteral("conf/policytable.conf.default");
    }
    // The folder of the program's own state, made when first needed, and the journal a
    // registration keeps there while it changes the system's table.
    QString StateDir() const { return m_appDir + QStringLiteral("state"); }
    QString Journal() const { return m_appDir + QStringLiteral("state/registration.journal"); }
    QString LanguagesDir() const { return m_appDir + QStringLiteral("conf/langs"); }
    // The folder of one language ("conf/langs/<lang>") and its files.
    QString LanguageDir(const QString& lang) const { return LanguagesDir() + u'/' + lang; }
    QString LanguageLibrary(const QString& lang) const {
        return LanguageDir(lang) + QStringLiteral("/lang.json");
    }
    QString License(const QString& lang) const {
        return LanguageDir(lang) + QStringLiteral("/license.rtf");
    }
    QString Help(const QString& lang) const {
        return LanguageDir(lang) + QStringLiteral("/help.chm");
    }

private:
    QString m_appDir;
};
