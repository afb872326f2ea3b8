#include "reportlist.h"

QList<ReportList::ReportInfo> ReportList::_reports;
QMap<int, int> ReportList::_index;

void ReportList::build() {
    if (!_reports.isEmpty())
        return;
    const QList<QPair<ReportType, QPair<const char*, QString>>> records = {
        {CertificateAny, {"id130", QStringLiteral("Бланк свидетельства о профессии рабочего, должности служащего")}},
        {AppendixAny,
         {"id133", QStringLiteral("Бланк приложения к свидетельству о профессии рабочего, должности служащего")}},
        {CertificateProfession, {"id139", QStringLiteral("Бланк свидетельства о профессии рабочего")}},
        {CertificateProfessionExcellent,
         {"id142", QStringLiteral("Бланк свидетельства о профессии рабочего с отличием")}},
        {CertificatePosition, {"id145", QStringLiteral("Бланк свидетельства о должности служащего")}},
        {CertificatePositionExcellent,
         {"id148", QStringLiteral("Бланк свидетельства о должности служащего с отличием")}},
        {AppendixProfession, {"id150", QStringLiteral("Бланк приложения к свидетельству о профессии рабочего")}},
        {AppendixPosition, {"id151", QStringLiteral("Бланк приложения к свидетельству о должности служащего")}},
    };
    for (const auto& record : records) {
        const QString title = record.second.second;
        _index.insert(record.first, _reports.size());
        _reports.append(ReportInfo{record.first, title, QString::fromLatin1(record.second.first),
                                   title + QStringLiteral(" (установленный образец)")});
    }
}

const ReportList::ReportInfo* ReportList::info(int type) {
    const auto it = _index.constFind(type);
    return it == _index.constEnd() ? nullptr : &_reports.at(*it);
}

const QList<ReportList::ReportInfo>& ReportList::reports() {
    return _reports;
}
