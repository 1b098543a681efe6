#include "importsummary.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

QByteArray ImportRequestToJson(const ImportRequest& request)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("source"), request.source},
                                     {QStringLiteral("category"), request.category},
                                     {QStringLiteral("copy"), request.copy}})
        .toJson(QJsonDocument::Compact);
}

ImportRequest ImportRequestFromJson(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    return {object.value(QStringLiteral("source")).toString(),
            object.value(QStringLiteral("category")).toString(),
            object.value(QStringLiteral("copy")).toBool()};
}

QJsonObject ImportSummary::toJson(int mostProblems) const
{
    QJsonArray listed;
    for (const ImportProblem& problem : problems) {
        if (listed.size() >= mostProblems)
            break;
        listed.append(QJsonObject{{QStringLiteral("path"), problem.path},
                                  {QStringLiteral("reason"), problem.reason}});
    }
    QJsonObject json{
        {QStringLiteral("source"), source},   {QStringLiteral("added"), added},
        {QStringLiteral("same"), same},       {QStringLiteral("unreadable"), unreadable},
        {QStringLiteral("skipped"), skipped}, {QStringLiteral("problems"), listed}};
    QJsonObject skippedByReason;
    for (auto it = skippedBy.cbegin(); it != skippedBy.cend(); ++it)
        skippedByReason.insert(it.key(), it.value());
    json.insert(QStringLiteral("skippedBy"), skippedByReason);
    if (!error.isEmpty())
        json.insert(QStringLiteral("error"), error);
    if (stopped)
        json.insert(QStringLiteral("stopped"), true);
    return json;
}

ImportSummary ImportSummary::fromJson(const QJsonObject& json)
{
    ImportSummary summary;
    summary.source = json.value(QStringLiteral("source")).toString();
    summary.added = json.value(QStringLiteral("added")).toInt();
    summary.same = json.value(QStringLiteral("same")).toInt();
    summary.unreadable = json.value(QStringLiteral("unreadable")).toInt();
    summary.skipped = json.value(QStringLiteral("skipped")).toInt();
    summary.error = json.value(QStringLiteral("error")).toString();
    summary.stopped = json.value(QStringLiteral("stopped")).toBool();
    const QJsonObject skippedBy = json.value(QStringLiteral("skippedBy")).toObject();
    for (auto it = skippedBy.constBegin(); it != skippedBy.constEnd(); ++it)
        summary.skippedBy.insert(it.key(), it.value().toInt());
    for (const QJsonValue& value : json.value(QStringLiteral("problems")).toArray()) {
        const QJsonObject problem = value.toObject();
        summary.problems.append({problem.value(QStringLiteral("path")).toString(),
                                 problem.value(QStringLiteral("reason")).toString()});
    }
    return summary;
}

QString ImportSummary::text(int mostProblems) const
{
    QString text = QStringLiteral("%1 added, %2 the same, %3 unreadable, %4 skipped")
                       .arg(added)
                       .arg(same)
                       .arg(unreadable)
                       .arg(skipped);
    if (!skippedBy.isEmpty()) {
        QStringList kinds;
        for (auto it = skippedBy.cbegin(); it != skippedBy.cend(); ++it)
            kinds << QStringLiteral("%1 %2").arg(it.value()).arg(it.key());
        text += QStringLiteral(" (") + kinds.join(QStringLiteral(", ")) + u')';
    }
    if (stopped)
        text += QStringLiteral(" (stopped before the end)");
    qsizetype shown = 0;
    qsizetype left = 0;
    for (const ImportProblem& problem : problems) {
        if (problem.reason == QLatin1String(kNotAMovie))
            continue;
        if (mostProblems >= 0 && shown >= mostProblems) {
            ++left;
            continue;
        }
        text +=
            QStringLiteral("\n%1: %2").arg(QDir::toNativeSeparators(problem.path), problem.reason);
        ++shown;
    }
    if (left > 0)
        text += QStringLiteral("\n… and %1 more").arg(left);
    if (!error.isEmpty())
        text += u'\n' + error;
    return text;
}
