#pragma once

#include <QString>

// The program's names and version texts. The product profile selects the edition; this program
// runs as the professional-training edition only.
class ProductTypeInfo {
public:
    enum ProductType {
        ProfessionalTraining = 7,
        Undefined = 255,
    };

    static constexpr int versionMajor = 0;
    static constexpr int versionMinor = 7;
    static constexpr int versionPatch = 3;
    static constexpr int buildNumber = 1160;

    static void setProductType(ProductType type);
    static ProductType productType();

    // "Orvane": toolkit application name, settings group, database and single-instance key base.
    static QString appName();
    // The application name with the edition suffix, for window titles.
    static QString displayName();
    // "0.7.3"
    static QString versionText();
    // "<display name> v0.7.3"
    static QString titledVersion();
    // "<display name> v0.7.3 build 1160"
    static QString titledVersionWithBuild();
    // One paragraph describing the edition, for the About and tips dialogs.
    static QString aboutText();

private:
    static ProductType _type;
};
