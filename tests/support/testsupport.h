#pragma once
// Shared test helpers: temporary installation trees, scripted message boxes and log reading.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "services/applog.h"
#include "app/application.h"

namespace testsupport {

QString SourceDir();   // the repository
QString StageDir();    // build/<preset>/stage, with the program and the stand-ins

// Writes bytes to a file, creating folders; returns false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

// A temporary installation tree laid out like the stage: conf/zarntool.ini,
// conf/langs/Japanese/lang.json (the program's own set), conf/policytable.conf.default.
// Dir() ends in "/".
class CTempInstall {
public:
    CTempInstall();
    QString Dir() const { return m_dir.path() + u'/'; }
    QString Conf(const QString& relative) const { return Dir() + QStringLiteral("conf/") + relative; }
    bool IsValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// Answers message boxes from a queue and records every box it was asked to show.
class CScriptedPresenter : public IMessagePresenter {
public:
    int Present(const CMessageBoxRequest& request) override;
    void QueueAnswer(int answer) { m_answers.append(answer); }
    QList<CMessageBoxRequest> shown;
    int defaultAnswer = IDOK;        // for boxes without a queued answer
    int defaultQuestionAnswer = IDYES;

private:
    QList<int> m_answers;
};

// An application object prepared the way start-up leaves it, on a temporary installation:
// program directory, log path, settings file and the language set loaded; boxes scripted.
class CTestApp {
public:
    CTestApp();
    CZarntoolApp& App() { return *m_app; }
    CAppLog& Log() { return m_app->m_clLog; }
    CScriptedPresenter& Boxes() { return m_presenter; }
    CTempInstall& Install() { return m_install; }
    QString Dir() const { return m_install.Dir(); }
    // Lines of zarntool.log decoded from CP932, line ends removed.
    QStringList LogLines() const;
    // Writes a value into the settings file.
    void SetSetting(const QString& section, const QString& key, const QString& value);

private:
    CTempInstall m_install;
    CScriptedPresenter m_presenter;
    std::unique_ptr<CZarntoolApp> m_app;
};

}  // namespace testsupport
