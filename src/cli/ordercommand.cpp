#include "cli/ordercommand.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "app/application.h"
#include "ostable/orderpreview.h"
#include "policy/policylistmanager.h"
#include "policy/wellknowntables.h"
#include "resids.h"

namespace cli {
namespace {

QString Compact(const QJsonObject& object) {
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

// The table a preview works from: the switched-on rows of the file as a registration would
// install them, or the system's table as it lists it now.
bool LoadTable(CZarntoolApp& app, const QString& tableFile,
               QList<addressorder::CTableRow>& table) {
    CPolicyListManager manager;
    manager.m_pApp = &app;
    CPolicyList rows;
    if (tableFile.isEmpty()) {
        if (!manager.GetCurrent(rows)) return false;
        table = orderpreview::TableRows(rows);
        return true;
    }
    QList<qsizetype> rejected;
    if (manager.GetPolicyFile(rows, QFileInfo(tableFile).absoluteFilePath(), &rejected) != 1) {
        app.m_clLog.ShowMessageId(strid::kFileNotFound, LOG_ERROR);
        return false;
    }
    if (!rejected.isEmpty()) {
        app.m_clLog.ShowMessageFormat({QString::number(rejected.first())},
                                      strid::kOrderFileLineInvalid, LOG_ERROR);
        return false;
    }
    CPolicyList enabled;
    for (const CPolicy& row : std::as_const(rows))
        if (!row.m_bDisabled) enabled.append(row);
    CPolicyList plan;
    if (!manager.PlanPolicy(enabled, plan)) return false;
    table = orderpreview::TableRows(plan);
    return true;
}

QString TextLine(CZarntoolApp& app, const orderpreview::CRow& r) {
    QString line = r.destination + QStringLiteral("  ");
    line += r.reachable ? CAppLog::FormatMessage(app.LoadString(strid::kOrderSource), {r.source})
                        : app.LoadString(strid::kOrderUnreachable);
    line += QStringLiteral("  ");
    line += CAppLog::FormatMessage(app.LoadString(strid::kOrderValues),
                                   {QString::number(r.precedence), QString::number(r.label),
                                    r.reachable ? QString::number(r.sourceLabel) : QStringLiteral("-")});
    if (r.rule != 0)
        line += QStringLiteral("  ") +
                CAppLog::FormatMessage(app.LoadString(strid::kOrderRule), {QString::number(r.rule)});
    return line;
}

QJsonObject JsonRow(const orderpreview::CRow& r) {
    return {{QStringLiteral("destination"), r.destination},
            {QStringLiteral("source"), r.reachable ? QJsonValue(r.source) : QJsonValue()},
            {QStringLiteral("precedence"), qint64(r.precedence)},
            {QStringLiteral("label"), qint64(r.label)},
            {QStringLiteral("source_label"), r.reachable ? QJsonValue(qint64(r.sourceLabel)) : QJsonValue()},
            {QStringLiteral("rule"), r.rule != 0 ? QJsonValue(r.rule) : QJsonValue()}};
}

}  // namespace

int Order(CZarntoolApp& app, const QStringList& hosts, const QString& tableFile, bool json,
          const WriteLine& write) {
    QList<addressorder::CTableRow> table;
    if (!LoadTable(app, tableFile, table)) return 1;
    QList<orderpreview::CRow> rows;
    orderpreview::CFailure failure;
    if (!orderpreview::Preview(table, hosts, rows, &failure, {}, tableFile.isEmpty())) {
        if (failure.host.isEmpty())
            app.m_clLog.ShowMessageFormat({failure.reason}, strid::kOrderNetworkUnreadable, LOG_ERROR);
        else
            app.m_clLog.ShowMessageFormat({failure.host, failure.reason}, strid::kOrderNotResolved, LOG_ERROR);
        return 1;
    }
    QJsonArray array;
    for (const orderpreview::CRow& r : std::as_const(rows)) {
        if (json)
            array.append(JsonRow(r));
        else
            write(stdout, TextLine(app, r));
    }
    if (json) write(stdout, Compact({{QStringLiteral("rows"), array}}));
    return 0;
}

int Table(CZarntoolApp& app, const QString& name, bool json, const WriteLine& write) {
    CPolicyList rows;
    if (!wellknown::Table(name, rows)) {
        app.m_clLog.ShowMessageFormat({name, wellknown::Names().join(QStringLiteral(", "))},
                                      strid::kTableUnknown, LOG_ERROR);
        return 1;
    }
    if (!json) {
        const QByteArray bytes = CPolicyListManager::PolicyFileBytes(rows);
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
        std::fflush(stdout);
        return 0;
    }
    QJsonArray array;
    for (const CPolicy& row : std::as_const(rows))
        array.append(QJsonObject{{QStringLiteral("enabled"), !row.m_bDisabled},
                                 {QStringLiteral("networkName"), row.m_csNetworkName},
                                 {QStringLiteral("precedence"), row.m_csPriority.toInt()},
                                 {QStringLiteral("label"), row.m_csLabel.toInt()},
                                 {QStringLiteral("prefix"), row.m_csAddress}});
    write(stdout, Compact({{QStringLiteral("rows"), array}}));
    return 0;
}

}  // namespace cli
