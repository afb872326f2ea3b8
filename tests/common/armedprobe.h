#pragma once

#include "abstracteditdialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QtTest>

// True once an edit dialog watches its fields for changes, which it starts on a timer after it
// opens: then a second, identical watch of one of its fields is refused as a duplicate. The probe
// connection is dropped again at once, so the dialog is left as it was.
inline bool isArmed(AbstractEditDialog* dialog) {
    const auto watched = [dialog](const auto* field, auto signal) {
        const QMetaObject::Connection probe =
            QObject::connect(field, signal, dialog, &AbstractEditDialog::setEdited, Qt::UniqueConnection);
        if (!probe)
            return true;
        QObject::disconnect(probe);
        return false;
    };
    for (const QLineEdit* field : dialog->findChildren<QLineEdit*>())
        if (watched(field, &QLineEdit::textEdited))
            return true;
    for (const QCheckBox* field : dialog->findChildren<QCheckBox*>())
        if (watched(field, &QCheckBox::stateChanged))
            return true;
    for (const QPlainTextEdit* field : dialog->findChildren<QPlainTextEdit*>())
        if (watched(field, &QPlainTextEdit::textChanged))
            return true;
    return false;
}

// The same wait for helpers that return a value: the running test fails when the dialog never arms.
inline void waitUntilArmed(AbstractEditDialog* dialog) {
    QTRY_VERIFY(isArmed(dialog));
}
