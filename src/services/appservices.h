#pragma once
// The services every layer uses: the log, the active resource set, the settings file and the
// installation's paths. The application frame owns one and installs it for the run; the core
// reaches it through Current() and never the frame, and windows get it by reference.
#include <QHash>
#include <QObject>
#include <QString>

#include "services/applog.h"
#include "services/installpaths.h"
#include "services/resourceset.h"

class CAppServices {
public:
    CAppServices();
    virtual ~CAppServices();
    CAppServices(const CAppServices&) = delete;
    CAppServices& operator=(const CAppServices&) = delete;

    // The services of the run (the last object constructed and not yet destroyed), or null.
    static CAppServices* Current();

    // Settings file access (the file named by m_pszProfileName), read at every call.
    QString GetProfileString(const QString& section, const QString& key,
                             const QString& defaultValue = {}) const;
    int GetProfileInt(const QString& section, const QString& key, int defaultValue) const;
    bool WriteProfileString(const QString& section, const QString& key, const QString& value);
    // A value read in place of the file's for this run only (a command-line option); the file
    // is not changed.
    void OverrideProfileString(const QString& section, const QString& key, const QString& value);

    // Active resource set: the language library once loaded, else the program's own set.
    const CResourceSet& Resources() const;
    QString LoadString(int id) const { return Resources().String(id); }
    bool IsLanguageLoaded() const { return m_bLanguageLoaded; }
    // Makes `set` the active resource set (tests, and start-up once the library is loaded).
    void SetLanguageResources(const CResourceSet& set);

    // The installation's files below m_szAppDir.
    CInstallPaths Paths() const { return CInstallPaths(m_szAppDir); }

    QString m_szAppDir;  // program directory, ending in "/"
    CAppLog m_clLog;
    QString m_csLicensePath;
    bool m_bNetworkUse = false;  // a network fetch runs
    QString m_pszProfileName;
    QString m_pszHelpFilePath;
    QString m_pszAppName;
    QString m_pszExeName;
    QObject* m_pMainWnd = nullptr;  // the main window while editor mode runs

private:
    CResourceSet m_languageSet;
    bool m_bLanguageLoaded = false;
    CAppServices* m_previous = nullptr;
    QHash<QString, QString> m_profileOverrides;  // "section\nkey" -> value
};
