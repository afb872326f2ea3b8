#pragma once

#include "printercalibration.h"

#include <QAbstractItemModel>
#include <QFont>
#include <QList>
#include <QMap>
#include <QMarginsF>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QSet>
#include <QVariant>
#include <memory>

class AbstractField;
class TextField;
class QJsonObject;
class QPainter;
class QPrinter;

// One template (paper, backgrounds, sides, fields placed in millimetres) together with the data of
// one print request (variables and table models). Sides form one vertical strip: side n shows the
// band that starts n page heights below the top of side 0.
class ReportPage : public QObject {
    Q_OBJECT
    // The settings of the template, so that an observer or an undo step reads and writes them by the
    // name pageChanged() gives.
    Q_PROPERTY(int orientation READ orientation WRITE setOrientation)
    Q_PROPERTY(int pageSize READ pageSize WRITE setPageSize)
    Q_PROPERTY(int pagesCount READ pagesCount WRITE setPagesCount)
    Q_PROPERTY(QFont defaultFont READ defaultFont WRITE setDefaultFont)
    Q_PROPERTY(bool printBackgroundImage READ printBackgroundImage WRITE setPrintBackgroundImage)
    Q_PROPERTY(QPixmap backgroundImage READ backgroundImage WRITE setBackgroundImage)
    Q_PROPERTY(QPixmap backgroundImage2 READ backgroundImage2 WRITE setBackgroundImage2)

public:
    explicit ReportPage(QObject* parent = nullptr);
    ~ReportPage() override;

    // Template file. False, with the reason in `error`, when it cannot be read or written; the
    // window that asked shows the reason under the title below.
    bool load(const QString& path, QString* error = nullptr);
    bool save(const QString& path, QString* error = nullptr);
    static QString loadFailedTitle();
    static QString saveFailedTitle();
    // Valid JSON whose root is no object (an array, a number) holds no template.
    static QString notATemplateText();
    // The template's JSON object, so that one file read serves many pages (fromJson()).
    static bool readFile(const QString& path, QJsonObject* object, QString* error = nullptr);
    void fromJson(const QJsonObject& object);
    void toJson(QJsonObject& object) const;

    // Fields, in painting order. The page owns them: added fields become its children.
    const QList<AbstractField*>& fields() const { return _fields; }
    // A field of a kind (AbstractField::Type; a text field for anything else), with its defaults.
    static AbstractField* newField(int type);
    void addField(AbstractField* field) { insertField(_fields.size(), field); }
    // Puts the field at `index` of the painting order (clamped); fieldAdded() tells observers.
    void insertField(int index, AbstractField* field);
    // Hands the field back to the caller (no parent, no page); fieldRemoved() tells observers.
    AbstractField* takeField(AbstractField* field);
    int indexOf(const AbstractField* field) const { return _fields.indexOf(const_cast<AbstractField*>(field)); }
    void clearFields();
    // How many fields of a kind share a per-page budget. On a page of more fields than any form
    // has, every field counts, so that fields asking at every paint do not take quadratic time.
    int fieldsSharing(int type) const;

    int orientation() const { return _orientation; }
    void setOrientation(int orientation);
    int pageSize() const { return _pageSize; }
    void setPageSize(int pageSize);
    int pagesCount() const { return _pagesCount; }
    void setPagesCount(int count);
    QFont defaultFont() const { return _defaultFont; }
    void setDefaultFont(const QFont& font);
    QMarginsF margins() const { return _margins; }

    QPixmap backgroundImage() const { return background(0); }
    QPixmap backgroundImage2() const { return background(1); }
    void setBackgroundImage(const QPixmap& pixmap) { setBackground(0, pixmap); }
    void setBackgroundImage2(const QPixmap& pixmap) { setBackground(1, pixmap); }
    // Scaled to the printer's paper at the printer's resolution; false (background kept) when the
    // file is no image.
    bool setBackgroundImageFromFile(const QString& path);
    bool setBackgroundImage2FromFile(const QString& path);
    void clearBackgroundImages();
    // Takes the pictures of `other`, a page read from the same template, decoded once: the pages
    // of one template filled for many documents then paint one picture, which a PDF file holds
    // once instead of once per page. Observers are told nothing, as when a template is read.
    void shareBackgrounds(const ReportPage& other);
    bool printBackgroundImage() const { return _printBackgroundImage; }
    void setPrintBackgroundImage(bool on);
    // Whether the backgrounds are painted: the template's choice, unless a running print session
    // was asked to print them or to leave them out (that never changes the template).
    bool printsBackground() const { return _backgroundOverride ? _backgroundOverride > 0 : _printBackgroundImage; }

    // Names are stored trimmed and lower-cased.
    // `markup`: the value is rich text on purpose (a line break built by the print data) and is
    // inserted as it is; every other value is inserted as plain text.
    void setVariable(const QString& name, const QVariant& value, bool markup = false);
    QVariant variable(const QString& name) const;
    QMap<QString, QVariant> variables() const { return _variables; }
    virtual bool setModel(const QString& name, QAbstractItemModel* model, bool takeOwnership);
    QAbstractItemModel* model(const QString& name) const;
    QStringList modelNames() const { return _models.keys(); }
    // Fills $V{name} placeholders; an unknown name is added to the variables with an empty value.
    // For rich text (the default) a value's "<", "&" and quotes are escaped, so that record data
    // prints as typed and never as markup; a QR code takes the values as they are.
    QString substituteVariables(const QString& text, bool richText = true);

    // Fields show filled texts (printing) or raw templates (the designer).
    bool fillWithData() const { return _fillData; }
    void setFillWithData(bool on) { _fillData = on; }
    int currentPage() const { return _currentPage; }
    void setCurrentPage(int side) { _currentPage = side; }

    // Millimetres per inch of the conversion the templates were drawn with (not 25.4).
    static constexpr double mmPerInch = 25.399931;

    QPrinter* printer() const { return _printer.get(); }
    double mmToPx() const;
    static double mmToPx(int dotsPerInch);

    // Paints side `side` into `target` (the side's device rectangle) at `scale` pixels per mm;
    // `bandTop` is the device-pixel top of that side within the strip of all sides.
    void paintSide(QPainter& painter, int side, const QRect& target, double bandTop, double scale);
    // Paints side `side` over the whole paper of `printer`'s current page, at its resolution and
    // corrected by `calibration`.
    void paintSideOn(QPainter& painter, const QPrinter& printer, int side,
                     const PrinterCalibration& calibration = PrinterCalibration());
    // Prints the given sides as one job on `printer`, one printer page each, without any question,
    // corrected by `calibration`. False when the job failed, a PDF file included that was not
    // written completely.
    bool paintSides(QPrinter* printer, const QList<int>& sides,
                    const PrinterCalibration& calibration = PrinterCalibration());
    // Paints the current side onto `printer` as one job, then tells sideJobFinished().
    bool paintPage(QPrinter* printer, const PrinterCalibration& calibration = PrinterCalibration());
    // Why the finished job's output is not usable: a PDF file that is missing, not a regular file
    // or cut short. Empty when it is fine or not a file.
    static QString outputError(const QPrinter* printer);
    // Lays every field out and tells whether a table has rows that fit in none of its parts.
    bool tablesOverflow();
    // A text field whose shown text does not fit into it, and the text that would not be printed.
    struct CutText {
        const TextField* field = nullptr;
        QString lost;
    };
    // The text fields that do not hold their text when painted at `scale` device pixels per mm
    // (the page's printer's when not above 0), in painting order.
    QList<CutText> cutTexts(double scale = -1.0);

    // A print session runs on this page (its previews and prompts are open); deleteLater() waits
    // for its end.
    bool isPrinting() const { return _printing; }

signals:
    void dataUpdated();
    // A setting of the page changed, named by its getter ("orientation", "pageSize", "pagesCount",
    // "defaultFont", "printBackgroundImage", "backgroundImage", "backgroundImage2"); sent once per
    // setter call that changes a value, never while a template is read.
    void pageChanged(const QByteArray& property);
    // Any field of the page changed: AbstractField::fieldChanged() passed on, so that one
    // connection observes every field.
    void fieldChanged(AbstractField* field, const QByteArray& property);
    // A field joined or left the page through insertField()/takeField(); reading a template tells
    // nothing.
    void fieldAdded(AbstractField* field);
    void fieldRemoved(AbstractField* field);
    // A side's job is complete (for a PDF printer: the file is written). For observers only.
    void sideJobFinished(int side);

protected:
    bool event(QEvent* event) override;

private:
    friend class PrintSession;
    // `backgroundMode`: > 0 paints the backgrounds while printing, < 0 leaves them out, 0 as the
    // template says.
    void beginPrinting(int backgroundMode);
    // Carries out a deleteLater() that came while printing.
    void endPrinting();
    void applyPrinterLayout();
    // The template file written whole or not at all; the reason when it was not.
    QString writeFile(const QString& path) const;
    bool beginJob(QPrinter* printer, QPainter& painter);
    // Ends the painter and checks the job's output; false (logged) when it failed.
    bool endJob(QPrinter* printer, QPainter& painter);
    bool setBackgroundFromFile(const QString& path, int index);
    void readBackgrounds(const QJsonObject& object);
    void readFields(const QJsonObject& object);
    void forgetField(QObject* field);
    void adopt(int index, AbstractField* field);

    QList<AbstractField*> _fields;
    bool _fillData = false;
    int _orientation = 1;
    // The two backgrounds. A background read from a file is kept as its bytes and decoded when it
    // is first needed: printing without the blank, the usual case, never pays for the picture.
    struct Background {
        QPixmap pixmap;
        QByteArray base64;
        const char* format = nullptr;
        // The JPEG bytes the picture was read from, written back as they are while the picture
        // stays: saving an unchanged template must not wear the scan down by encoding it again.
        QByteArray jpeg;
    };
    const QPixmap& background(int index) const;
    void setBackground(int index, const QPixmap& pixmap);
    mutable Background _backgrounds[2];
    bool _printBackgroundImage = false;
    QFont _defaultFont;
    int _pagesCount = 1;
    QMap<QString, QVariant> _variables;
    QSet<QString> _markupVariables;
    QMap<QString, QPointer<QAbstractItemModel>> _models;
    std::unique_ptr<QPrinter> _printer;
    int _pageSize = 0;
    QMarginsF _margins;
    int _currentPage = 0;
    bool _printing = false;
    int _backgroundOverride = 0;
    bool _deleteWhenDone = false;
};
