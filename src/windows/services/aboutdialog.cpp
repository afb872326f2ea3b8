#include "aboutdialog.h"
#include "ui_aboutdialog.h"

#include "dialoggeometry.h"
#include "webaddresses.h"
#include "mzlog.h"
#include "productinfo.h"
#include "inputhelpers.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QSysInfo>
#include <QTextCursor>
#ifdef Q_OS_WIN
#include <QCoreApplication>
#include <QDir>
#include <windows.h>
#endif

namespace {
// The site and the forum are named only when an administrator has set their addresses.
QString makerInformation() {
    QString text = QStringLiteral("Разработчик: MzSoftware");
    const QUrl site = WebAddresses::site();
    if (!site.isEmpty())
        text += QStringLiteral("\nСайт: ") + site.toString();
    if (!WebAddresses::forum().isEmpty())
        text += QStringLiteral("\nВопросы и предложения принимаются на форуме поддержки (меню «Поддержка»).");
    return text;
}
} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent), ui(new Ui::AboutDialog) {
    ui->setupUi(this);
    ui->progNameLabel_3->setText(makerInformation());
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("О программе"));

    QFile notes(QStringLiteral(":/whatsnew.txt"));
    if (notes.open(QIODevice::ReadOnly))
        ui->plainTextEdit->setPlainText(QString::fromUtf8(notes.readAll()));
    ui->plainTextEdit->setReadOnly(true);

    ui->imgLabel->setPixmap(QPixmap(QStringLiteral(":/icons/banner3.png")));
    ui->progNameLabel->setText(nameLine());
    ui->progNameLabel_4->setText(ProductTypeInfo::aboutText());
    connect(ui->pushButtonAboutQt, &QPushButton::clicked, qApp, &QApplication::aboutQt);

    QFont font = ui->progNameLabel_3->font();
    font.setPixelSize(10);
    ui->progNameLabel_3->setFont(font);
    DialogGeometry::restore(this);

    // Release notes are read from their first line, whatever the restored size.
    ui->plainTextEdit->moveCursor(QTextCursor::Start);
    ui->plainTextEdit->ensureCursorVisible();
    ui->plainTextEdit->verticalScrollBar()->setValue(0);
}

AboutDialog::~AboutDialog() {
    DialogGeometry::save(this);
}

QString AboutDialog::nameLine() {
    QString line = QStringLiteral("%1 build %2 %3 running on %4")
                       .arg(ProductTypeInfo::titledVersion())
                       .arg(ProductTypeInfo::buildNumber)
                       .arg(QSysInfo::buildCpuArchitecture(), QSysInfo::currentCpuArchitecture());
    const QString library = reportLibraryVersion();
    if (!library.isEmpty())
        line += QStringLiteral("\n\nMzReportLib v") + library;
    return line;
}

QString AboutDialog::reportLibraryVersion() {
#ifdef Q_OS_WIN
    const QString path =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + QStringLiteral("/MzReportLib.dll"));
    const auto* name = reinterpret_cast<const wchar_t*>(path.utf16());
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(name, &handle);
    if (size == 0)
        return QString();
    QByteArray data(int(size), '\0');
    if (!GetFileVersionInfoW(name, 0, size, data.data()))
        return QString();
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info) {
        MZ_LOG() << "error in VerQueryValue";
        return QStringLiteral("?");
    }
    return QStringLiteral("%1.%2").arg(HIWORD(info->dwFileVersionMS)).arg(LOWORD(info->dwFileVersionMS));
#else
    // The report engine is linked into the program here; there is no library file of its own.
    return QString();
#endif
}

void AboutDialog::on_pushButtonClose_clicked() {
    close();
}
