#pragma once

// The blank forms the program prints, by the numbers stored with a template and in the settings.
// Kept apart from the report list so that the windows that only name a form need nothing else.
struct ReportTypes {
    enum ReportType {
        CertificateAny = 701,
        AppendixAny = 702,
        CertificateProfession = 703,
        CertificateProfessionExcellent = 704,
        CertificatePosition = 705,
        CertificatePositionExcellent = 706,
        AppendixProfession = 707,
        AppendixPosition = 708,
    };
};
