#include "productinfo.h"
#include "testenvironment.h"
#include "testregistry.h"

#include <QtTest>

class TestProductInfo : public QObject {
    Q_OBJECT

private slots:
    void versionTexts() {
        ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining);
        QCOMPARE(ProductTypeInfo::appName(), QStringLiteral("Orvane"));
        QCOMPARE(ProductTypeInfo::versionText(), QStringLiteral("0.7.3"));
        QCOMPARE(ProductTypeInfo::titledVersion(),
                 QStringLiteral("Orvane для документов профессионального обучения v0.7.3"));
        QCOMPARE(ProductTypeInfo::titledVersionWithBuild(),
                 QStringLiteral("Orvane для документов профессионального обучения v0.7.3 build 1160"));
        QVERIFY(ProductTypeInfo::aboutText().contains(QStringLiteral("профессионального обучения")));
    }

    void undefinedProfileHasNoEditionSuffix() {
        ProductTypeInfo::setProductType(ProductTypeInfo::Undefined);
        QCOMPARE(ProductTypeInfo::displayName(), QStringLiteral("Orvane"));
        QCOMPARE(ProductTypeInfo::titledVersion(), QStringLiteral("Orvane v0.7.3"));
        ProductTypeInfo::setProductType(ProductTypeInfo::ProfessionalTraining);
    }
};

ORVANE_TEST(TestProductInfo)
#include "tst_productinfo.moc"
