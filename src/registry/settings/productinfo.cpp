#include "productinfo.h"

ProductTypeInfo::ProductType ProductTypeInfo::_type = ProductTypeInfo::Undefined;

void ProductTypeInfo::setProductType(ProductType type) {
    _type = type;
}

ProductTypeInfo::ProductType ProductTypeInfo::productType() {
    return _type;
}

QString ProductTypeInfo::appName() {
    return QStringLiteral("Orvane");
}

QString ProductTypeInfo::displayName() {
    switch (_type) {
    case ProfessionalTraining:
        return appName() + QStringLiteral(" для документов профессионального обучения");
    case Undefined:
        break;
    }
    return appName();
}

QString ProductTypeInfo::versionText() {
    return QStringLiteral("%1.%2.%3").arg(versionMajor).arg(versionMinor).arg(versionPatch);
}

QString ProductTypeInfo::titledVersion() {
    return QStringLiteral("%1 v%2.%3.%4").arg(displayName()).arg(versionMajor).arg(versionMinor).arg(versionPatch);
}

QString ProductTypeInfo::titledVersionWithBuild() {
    return QStringLiteral("%1 v%2.%3.%4 build %5")
        .arg(displayName())
        .arg(versionMajor)
        .arg(versionMinor)
        .arg(versionPatch)
        .arg(buildNumber);
}

QString ProductTypeInfo::aboutText() {
    switch (_type) {
    case ProfessionalTraining:
        return QStringLiteral(
            "Orvane для документов профессионального обучения — программный модуль для заполнения бланков "
            "документов о профессиональном обучении (свидетельств о профессии рабочего, должности служащего и "
            "приложений к ним), предназначенный для использования в образовательных организациях. Программа "
            "автоматизирует ведение книги регистрации выданных документов, печать бланков установленного "
            "образца с предварительным просмотром, выгрузку сведений для ФИС ФРДО и резервное копирование "
            "базы данных.");
    case Undefined:
        break;
    }
    return QString();
}
