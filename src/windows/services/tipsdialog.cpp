#include "tipsdialog.h"
#include "appkeys.h"
#include "ui_tipsdialog.h"

#include "mzlog.h"
#include "productinfo.h"
#include "settingsregistry.h"

#include <QFile>
#include <QRandomGenerator>

namespace {
// Far more than any tips text; a damaged file must not fill the memory.
const qint64 maxTipsSize = 4 * 1024 * 1024;
const QString tipSeparator = QStringLiteral("**");
} // namespace

TipsDialog::TipsDialog(QWidget* parent, const QString& tipsFile) : QDialog(parent), ui(new Ui::TipsDialog) {
    ui->setupUi(this);
    ui->checkBox->setChecked(SettingsRegistry::instance()->value(Keys::showTipsOnStartup).toBool());
    setWindowFlags(windowFlags() | Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("Совет дня"));
    ui->textEdit->setReadOnly(true);
    ui->imgLabel->setPixmap(QPixmap(QStringLiteral(":/icons/tips_logo.png")));
    ui->progNameLabel->setText(ProductTypeInfo::titledVersionWithBuild());

    QFile file(tipsFile);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.read(maxTipsSize));
    else
        MZ_LOG() << "cant open tips" << tipsFile;
    _tips = parseTips(text);
    _index = int(QRandomGenerator::global()->bounded(quint32(_tips.size())));
    showNextTip();
}

TipsDialog::~TipsDialog() {
    SettingsRegistry::instance()->setValue(Keys::showTipsOnStartup, ui->checkBox->isChecked());
}

QStringList TipsDialog::parseTips(const QString& text) {
    QStringList tips = text.split(tipSeparator, Qt::SkipEmptyParts);
    for (QString& tip : tips) {
        // The separators stand on lines of their own, also in files saved with CR LF.
        if (tip.startsWith(QLatin1String("\r\n")))
            tip.remove(0, 2);
        else if (tip.startsWith(QLatin1Char('\n')))
            tip.remove(0, 1);
        while (!tip.isEmpty() && tip.back().isSpace())
            tip.chop(1);
    }
    // A piece of nothing but line breaks is no tip either.
    tips.removeAll(QString());
    if (tips.isEmpty())
        tips << QStringLiteral("Ни одного совета не найдено =(");
    return tips;
}

void TipsDialog::showNextTip() {
    if (_tips.isEmpty())
        return;
    _index = (_index + 1) % _tips.size();
    ui->textEdit->setText(_tips.at(_index));
}

void TipsDialog::on_pushButtonNext_clicked() {
    showNextTip();
}

void TipsDialog::on_pushButtonClose_clicked() {
    close();
}
