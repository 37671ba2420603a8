#pragma once
// Command-line words: "/e" (or "-e", any case) selects editor mode; "/g <word>" is recorded.
#include <QString>
#include <QStringList>

class CZarntoolApp;

class CZarnCommandLineInfo {
public:
    explicit CZarnCommandLineInfo(CZarntoolApp* app = nullptr) : m_pApp(app) {}

    // Called once per word, in order. For a word starting with "/" or "-", `param` is the word
    // without that character and `isFlag` is true.
    void ParseParam(const QString& param, bool isFlag, bool isLast);

    // Feeds every word of the command line (without the program name) to ParseParam.
    void ParseCommandLine(const QStringList& words);

    QString m_csOptionG;
    bool m_bOptionE = false;
    bool m_bOptionG = false;
    int m_nOptionCount = 0;
    int m_nOptionGIndex = 0;

private:
    CZarntoolApp* m_pApp;
};
