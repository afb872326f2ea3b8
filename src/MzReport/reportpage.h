#pragma once

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
class QJsonObject;
class QPainter;
class QPrintPreviewDialog;
class QPrinter;

// One template (paper, backgrounds, sides, fields placed in millimetres) together with the data of
// one print request (variables and table models). Sides form one vertical strip: side n shows the
// band that starts n page heights below the top of side 0.
class ReportPage : public QObject {
    Q_OBJECT

public:
    explicit ReportPage(QObject* parent = nullptr);

    // Texts of the print prompts; the engine asks the same when it prints many documents.
    static QString backgroundQuestionText();
    static QString nextSheetPromptText();
    ~ReportPage() override;

    // Template file. load() and save() tell the user of a failure in a message box; the
    // loadFile()/saveFile() variants return the error text instead (empty on success).
    bool load(const QString& path);
    bool save(const QString& path);
    QString loadFile(const QString& path);
    QString saveFile(const QString& path);
    void fromJson(const QJsonObject& object);
    void toJson(QJsonObject& object) const;

    // Fields, in painting order. The page owns them: added fields become its children.
    const QList<AbstractField*>& fields() const { return _fields; }
    void addField(AbstractField* field);
    // Hands the field back to the caller (no parent, no page).
    AbstractField* takeField(AbstractField* field);
    void clearFields();
    // How many fields of a kind share a per-page budget. On a page of more fields than any form
    // has, every field counts, so that fields asking at every paint do not take quadratic time.
    int fieldsSharing(int type) const;

    int orientation() const { return _orientation; }
    void setOrientation(int orientation);
    int pageSize() const { return _pageSize; }
    void setPageSize(int pageSize);
    int pagesCount() const { return _pagesCount; }
    void setPagesCount(int count) { _pagesCount = count; }
    QFont defaultFont() const { return _defaultFont; }
    void setDefaultFont(const QFont& font) { _defaultFont = font; }
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
    bool printBackgroundImage() const { return _printBackgroundImage; }
    void setPrintBackgroundImage(bool on) { _printBackgroundImage = on; }

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
    // Prints the given sides as one job on `printer`, one printer page each, without any question.
    // False when the job failed, a PDF file included that was not written completely.
    bool paintSides(QPrinter* printer, const QList<int>& sides);
    // Why the finished job's output is not usable: a PDF file that is missing, not a regular file
    // or cut short. Empty when it is fine or not a file.
    static QString outputError(const QPrinter* printer);
    // Lays every field out and tells whether a table has rows that fit in none of its parts.
    bool tablesOverflow();

    // Prints on printer(), one job per side. pageIndex < 0: every side from side 0, asking about
    // the background first and prompting to turn or change the sheet between sides; otherwise
    // only that side, without those prompts. backgroundMode > 0 switches the backgrounds on, < 0
    // off, 0 keeps the template's choice. With `preview` each side is shown in a modal preview
    // first. Returns once the sequence has ended: true when every requested side was printed or
    // previewed, false when the user stopped it, the side does not exist or a job failed.
    bool print(bool fillData, int backgroundMode, bool preview, int pageIndex = -1);
    // One step of the side sequence: the current side, then (pageIndex < 0) the following ones.
    void printNextPage(bool fillData, bool preview, int pageIndex);
    // A print sequence runs (its previews and prompts are open); deleteLater() waits for its end.
    bool isPrinting() const { return _printing; }
    // The user declined to print cut tables; no further side is printed.
    bool isCancelled() const { return _cancelled; }
    QPrintPreviewDialog* previewDialog() const;

public slots:
    // Paints the current side onto `printer` as one job; also answers a preview's paint request.
    void paintPage(QPrinter* printer);

signals:
    void dataUpdated();
    // A side's job is complete (for a PDF printer: the file is written). For observers only.
    void sideJobFinished(int side);

protected:
    bool event(QEvent* event) override;

private:
    void applyPrinterLayout();
    bool beginJob(QPrinter* printer, QPainter& painter);
    // Ends the painter and checks the job's output; false (logged) when it failed.
    bool endJob(QPrinter* printer, QPainter& painter);
    bool setBackgroundFromFile(const QString& path, int index);
    void readBackgrounds(const QJsonObject& object);
    void readFields(const QJsonObject& object);
    void forgetField(QObject* field);
    void showPreview(bool fillData, int pageIndex);
    bool askAboutCutTables();

    QList<AbstractField*> _fields;
    bool _fillData = false;
    bool _cancelled = false;
    int _orientation = 1;
    // The two backgrounds. A background read from a file is kept as its bytes and decoded when it
    // is first needed: printing without the blank, the usual case, never pays for the picture.
    struct Background {
        QPixmap pixmap;
        QByteArray base64;
        const char* format = nullptr;
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
    QPointer<QPrintPreviewDialog> _preview;
    bool _printing = false;
    bool _stopped = false;
    bool _jobFailed = false;
    bool _deleteWhenDone = false;
};
