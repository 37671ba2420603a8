#include "services/appservices.h"

#include "platform/profile.h"

namespace {
CAppServices* g_current = nullptr;

QString OverrideKey(const QString& section, const QString& key) { return section + u'\n' + key; }
}  // namespace

CAppServices::CAppServices() : m_previous(g_current) {
    g_current = this;
    m_clLog.SetResources(&CResourceSet::ProgramSet());
}

CAppServices::~CAppServices() {
    if (g_current == this) g_current = m_previous;
}

CAppServices* CAppServices::Current() { return g_current; }

const CResourceSet& CAppServices::Resources() const {
    return m_bLanguageLoaded ? m_languageSet : CResourceSet::ProgramSet();
}

void CAppServices::SetLanguageResources(const CResourceSet& set) {
    m_languageSet = set;
    m_bLanguageLoaded = true;
    m_clLog.SetResources(&m_languageSet);
}

void CAppServices::OverrideProfileString(const QString& section, const QString& key,
                                         const QString& value) {
    m_profileOverrides.insert(OverrideKey(section, key), value);
}

QString CAppServices::GetProfileString(const QString& section, const QString& key,
                                       const QString& defaultValue) const {
    const auto it = m_profileOverrides.constFind(OverrideKey(section, key));
    if (it != m_profileOverrides.constEnd()) return *it;
    return platform::GetProfileString(m_pszProfileName, section, key, defaultValue);
}

int CAppServices::GetProfileInt(const QString& section, const QString& key,
                                int defaultValue) const {
    const auto it = m_profileOverrides.constFind(OverrideKey(section, key));
    bool ok = false;
    const int overridden = it != m_profileOverrides.constEnd() ? it->toInt(&ok) : 0;
    if (ok) return overridden;
    return platform::GetProfileInt(m_pszProfileName, section, key, defaultValue);
}

bool CAppServices::WriteProfileString(const QString& section, const QString& key,
                                      const QString& value) {
    return platform::WriteProfileString(m_pszProfileName, section, key, value);
}
